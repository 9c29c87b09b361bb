// The two classic BPF programs the ICMP helper hands the kernel, built as data
// by pure functions so that tests can run them over packets and system calls:
// the raw socket's filter, which lets through only the answers that can be
// this helper's, and the seccomp list of the calls (and their arguments) its
// service loop makes.
#pragma once

#include <linux/filter.h>

#include <cstdint>
#include <vector>

#include "IcmpHelperRequest.h"

namespace quillon {

// The ICMP types a probe sends and may get back in one family; no other
// message is ever an answer (the kernel's own type filter passes every type
// from 32 up).
struct TIcmpHelperTypes {
  std::uint8_t Echo, EchoReply, Unreachable, TimeExceeded;
  bool IsError(std::uint8_t type) const { return type == Unreachable || type == TimeExceeded; }
};
constexpr TIcmpHelperTypes IcmpHelperTypes(TIcmpHelperFamily family) {
  return family == TIcmpHelperFamily::Ip6 ? TIcmpHelperTypes{128, 129, 1, 3}
                                          : TIcmpHelperTypes{8, 0, 3, 11};
}

// The socket filter (SO_ATTACH_FILTER) of a helper whose echo requests carry
// identifier: it passes an echo reply carrying it, and an unreachable or
// time-exceeded message whose quoted echo request carries it; it drops all
// else, so that no helper wakes or queues for ICMP that is not its own. On an
// IPv4 raw socket the program sees the IP header first; on an ICMPv6 one, the
// ICMPv6 message alone.
std::vector<sock_filter> IcmpHelperAnswerFilter(TIcmpHelperFamily family, std::uint16_t identifier);

// Whether this architecture has a seccomp list; the helper refuses to serve
// on one that has none.
bool IcmpHelperHasSystemCallList();

// The seccomp program (SECCOMP_MODE_FILTER) of the service loop of a helper
// of family whose raw socket is socket: each call it makes, allowed only with
// the arguments it passes (reads from standard input, writes to standard
// output and error, the socket's own calls, and on it only the TTL option of
// the family; no executable memory); every other call ends the process.
// Empty where IcmpHelperHasSystemCallList() is false.
std::vector<sock_filter> IcmpHelperSystemCallFilter(TIcmpHelperFamily family, int socket);

}  // namespace quillon
