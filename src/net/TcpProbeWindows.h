// The TCP probe on Windows: a connect that the routers' ICMP errors fail.
#pragma once

#include <memory>
#include <string>

#include "net/ProbeMethod.h"

namespace quillon {

std::unique_ptr<TIdProbe> CreateTcpProbeWindows(TIdIPVersion version);
// Why this system cannot probe by TCP, naming the method that works; empty
// when it can.
std::string TcpProbeRefusalWindows(TIdIPVersion version);

}  // namespace quillon
