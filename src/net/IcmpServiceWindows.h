// The system's ICMP service (IcmpSendEcho2), which needs no administrator
// rights, behind a socket handle of its own: each echo request sent on it is
// handed to the service on a thread of its own, and each answer (echo reply,
// time exceeded, unreachable) is rebuilt into the datagram a raw socket would
// have received: IPv4 through IcmpSendEcho2, IPv6 (a rebuilt IPv6 header and
// the ICMPv6 message) through Icmp6SendEcho2. Requests that time out leave nothing to read; a local
// failure is reported by the next read, as a socket reports a pending error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "net/IcmpDatagram.h"
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
template <typename TAddressBytes>
struct TIcmpServiceAnswerOf {
  bool Returned = true;
  std::uint32_t Status = 0;
  TAddressBytes From{};
  std::uint8_t Ttl = 0;                // IPv6: the service does not report it
  std::span<const std::uint8_t> Data;  // of an echo reply
};
using TIcmpServiceAnswer = TIcmpServiceAnswerOf<TIdIPv4Bytes>;
using TIcmp6ServiceAnswer = TIcmpServiceAnswerOf<TIdIPv6Bytes>;

// What a raw socket would have read for the answer to request (an ICMP or
// ICMPv6 echo message sent to destination): the datagram, empty when nothing
// would have come, or with error set the socket error a read reports instead.
std::vector<std::uint8_t> RebuildIcmpServiceAnswer(const TIcmpServiceAnswer& answer,
                                                   std::span<const std::uint8_t> request,
                                                   const TIdIPv4Bytes& destination,
                                                   std::int32_t& error);
std::vector<std::uint8_t> RebuildIcmpServiceAnswer(const TIcmp6ServiceAnswer& answer,
                                                   std::span<const std::uint8_t> request,
                                                   const TIdIPv6Bytes& destination,
                                                   std::int32_t& error);

// The reply record of Icmp6SendEcho2 (ICMPV6_ECHO_REPLY), which MinGW's headers
// lack: the sender as IPV6_ADDRESS_EX, which the system's headers pack to bytes
// (MinGW's declares it unpacked, which moves every field after the port), then
// the status and the round-trip time. The echoed data follows the record.
#pragma pack(push, 1)
struct TIcmp6AddressEx {
  std::uint16_t Port;
  std::uint32_t FlowInfo;
  std::uint16_t Address[8];  // the address's bytes in network order
  std::uint32_t ScopeId;
};
#pragma pack(pop)
struct TIcmp6EchoReply {
  TIcmp6AddressEx Address;
  std::uint32_t Status;
  std::uint32_t RoundTripTime;
};
static_assert(sizeof(TIcmp6AddressEx) == 26 && offsetof(TIcmp6AddressEx, FlowInfo) == 2 &&
              offsetof(TIcmp6AddressEx, Address) == 6 && offsetof(TIcmp6AddressEx, ScopeId) == 22);
static_assert(sizeof(TIcmp6EchoReply) == 36 && offsetof(TIcmp6EchoReply, Status) == 28 &&
              offsetof(TIcmp6EchoReply, RoundTripTime) == 32);

// Reads the first record of Icmp6SendEcho2's reply buffer into answer, with as
// much of the echoed data (dataSize bytes were sent) as the buffer holds.
// False when the buffer is too short for a record.
bool DecodeIcmp6Reply(std::span<const std::uint8_t> buffer, std::size_t dataSize,
                      TIcmp6ServiceAnswer& answer);

// True for handles that this service gave out.
bool IsIcmpServiceHandle(TIdStackSocketHandle socket);

// A new channel of the family, or Id_INVALID_SOCKET when the service is not
// there, or has no IPv6 (its calls fail as the system documents it for a
// system without IPv6; IcmpServiceLacksIPv6 then says so).
TIdStackSocketHandle OpenIcmpService(bool ipv6 = false);
bool IcmpServiceLacksIPv6();
int CloseIcmpService(TIdStackSocketHandle socket);
// The TTL (IPv6: the hop limit) of later requests.
void SetIcmpServiceTtl(TIdStackSocketHandle socket, std::uint8_t ttl);
// How long the service waits for an answer when its caller waits
// replyTimeoutMs (negative: without limit): a margin longer, within a minute.
std::uint32_t IcmpServiceWaitMs(std::int32_t replyTimeoutMs);
// The caller's reply time-out for later requests, and the service's wait that
// follows from it (0 for a handle that is not the service's).
void SetIcmpServiceReplyTimeout(TIdStackSocketHandle socket, std::int32_t replyTimeoutMs);
std::uint32_t IcmpServiceWaitOf(TIdStackSocketHandle socket);
// Hands the echo request (an ICMP echo message; ICMPv6 on an IPv6 channel, with
// the scope id of a zone) to the service; the byte count, or -1 with the socket
// error in error.
int SendIcmpServiceEcho(TIdStackSocketHandle socket, std::span<const std::uint8_t> request,
                        std::uint32_t destination, std::int32_t& error);
int SendIcmpServiceEcho(TIdStackSocketHandle socket, std::span<const std::uint8_t> request,
                        const TIdIPv6Bytes& destination, std::uint32_t scopeId,
                        std::int32_t& error);
// Waits up to timeoutMs (-1: no limit) for a datagram to read; true when one is there.
bool WaitIcmpService(TIdStackSocketHandle socket, int timeoutMs);
// The oldest datagram, cut to the buffer; -1 with WSAEWOULDBLOCK when none.
int ReceiveIcmpService(TIdStackSocketHandle socket, std::span<std::uint8_t> out,
                       std::int32_t& error);

}  // namespace quillon
