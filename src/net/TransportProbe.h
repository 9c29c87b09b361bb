// UDP and TCP probes over the socket stack: one socket per probe, so no answer
// can be taken for another probe's. The stack opens the socket with the TTL
// and error reports on (SockOpenProbe) and reads what answered
// (SockProbeAnswer); a simulated stack serves tests the same way.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "net/ProbeMethod.h"

namespace quillon {

// pmUdp or pmTcp.
std::unique_ptr<TIdProbe> CreateTransportProbe(TProbeMethod method, TIdIPVersion version);

// The record of a probe that reached its target: from the target, as an echo
// reply of the family counts.
TReplyStatus TargetReachedReply(const std::string& target);

// The result of an ICMP error (the family's type and code) about a probe to
// target, sent from sender (its address text): true with reply filled for time
// exceeded (rskTtlExpired), a port unreachable from the target (the target
// reached) and any other unreachable (rskUnreachable with its code); false for
// another message. However the system reported the error, this judges it.
bool JudgeProbeError(bool ipv6, std::uint8_t type, std::uint8_t code, const std::string& sender,
                     bool fromTarget, const std::string& target, TReplyStatus& reply);

}  // namespace quillon
