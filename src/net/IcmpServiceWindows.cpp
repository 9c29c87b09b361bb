#include "net/IcmpServiceWindows.h"

// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>
// clang-format on

#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "net/IcmpDatagram.h"
#include "net/IdStackConsts.h"

namespace quillon {
namespace {

// Longer than any reply time-out of the program: the caller's own wait decides.
constexpr DWORD kServiceTimeoutMs = 10000;
constexpr std::size_t kLargestDatagram = 65535;
// Winsock's handles are multiples of four; odd numbers never collide with them.
constexpr TIdStackSocketHandle kFirstHandle = 0x40000001;

class TChannel {
 public:
  explicit TChannel(HANDLE icmp)
      : icmp_(icmp), readable_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~TChannel() {
    IcmpCloseHandle(icmp_);
    if (readable_ != nullptr) CloseHandle(readable_);
  }
  TChannel(const TChannel&) = delete;
  TChannel& operator=(const TChannel&) = delete;

  HANDLE Icmp() const { return icmp_; }
  HANDLE Readable() const { return readable_; }
  std::uint8_t Ttl() const { return ttl_.load(); }
  void SetTtl(std::uint8_t ttl) { ttl_.store(ttl); }

  void Deliver(std::vector<std::uint8_t> datagram) {
    std::lock_guard lock(lock_);
    ready_.push_back(std::move(datagram));
    SetEvent(readable_);
  }
  bool Take(std::vector<std::uint8_t>& datagram) {
    std::lock_guard lock(lock_);
    if (ready_.empty()) return false;
    datagram = std::move(ready_.front());
    ready_.pop_front();
    if (ready_.empty()) ResetEvent(readable_);
    return true;
  }

 private:
  HANDLE icmp_;
  HANDLE readable_;
  std::atomic<std::uint8_t> ttl_{128};
  std::mutex lock_;
  std::deque<std::vector<std::uint8_t>> ready_;
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

// The ICMP type and code of an answer the service reports by status; false for
// a status that stands for no answer at all (a time-out, a local failure).
bool ErrorTypeOf(ULONG status, std::uint8_t& type, std::uint8_t& code) {
  switch (status) {
    case IP_TTL_EXPIRED_TRANSIT:
      type = Id_ICMP_TIMXCEED, code = 0;
      return true;
    case IP_TTL_EXPIRED_REASSEM:
      type = Id_ICMP_TIMXCEED, code = 1;
      return true;
    case IP_DEST_NET_UNREACHABLE:
      type = Id_ICMP_UNREACH, code = 0;
      return true;
    case IP_DEST_HOST_UNREACHABLE:
    case IP_DEST_UNREACHABLE:
      type = Id_ICMP_UNREACH, code = 1;
      return true;
    case IP_DEST_PROT_UNREACHABLE:
      type = Id_ICMP_UNREACH, code = 2;
      return true;
    case IP_DEST_PORT_UNREACHABLE:
      type = Id_ICMP_UNREACH, code = 3;
      return true;
    case IP_PACKET_TOO_BIG:
      type = Id_ICMP_UNREACH, code = 4;
      return true;
    default:
      return false;
  }
}

// The echo reply message for the request: our identifier and sequence number,
// the data that came back, and its checksum.
std::vector<std::uint8_t> EchoReplyMessage(std::span<const std::uint8_t> request,
                                           const ICMP_ECHO_REPLY& reply) {
  std::vector<std::uint8_t> message(Id_ICMP_HEADER_SIZE);
  std::memcpy(message.data() + 4, request.data() + 4, 4);  // identifier and sequence
  const auto* data = static_cast<const std::uint8_t*>(reply.Data);
  if (data != nullptr) message.insert(message.end(), data, data + reply.DataSize);
  const std::uint16_t checksum = InternetChecksum(message);
  message[2] = static_cast<std::uint8_t>(checksum >> 8);
  message[3] = static_cast<std::uint8_t>(checksum & 0xFF);
  return message;
}

void RunEcho(const std::shared_ptr<TChannel>& channel, std::vector<std::uint8_t> request,
             std::uint32_t destination, std::uint8_t ttl) {
  const std::span<const std::uint8_t> payload(request.data() + Id_ICMP_HEADER_SIZE,
                                              request.size() - Id_ICMP_HEADER_SIZE);
  std::vector<std::uint8_t> replies(sizeof(ICMP_ECHO_REPLY) + payload.size() + 8 + 1024);
  IP_OPTION_INFORMATION options{};
  options.Ttl = ttl;
  const DWORD count = IcmpSendEcho2(channel->Icmp(), nullptr, nullptr, nullptr, destination,
                                    const_cast<std::uint8_t*>(payload.data()),
                                    static_cast<WORD>(payload.size()), &options, replies.data(),
                                    static_cast<DWORD>(replies.size()), kServiceTimeoutMs);
  if (count == 0) return;  // no answer in time, or a local failure: nothing to read
  ICMP_ECHO_REPLY reply{};
  std::memcpy(&reply, replies.data(), sizeof reply);

  std::vector<std::uint8_t> datagram(kLargestDatagram);
  int length = 0;
  std::uint8_t type = 0;
  std::uint8_t code = 0;
  if (reply.Status == IP_SUCCESS) {
    length = BuildReplyDatagram(EchoReplyMessage(request, reply), BytesOf(reply.Address),
                                reply.Options.Ttl, datagram);
  } else if (ErrorTypeOf(reply.Status, type, code)) {
    TIcmpErrorReport report;
    report.FromIcmp = true;
    report.Type = type;
    report.Code = code;
    report.Offender = BytesOf(reply.Address);
    report.OriginalDestination = BytesOf(destination);
    report.Ttl = reply.Options.Ttl;
    length = BuildErrorDatagram(report, request, datagram);
  } else {
    return;
  }
  datagram.resize(static_cast<std::size_t>(length));
  channel->Deliver(std::move(datagram));
}

}  // namespace

bool IsIcmpServiceHandle(TIdStackSocketHandle socket) {
  return Find(socket) != nullptr;
}

TIdStackSocketHandle OpenIcmpService() {
  const HANDLE icmp = IcmpCreateFile();
  if (icmp == INVALID_HANDLE_VALUE) return Id_INVALID_SOCKET;
  auto channel = std::make_shared<TChannel>(icmp);
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

int SendIcmpServiceEcho(TIdStackSocketHandle socket, std::span<const std::uint8_t> request,
                        std::uint32_t destination, std::int32_t& error) {
  auto channel = Find(socket);
  if (channel == nullptr) {
    error = 10038;  // not a socket
    return Id_SOCKET_ERROR;
  }
  // The service sends echo requests only, and takes their data alone.
  if (request.size() < static_cast<std::size_t>(Id_ICMP_HEADER_SIZE) ||
      request.size() > 0xFFFF + static_cast<std::size_t>(Id_ICMP_HEADER_SIZE) ||
      request[0] != Id_ICMP_ECHO) {
    error = Id_WSAEINVAL;
    return Id_SOCKET_ERROR;
  }
  try {
    std::thread(RunEcho, channel, std::vector<std::uint8_t>(request.begin(), request.end()),
                destination, channel->Ttl())
        .detach();
  } catch (const std::system_error&) {
    error = 10055;  // no buffer space
    return Id_SOCKET_ERROR;
  }
  return static_cast<int>(request.size());
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
  if (channel == nullptr || !channel->Take(datagram)) {
    error = channel == nullptr ? 10038 : Id_WSAEWOULDBLOCK;
    return Id_SOCKET_ERROR;
  }
  const std::size_t count = std::min(datagram.size(), out.size());
  std::memcpy(out.data(), datagram.data(), count);
  return static_cast<int>(count);
}

}  // namespace quillon
