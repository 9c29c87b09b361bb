// The system's ICMP service (IcmpSendEcho2), which needs no administrator
// rights, behind a socket handle of its own: each echo request sent on it is
// handed to the service on a thread of its own, and each answer (echo reply,
// time exceeded, unreachable) is rebuilt into the IPv4 datagram a raw socket
// would have received. Requests that time out leave nothing to read; a local
// failure is reported by the next read, as a socket reports a pending error.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "net/IdStack.h"

namespace quillon {

// What the service's status of one request stands for.
enum class TIcmpServiceOutcome : std::uint8_t {
  Reply,       // the echo reply
  IcmpError,   // an ICMP error message from the network: rebuilt as a datagram
  NoAnswer,    // nothing came in time: nothing to read
  LocalError,  // the request failed here: the socket error is read instead
};

// The meaning of a status for one address family: the ICMP (or ICMPv6) type and
// code of an error message, or the socket error of a local failure.
struct TIcmpServiceMeaning {
  TIcmpServiceOutcome Outcome = TIcmpServiceOutcome::LocalError;
  std::uint8_t Type = 0;
  std::uint8_t Code = 0;
  std::int32_t SocketError = 0;
};

// One status of ICMP_ECHO_REPLY (IP_*), or a system error that GetLastError
// reports when the call itself fails, with its meaning for IPv4 and for IPv6:
// several IP_* names share one number and mean different messages per family.
struct TIcmpServiceStatus {
  std::uint32_t Status = 0;
  const char* Name = "";
  TIcmpServiceMeaning V4;
  TIcmpServiceMeaning V6;
};

// Every status the service documents, and the system errors its call may fail with.
std::span<const TIcmpServiceStatus> IcmpServiceStatuses();
// The meaning of a status; a status outside the table is a local failure.
TIcmpServiceMeaning IcmpServiceMeaning(std::uint32_t status, bool ipv6);

// The service's answer to one request: its first reply record, or when the
// call failed as a whole (Returned false) the status GetLastError gave.
struct TIcmpServiceAnswer {
  bool Returned = true;
  std::uint32_t Status = 0;
  TIdIPv4Bytes From{};
  std::uint8_t Ttl = 0;
  std::span<const std::uint8_t> Data;  // of an echo reply
};

// What a raw socket would have read for the answer to request (an ICMP echo
// message sent to destination): the datagram, empty when nothing would have
// come, or with error set the socket error a read reports instead.
std::vector<std::uint8_t> RebuildIcmpServiceAnswer(const TIcmpServiceAnswer& answer,
                                                   std::span<const std::uint8_t> request,
                                                   const TIdIPv4Bytes& destination,
                                                   std::int32_t& error);

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
