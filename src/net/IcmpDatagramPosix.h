// Where the system refuses raw sockets, an ICMP datagram socket carries the
// echo exchange instead. It hands over the bare ICMP message of a reply, and
// time-exceeded and unreachable messages only as error-queue reports, which
// these functions read; IcmpDatagram.h rebuilds the raw socket's datagram.
#pragma once

#include <sys/socket.h>

#include <cstdint>

#include "net/IcmpDatagram.h"

namespace quillon {

// Reads an error-queue message: its extended error (and offender), its TTL,
// and the original destination from its address. False when it carries no
// extended error.
bool ReadErrorQueueMessage(const msghdr& message, TIcmpErrorReport& report);

// The TTL that the control data reports (IP_TTL), or the fallback.
std::uint8_t TtlFromControl(const msghdr& message, std::uint8_t fallback);

// The same for an ICMPv6 datagram socket (IPV6_RECVERR, SO_EE_ORIGIN_ICMP6,
// the hop limit from IPV6_HOPLIMIT).
bool ReadErrorQueueMessageV6(const msghdr& message, TIcmp6ErrorReport& report);

// The hop limit that the control data reports (IPV6_HOPLIMIT), or the fallback.
std::uint8_t HopLimitFromControl(const msghdr& message, std::uint8_t fallback);

}  // namespace quillon
