// The TCP probe on Windows: a connect that the routers' ICMP errors fail
// (TCP_FAIL_CONNECT_ON_ICMP_ERROR, Windows 10 2004 and later), which then names
// the router (TCP_ICMP_ERROR_INFO). The probe itself is the transport probe of
// every platform; the Windows stack opens its socket and reads its answer here.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "net/IdStackConsts.h"
#include "net/ProbeMethod.h"

namespace quillon {

std::unique_ptr<TIdProbe> CreateTcpProbeWindows(TIdIPVersion version);
// Why this system cannot probe by TCP, naming the method that works; empty
// when it can. A system without the two options refuses them.
std::string TcpProbeRefusalWindows(TIdIPVersion version);

// A non-blocking TCP socket of the family (AF_INET, AF_INET6) whose SYN goes
// with the TTL, whose connect fails on an ICMP error, and which is reset when
// it closes, so that a target that answered keeps no half-open connection.
// Id_INVALID_SOCKET with the socket error in error when any of it is refused.
TIdStackSocketHandle OpenTcpProbeSocket(int family, int ttl, std::int32_t& error);
// The answer to the connect of socket to target (text, and its address bytes):
// 1 with reply filled once the connect ended, 0 while it is under way, -1 with
// the socket error in error for a failure of this host's own.
int ReadTcpProbeAnswer(TIdStackSocketHandle socket, const std::string& target,
                       std::span<const std::uint8_t> targetBytes, TReplyStatus& reply,
                       std::int32_t& error);

}  // namespace quillon
