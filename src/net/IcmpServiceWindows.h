// The system's ICMP service (IcmpSendEcho2), which needs no administrator
// rights, behind a socket handle of its own: each echo request sent on it is
// handed to the service on a thread of its own, and each answer (echo reply,
// time exceeded, unreachable) is rebuilt into the IPv4 datagram a raw socket
// would have received. Requests that time out leave nothing to read.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "net/IdStack.h"

namespace quillon {

// True for handles that this service gave out.
bool IsIcmpServiceHandle(TIdStackSocketHandle socket);

// A new channel, or Id_INVALID_SOCKET when the service is not there.
TIdStackSocketHandle OpenIcmpService();
int CloseIcmpService(TIdStackSocketHandle socket);
// The TTL of later requests.
void SetIcmpServiceTtl(TIdStackSocketHandle socket, std::uint8_t ttl);
// Hands the echo request (an ICMP echo message) to the service; the byte count,
// or -1 with the socket error in error.
int SendIcmpServiceEcho(TIdStackSocketHandle socket, std::span<const std::uint8_t> request,
                        std::uint32_t destination, std::int32_t& error);
// Waits up to timeoutMs (-1: no limit) for a datagram to read; true when one is there.
bool WaitIcmpService(TIdStackSocketHandle socket, int timeoutMs);
// The oldest datagram, cut to the buffer; -1 with WSAEWOULDBLOCK when none.
int ReceiveIcmpService(TIdStackSocketHandle socket, std::span<std::uint8_t> out,
                       std::int32_t& error);

}  // namespace quillon
