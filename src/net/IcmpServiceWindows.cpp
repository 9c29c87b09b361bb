#include "net/IcmpServiceWindows.h"

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>
// clang-format on

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

#include "net/IcmpDatagram.h"
#include "net/IdStackConsts.h"

namespace quillon {
namespace {

// The service waits this much beyond the caller's own reply time-out, so that
// the caller's wait decides, and no longer: a silent request holds its thread
// and the service's handle while the service waits.
constexpr std::uint32_t kServiceMarginMs = 1000;
// For a caller that waits without limit.
constexpr std::uint32_t kLongestServiceWaitMs = 60000;
constexpr std::int32_t kDefaultReplyTimeoutMs = 5000;
// Winsock's handles are multiples of four; odd numbers never collide with them.
constexpr TIdStackSocketHandle kFirstHandle = 0x40000001;

class TChannel {
 public:
  TChannel(HANDLE icmp, bool v6)
      : icmp_(icmp), v6_(v6), readable_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~TChannel() {
    IcmpCloseHandle(icmp_);
    if (readable_ != nullptr) CloseHandle(readable_);
  }
  TChannel(const TChannel&) = delete;
  TChannel& operator=(const TChannel&) = delete;

  HANDLE Icmp() const { return icmp_; }
  bool V6() const { return v6_; }
  HANDLE Readable() const { return readable_; }
  std::uint8_t Ttl() const { return ttl_.load(); }
  void SetTtl(std::uint8_t ttl) { ttl_.store(ttl); }
  std::uint32_t WaitMs() const { return waitMs_.load(); }
  void SetWaitMs(std::uint32_t waitMs) { waitMs_.store(waitMs); }

  // A datagram to read, or with an empty one the socket error the read reports.
  void Deliver(std::vector<std::uint8_t> datagram, std::int32_t error) {
    std::lock_guard lock(lock_);
    ready_.push_back({std::move(datagram), error});
    SetEvent(readable_);
  }
  bool Take(std::vector<std::uint8_t>& datagram, std::int32_t& error) {
    std::lock_guard lock(lock_);
    if (ready_.empty()) return false;
    datagram = std::move(ready_.front().first);
    error = ready_.front().second;
    ready_.pop_front();
    if (ready_.empty()) ResetEvent(readable_);
    return true;
  }

 private:
  HANDLE icmp_;
  bool v6_;
  HANDLE readable_;
  std::atomic<std::uint8_t> ttl_{128};
  std::atomic<std::uint32_t> waitMs_{IcmpServiceWaitMs(kDefaultReplyTimeoutMs)};
  std::mutex lock_;
  std::deque<std::pair<std::vector<std::uint8_t>, std::int32_t>> ready_;
};

std::mutex gLock;
std::map<TIdStackSocketHandle, std::shared_ptr<TChannel>> gChannels;  // guarded by gLock
TIdStackSocketHandle gNextHandle = kFirstHandle;                      // guarded by gLock

std::shared_ptr<TChannel> Find(TIdStackSocketHandle socket) {
  std::lock_guard lock(gLock);
  const auto it = gChannels.find(socket);
  return it == gChannels.end() ? nullptr : it->second;
}

TIdIPv4Bytes BytesOf(std::uint32_t networkOrder) {
  TIdIPv4Bytes bytes{};
  std::memcpy(bytes.data(), &networkOrder, bytes.size());
  return bytes;
}

using enum TIcmpServiceOutcome;

constexpr TIcmpServiceMeaning Answer() {
  return {Reply, 0, 0, 0};
}
constexpr TIcmpServiceMeaning Nothing() {
  return {NoAnswer, 0, 0, 0};
}
constexpr TIcmpServiceMeaning Message(std::uint8_t type, std::uint8_t code) {
  return {IcmpError, type, code, 0};
}
constexpr TIcmpServiceMeaning Local(std::int32_t socketError) {
  return {LocalError, 0, 0, socketError};
}

// ICMPv6 types (RFC 4443).
constexpr std::uint8_t kV6Unreachable = 1;
constexpr std::uint8_t kV6TooBig = 2;
constexpr std::uint8_t kV6TimeExceeded = 3;
constexpr std::uint8_t kV6ParameterProblem = 4;
// ICMPv4 types that the socket layer has no name for.
constexpr std::uint8_t kV4SourceQuench = 4;
constexpr std::uint8_t kV4ParameterProblem = 12;

// The IPv6 names of the shared numbers (IP_DEST_NO_ROUTE is IP_DEST_NET_UNREACHABLE,
// IP_HOP_LIMIT_EXCEEDED is IP_TTL_EXPIRED_TRANSIT, ...) are the V6 column of the
// IPv4 name's row. Statuses that cannot come up for a family get the nearest message.
constexpr TIcmpServiceStatus kStatuses[] = {
    {IP_SUCCESS, "IP_SUCCESS", Answer(), Answer()},
    {IP_BUF_TOO_SMALL, "IP_BUF_TOO_SMALL", Local(WSAEMSGSIZE), Local(WSAEMSGSIZE)},
    {IP_DEST_NET_UNREACHABLE, "IP_DEST_NET_UNREACHABLE / IP_DEST_NO_ROUTE",
     Message(Id_ICMP_UNREACH, 0), Message(kV6Unreachable, 0)},
    {IP_DEST_HOST_UNREACHABLE, "IP_DEST_HOST_UNREACHABLE / IP_DEST_ADDR_UNREACHABLE",
     Message(Id_ICMP_UNREACH, 1), Message(kV6Unreachable, 3)},
    {IP_DEST_PROT_UNREACHABLE, "IP_DEST_PROT_UNREACHABLE / IP_DEST_PROHIBITED",
     Message(Id_ICMP_UNREACH, 2), Message(kV6Unreachable, 1)},
    {IP_DEST_PORT_UNREACHABLE, "IP_DEST_PORT_UNREACHABLE", Message(Id_ICMP_UNREACH, 3),
     Message(kV6Unreachable, 4)},
    {IP_NO_RESOURCES, "IP_NO_RESOURCES", Local(WSAENOBUFS), Local(WSAENOBUFS)},
    {IP_BAD_OPTION, "IP_BAD_OPTION", Local(WSAEINVAL), Local(WSAEINVAL)},
    {IP_HW_ERROR, "IP_HW_ERROR", Local(WSAENETDOWN), Local(WSAENETDOWN)},
    {IP_PACKET_TOO_BIG, "IP_PACKET_TOO_BIG", Message(Id_ICMP_UNREACH, 4), Message(kV6TooBig, 0)},
    {IP_REQ_TIMED_OUT, "IP_REQ_TIMED_OUT", Nothing(), Nothing()},
    {IP_BAD_REQ, "IP_BAD_REQ", Local(WSAEINVAL), Local(WSAEINVAL)},
    {IP_BAD_ROUTE, "IP_BAD_ROUTE", Local(WSAENETUNREACH), Local(WSAENETUNREACH)},
    {IP_TTL_EXPIRED_TRANSIT, "IP_TTL_EXPIRED_TRANSIT / IP_HOP_LIMIT_EXCEEDED",
     Message(Id_ICMP_TIMXCEED, 0), Message(kV6TimeExceeded, 0)},
    {IP_TTL_EXPIRED_REASSEM, "IP_TTL_EXPIRED_REASSEM / IP_REASSEMBLY_TIME_EXCEEDED",
     Message(Id_ICMP_TIMXCEED, 1), Message(kV6TimeExceeded, 1)},
    {IP_PARAM_PROBLEM, "IP_PARAM_PROBLEM / IP_PARAMETER_PROBLEM", Message(kV4ParameterProblem, 0),
     Message(kV6ParameterProblem, 0)},
    {IP_SOURCE_QUENCH, "IP_SOURCE_QUENCH", Message(kV4SourceQuench, 0), Nothing()},
    {IP_OPTION_TOO_BIG, "IP_OPTION_TOO_BIG", Local(WSAEMSGSIZE), Local(WSAEMSGSIZE)},
    {IP_BAD_DESTINATION, "IP_BAD_DESTINATION", Local(WSAEADDRNOTAVAIL), Local(WSAEADDRNOTAVAIL)},
    {IP_DEST_UNREACHABLE, "IP_DEST_UNREACHABLE", Message(Id_ICMP_UNREACH, 1),
     Message(kV6Unreachable, 3)},
    {IP_TIME_EXCEEDED, "IP_TIME_EXCEEDED", Message(Id_ICMP_TIMXCEED, 0),
     Message(kV6TimeExceeded, 0)},
    {IP_BAD_HEADER, "IP_BAD_HEADER", Message(kV4ParameterProblem, 0),
     Message(kV6ParameterProblem, 0)},
    {IP_UNRECOGNIZED_NEXT_HEADER, "IP_UNRECOGNIZED_NEXT_HEADER", Message(Id_ICMP_UNREACH, 2),
     Message(kV6ParameterProblem, 1)},
    // An ICMP error the service does not name: no type to rebuild it with.
    {IP_ICMP_ERROR, "IP_ICMP_ERROR", Local(WSAEHOSTUNREACH), Local(WSAEHOSTUNREACH)},
    {IP_DEST_SCOPE_MISMATCH, "IP_DEST_SCOPE_MISMATCH", Message(Id_ICMP_UNREACH, 1),
     Message(kV6Unreachable, 2)},
    {IP_GENERAL_FAILURE, "IP_GENERAL_FAILURE", Local(WSAENETDOWN), Local(WSAENETDOWN)},
    {IP_PENDING, "IP_PENDING", Nothing(), Nothing()},
    // What GetLastError may hold instead when the call fails as a whole.
    {ERROR_ACCESS_DENIED, "ERROR_ACCESS_DENIED", Local(WSAEACCES), Local(WSAEACCES)},
    {ERROR_INVALID_HANDLE, "ERROR_INVALID_HANDLE", Local(WSAENOTSOCK), Local(WSAENOTSOCK)},
    {ERROR_NOT_ENOUGH_MEMORY, "ERROR_NOT_ENOUGH_MEMORY", Local(WSAENOBUFS), Local(WSAENOBUFS)},
    {ERROR_INVALID_PARAMETER, "ERROR_INVALID_PARAMETER", Local(WSAEINVAL), Local(WSAEINVAL)},
    {ERROR_INSUFFICIENT_BUFFER, "ERROR_INSUFFICIENT_BUFFER", Local(WSAEMSGSIZE),
     Local(WSAEMSGSIZE)},
    {ERROR_NETWORK_UNREACHABLE, "ERROR_NETWORK_UNREACHABLE", Local(WSAENETUNREACH),
     Local(WSAENETUNREACH)},
    {ERROR_HOST_UNREACHABLE, "ERROR_HOST_UNREACHABLE", Local(WSAEHOSTUNREACH),
     Local(WSAEHOSTUNREACH)},
    {ERROR_NO_SYSTEM_RESOURCES, "ERROR_NO_SYSTEM_RESOURCES", Local(WSAENOBUFS), Local(WSAENOBUFS)},
    // A system without IPv6 (or where the call is a stub): for IPv6 the family
    // itself is missing, which is what the "no ICMPv6" message tells.
    {ERROR_NOT_SUPPORTED, "ERROR_NOT_SUPPORTED", Local(WSAEOPNOTSUPP), Local(WSAEAFNOSUPPORT)},
    {ERROR_CALL_NOT_IMPLEMENTED, "ERROR_CALL_NOT_IMPLEMENTED", Local(WSAEOPNOTSUPP),
     Local(WSAEAFNOSUPPORT)},
};

// One dispatch on the status table's outcome for both families.
template <typename TAddressBytes>
std::vector<std::uint8_t> Rebuild(const TIcmpServiceAnswerOf<TAddressBytes>& answer,
                                  std::span<const std::uint8_t> request,
                                  const TAddressBytes& destination, std::int32_t& error) {
  constexpr bool v6 = std::is_same_v<TAddressBytes, TIdIPv6Bytes>;
  error = 0;
  // A failed call that names no status at all failed here.
  TIcmpServiceMeaning meaning = answer.Returned || answer.Status != IP_SUCCESS
                                    ? IcmpServiceMeaning(answer.Status, v6)
                                    : Local(WSASYSCALLFAILURE);
  // Without a reply record there is no sender to show the message as from.
  if (!answer.Returned && meaning.Outcome != NoAnswer) {
    if (meaning.Outcome != LocalError) meaning = Local(WSAEHOSTUNREACH);
  }
  switch (meaning.Outcome) {
    case Reply:
    case IcmpError: {
      TEchoAnswerOf<TAddressBytes> echo;
      echo.Reply = meaning.Outcome == Reply;
      echo.Type = meaning.Type;
      echo.Code = meaning.Code;
      echo.From = answer.From;
      echo.Ttl = answer.Ttl;
      echo.Data = answer.Data;
      return RebuildEchoAnswer(echo, request, destination);
    }
    case NoAnswer:
      break;
    case LocalError:
      error = meaning.SocketError;
      break;
  }
  return {};
}

// The request's data, and a reply buffer with room for a record of the
// family, the data and an ICMP error's 8 bytes.
struct TEchoBuffers {
  std::span<const std::uint8_t> Payload;
  std::vector<std::uint8_t> Replies;
  TEchoBuffers(std::span<const std::uint8_t> request, std::size_t record)
      : Payload(request.subspan(Id_ICMP_HEADER_SIZE)),
        Replies(record + Payload.size() + 8 + 1024) {}
};

template <typename TAddressBytes>
void Deliver(TChannel& channel, const TIcmpServiceAnswerOf<TAddressBytes>& answer,
             std::span<const std::uint8_t> request, const TAddressBytes& destination) {
  std::int32_t error = 0;
  std::vector<std::uint8_t> datagram = Rebuild(answer, request, destination, error);
  if (!datagram.empty() || error != 0) channel.Deliver(std::move(datagram), error);
}

void RunEcho(const std::shared_ptr<TChannel>& channel, std::vector<std::uint8_t> request,
             std::uint32_t destination, std::uint8_t ttl, DWORD waitMs) {
  TEchoBuffers buffers(request, sizeof(ICMP_ECHO_REPLY));
  std::vector<std::uint8_t>& replies = buffers.Replies;
  IP_OPTION_INFORMATION options{};
  options.Ttl = ttl;
  const DWORD count = IcmpSendEcho2(channel->Icmp(), nullptr, nullptr, nullptr, destination,
                                    const_cast<std::uint8_t*>(buffers.Payload.data()),
                                    static_cast<WORD>(buffers.Payload.size()), &options,
                                    replies.data(), static_cast<DWORD>(replies.size()), waitMs);
  TIcmpServiceAnswer answer;
  if (count == 0) {
    // The failure is known from the thread's last error alone.
    answer.Returned = false;
    answer.Status = GetLastError();
  } else {
    ICMP_ECHO_REPLY reply{};
    std::memcpy(&reply, replies.data(), sizeof reply);
    answer.Status = reply.Status;
    answer.From = BytesOf(reply.Address);
    answer.Ttl = reply.Options.Ttl;
    const auto* data = static_cast<const std::uint8_t*>(reply.Data);
    const auto* end = replies.data() + replies.size();
    // The data lies in the buffer; a size that says otherwise is not trusted.
    if (data != nullptr && data >= replies.data() && data <= end &&
        reply.DataSize <= static_cast<std::size_t>(end - data)) {
      answer.Data = {data, reply.DataSize};
    }
  }
  Deliver(*channel, answer, request, BytesOf(destination));
}

void RunEcho6(const std::shared_ptr<TChannel>& channel, std::vector<std::uint8_t> request,
              TIdIPv6Bytes destination, std::uint32_t scopeId, std::uint8_t hopLimit,
              DWORD waitMs) {
  TEchoBuffers buffers(request, sizeof(TIcmp6EchoReply));
  sockaddr_in6 source{};  // unspecified: the system picks ours
  source.sin6_family = AF_INET6;
  sockaddr_in6 target{};
  target.sin6_family = AF_INET6;
  std::memcpy(&target.sin6_addr, destination.data(), destination.size());
  target.sin6_scope_id = scopeId;
  IP_OPTION_INFORMATION options{};
  options.Ttl = hopLimit;
  const DWORD count = Icmp6SendEcho2(
      channel->Icmp(), nullptr, nullptr, nullptr, &source, &target,
      const_cast<std::uint8_t*>(buffers.Payload.data()), static_cast<WORD>(buffers.Payload.size()),
      &options, buffers.Replies.data(), static_cast<DWORD>(buffers.Replies.size()), waitMs);
  TIcmp6ServiceAnswer answer;
  if (count == 0 || !DecodeIcmp6Reply(buffers.Replies, buffers.Payload.size(), answer)) {
    answer = TIcmp6ServiceAnswer{};
    answer.Returned = false;
    answer.Status = count == 0 ? GetLastError() : IP_SUCCESS;
  }
  Deliver(*channel, answer, request, destination);
}

// Set once the service was found without IPv6: the status it failed with.
std::atomic<std::uint32_t> gV6Missing{0};

// Whether the service carries IPv6, asked once per process: on a system
// without IPv6 its handle opens and only its requests fail, which would make a
// trace of silent hops. One echo to the loopback address tells.
bool ServiceCarriesV6(HANDLE icmp) {
  static std::once_flag once;
  std::call_once(once, [icmp] {
    sockaddr_in6 source{};
    source.sin6_family = AF_INET6;
    sockaddr_in6 loopback{};
    loopback.sin6_family = AF_INET6;
    loopback.sin6_addr.s6_addr[15] = 1;
    std::array<std::uint8_t, 8> data{};
    std::vector<std::uint8_t> replies(sizeof(TIcmp6EchoReply) + data.size() + 8 + 1024);
    IP_OPTION_INFORMATION options{};
    options.Ttl = 64;
    if (Icmp6SendEcho2(icmp, nullptr, nullptr, nullptr, &source, &loopback, data.data(),
                       static_cast<WORD>(data.size()), &options, replies.data(),
                       static_cast<DWORD>(replies.size()), kServiceMarginMs) == 0) {
      const DWORD failure = GetLastError();
      if (IcmpServiceMeaning(failure, true).SocketError == WSAEAFNOSUPPORT) gV6Missing = failure;
    }
  });
  return gV6Missing.load() == 0;
}

// Checks the request against the channel's family and runs the echo on a
// thread of its own; the byte count, or -1 with the socket error.
template <typename TRun>
int StartEcho(TIdStackSocketHandle socket, std::span<const std::uint8_t> request, bool v6,
              std::int32_t& error, TRun run) {
  auto channel = Find(socket);
  if (channel == nullptr) {
    error = WSAENOTSOCK;
    return Id_SOCKET_ERROR;
  }
  if (channel->V6() != v6) {
    error = WSAEAFNOSUPPORT;
    return Id_SOCKET_ERROR;
  }
  // The service sends echo requests only, and takes their data alone.
  if (request.size() < static_cast<std::size_t>(Id_ICMP_HEADER_SIZE) ||
      request.size() > 0xFFFF + static_cast<std::size_t>(Id_ICMP_HEADER_SIZE) ||
      request[0] != (v6 ? Id_ICMPV6_ECHO : Id_ICMP_ECHO)) {
    error = Id_WSAEINVAL;
    return Id_SOCKET_ERROR;
  }
  try {
    std::thread(
        [run, channel](std::vector<std::uint8_t> echo, std::uint8_t ttl, DWORD waitMs) {
          // An exception leaving a thread would end the program: the request
          // fails here instead, as a socket's would for want of buffers.
          try {
            run(channel, std::move(echo), ttl, waitMs);
          } catch (...) {
            try {
              channel->Deliver({}, WSAENOBUFS);
            } catch (...) {
              // Not even that could be kept: the read just finds nothing.
            }
          }
        },
        std::vector<std::uint8_t>(request.begin(), request.end()), channel->Ttl(),
        static_cast<DWORD>(channel->WaitMs()))
        .detach();
  } catch (const std::exception&) {
    error = WSAENOBUFS;
    return Id_SOCKET_ERROR;
  }
  return static_cast<int>(request.size());
}

}  // namespace

std::span<const TIcmpServiceStatus> IcmpServiceStatuses() {
  return kStatuses;
}

TIcmpServiceMeaning IcmpServiceMeaning(std::uint32_t status, bool ipv6) {
  for (const TIcmpServiceStatus& known : kStatuses) {
    if (known.Status == status) return ipv6 ? known.V6 : known.V4;
  }
  return Local(WSASYSCALLFAILURE);
}

std::vector<std::uint8_t> RebuildIcmpServiceAnswer(const TIcmpServiceAnswer& answer,
                                                   std::span<const std::uint8_t> request,
                                                   const TIdIPv4Bytes& destination,
                                                   std::int32_t& error) {
  return Rebuild(answer, request, destination, error);
}

std::vector<std::uint8_t> RebuildIcmpServiceAnswer(const TIcmp6ServiceAnswer& answer,
                                                   std::span<const std::uint8_t> request,
                                                   const TIdIPv6Bytes& destination,
                                                   std::int32_t& error) {
  return Rebuild(answer, request, destination, error);
}

bool DecodeIcmp6Reply(std::span<const std::uint8_t> buffer, std::size_t dataSize,
                      TIcmp6ServiceAnswer& answer) {
  if (buffer.size() < sizeof(TIcmp6EchoReply)) return false;
  TIcmp6EchoReply reply{};
  std::memcpy(&reply, buffer.data(), sizeof reply);
  answer.Returned = true;
  answer.Status = reply.Status;
  std::memcpy(answer.From.data(), reply.Address.Address, answer.From.size());
  // The service reports no hop limit: the one a socket reports when it has none.
  answer.Ttl = Id_DEFAULT_REPLY_TTL;
  const std::span<const std::uint8_t> after = buffer.subspan(sizeof reply);
  answer.Data = after.first(std::min(dataSize, after.size()));
  return true;
}

bool IcmpServiceLacksIPv6() {
  return gV6Missing.load() != 0;
}

bool IsIcmpServiceHandle(TIdStackSocketHandle socket) {
  return Find(socket) != nullptr;
}

TIdStackSocketHandle OpenIcmpService(bool ipv6) {
  const HANDLE icmp = ipv6 ? Icmp6CreateFile() : IcmpCreateFile();
  if (icmp == INVALID_HANDLE_VALUE || icmp == nullptr) return Id_INVALID_SOCKET;
  if (ipv6 && !ServiceCarriesV6(icmp)) {
    IcmpCloseHandle(icmp);
    return Id_INVALID_SOCKET;
  }
  auto channel = std::make_shared<TChannel>(icmp, ipv6);
  if (channel->Readable() == nullptr) return Id_INVALID_SOCKET;
  std::lock_guard lock(gLock);
  const TIdStackSocketHandle socket = gNextHandle;
  gNextHandle = gNextHandle >= 0x7FFFFFF0 ? kFirstHandle : gNextHandle + 2;
  gChannels.emplace(socket, std::move(channel));
  return socket;
}

int CloseIcmpService(TIdStackSocketHandle socket) {
  // Requests under way keep the channel until they end.
  std::lock_guard lock(gLock);
  return gChannels.erase(socket) == 1 ? 0 : Id_SOCKET_ERROR;
}

void SetIcmpServiceTtl(TIdStackSocketHandle socket, std::uint8_t ttl) {
  if (auto channel = Find(socket)) channel->SetTtl(ttl);
}

std::uint32_t IcmpServiceWaitMs(std::int32_t replyTimeoutMs) {
  if (replyTimeoutMs < 0) return kLongestServiceWaitMs;
  return std::min(static_cast<std::uint32_t>(replyTimeoutMs) + kServiceMarginMs,
                  kLongestServiceWaitMs);
}

void SetIcmpServiceReplyTimeout(TIdStackSocketHandle socket, std::int32_t replyTimeoutMs) {
  if (auto channel = Find(socket)) channel->SetWaitMs(IcmpServiceWaitMs(replyTimeoutMs));
}

std::uint32_t IcmpServiceWaitOf(TIdStackSocketHandle socket) {
  const auto channel = Find(socket);
  return channel != nullptr ? channel->WaitMs() : 0;
}

int SendIcmpServiceEcho(TIdStackSocketHandle socket, std::span<const std::uint8_t> request,
                        std::uint32_t destination, std::int32_t& error) {
  return StartEcho(socket, request, false, error,
                   [destination](const std::shared_ptr<TChannel>& channel,
                                 std::vector<std::uint8_t> echo, std::uint8_t ttl, DWORD waitMs) {
                     RunEcho(channel, std::move(echo), destination, ttl, waitMs);
                   });
}

int SendIcmpServiceEcho(TIdStackSocketHandle socket, std::span<const std::uint8_t> request,
                        const TIdIPv6Bytes& destination, std::uint32_t scopeId,
                        std::int32_t& error) {
  return StartEcho(
      socket, request, true, error,
      [destination, scopeId](const std::shared_ptr<TChannel>& channel,
                             std::vector<std::uint8_t> echo, std::uint8_t hopLimit, DWORD waitMs) {
        RunEcho6(channel, std::move(echo), destination, scopeId, hopLimit, waitMs);
      });
}

bool WaitIcmpService(TIdStackSocketHandle socket, int timeoutMs) {
  auto channel = Find(socket);
  if (channel == nullptr) return false;
  const DWORD wait = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
  return WaitForSingleObject(channel->Readable(), wait) == WAIT_OBJECT_0;
}

int ReceiveIcmpService(TIdStackSocketHandle socket, std::span<std::uint8_t> out,
                       std::int32_t& error) {
  auto channel = Find(socket);
  std::vector<std::uint8_t> datagram;
  std::int32_t failure = 0;
  if (channel == nullptr || !channel->Take(datagram, failure)) {
    error = channel == nullptr ? WSAENOTSOCK : Id_WSAEWOULDBLOCK;
    return Id_SOCKET_ERROR;
  }
  if (failure != 0) {
    error = failure;
    return Id_SOCKET_ERROR;
  }
  const std::size_t count = std::min(datagram.size(), out.size());
  std::memcpy(out.data(), datagram.data(), count);
  return static_cast<int>(count);
}

}  // namespace quillon
