// What a UDP or TCP probe's socket tells of its probe: a record of its error
// queue (the ICMP error, its sender in SO_EE_OFFENDER, the arrival TTL or hop
// limit in a control message), or the outcome of a TCP connect. Pure
// functions, the same for both families.
#pragma once

#include <sys/socket.h>

#include <string>

#include "net/IdIcmpClient.h"

namespace quillon {

// Reads one error-queue record (the msghdr recvmsg filled with MSG_ERRQUEUE)
// about a probe to target: true with reply filled when the record answers it.
// Time exceeded is rskTtlExpired from its sender; a port unreachable from the
// target itself is the target reached (rskEchoReply from the target, the
// family's echo reply type); any other unreachable is rskUnreachable with its
// ICMP type and code. A local error, another ICMP type or a record that does
// not name its sender answers nothing. ReplyTtl is the arrival TTL or hop
// limit where the record carries it, else 0.
bool DecodeProbeError(const msghdr& record, const std::string& target, TReplyStatus& reply);

// A finished TCP connect to target: 0 (a SYN-ACK) and ECONNREFUSED (a reset)
// are the target reached; any other errno answers nothing.
bool DecodeConnectOutcome(int error, const std::string& target, TReplyStatus& reply);

}  // namespace quillon
