// UDP and TCP probes over the socket stack: one socket per probe, so no answer
// can be taken for another probe's. The stack opens the socket with the TTL
// and error reports on (SockOpenProbe) and reads what answered
// (SockProbeAnswer); a simulated stack serves tests the same way.
#pragma once

#include <memory>

#include "net/ProbeMethod.h"

namespace quillon {

// pmUdp or pmTcp.
std::unique_ptr<TIdProbe> CreateTransportProbe(TProbeMethod method, TIdIPVersion version);

// The record of a probe that reached its target: from the target, as an echo
// reply of the family counts.
TReplyStatus TargetReachedReply(const std::string& target);

}  // namespace quillon
