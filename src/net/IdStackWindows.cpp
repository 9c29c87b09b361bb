#include "net/IdStackWindows.h"

#include "net/IcmpServiceWindows.h"
#include "net/IdException.h"
#include "net/IdResolverResult.h"
#include "net/IdWinSock2Windows.h"
// After winsock2.h, which they would otherwise pull in in the wrong order.
#include <mswsock.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "net/IcmpDatagram.h"
#include "net/TcpProbeWindows.h"

namespace quillon {

static_assert(Id_PF_INET4 == AF_INET && Id_SOCK_RAW == SOCK_RAW && Id_SOCK_DGRAM == SOCK_DGRAM &&
              Id_IPPROTO_IP == IPPROTO_IP && Id_IPPROTO_ICMP == IPPROTO_ICMP &&
              Id_IP_TTL == IP_TTL && Id_SD_Send == SD_SEND);
static_assert(Id_PF_INET6 == AF_INET6 && Id_IPPROTO_IPV6 == IPPROTO_IPV6 &&
              Id_IPPROTO_ICMPV6 == IPPROTO_ICMPV6 && Id_IPV6_UNICAST_HOPS == IPV6_UNICAST_HOPS);

using enum TWS2Function;

namespace {

constexpr std::uint16_t kSocketLibraryVersion = 0x0202;

// The calling thread's last socket error: the library's own code right after a
// failed call, or one of ours for a failure found before any call.
thread_local std::int32_t tLastSocketError = 0;

int FailWith(std::int32_t code) {
  tLastSocketError = code;
  return Id_SOCKET_ERROR;
}
int FailWithLibraryError() {
  return FailWith(WS2<wsGetLastError>()());
}

SOCKET Native(TIdStackSocketHandle socket) {
  // Winsock's handles fit 32 bits; -1 widens to INVALID_SOCKET.
  return static_cast<SOCKET>(static_cast<std::intptr_t>(socket));
}

std::atomic<TIcmpProbePath> gPathInUse{TIcmpProbePath::None};
std::atomic<std::int32_t> gV6Refusal{0};

// The raw ICMPv6 sockets open, whose reads are rebuilt into the IPv6 shape,
// each with its provider's WSARecvMsg where that reports hop limits.
std::mutex gRawV6Lock;
std::map<TIdStackSocketHandle, LPFN_WSARECVMSG> gRawV6;  // guarded by gRawV6Lock

bool IsRawV6(TIdStackSocketHandle socket, LPFN_WSARECVMSG& receive) {
  std::lock_guard lock(gRawV6Lock);
  const auto it = gRawV6.find(socket);
  if (it == gRawV6.end()) return false;
  receive = it->second;
  return true;
}

// The socket's WSARecvMsg, with the hop limit of each datagram asked for;
// nullptr where either is not to be had.
LPFN_WSARECVMSG HopLimitReceiver(SOCKET socket) {
  const DWORD on = 1;
  if (WS2<wsSetSockOpt>()(socket, IPPROTO_IPV6, IPV6_HOPLIMIT, reinterpret_cast<const char*>(&on),
                          sizeof on) != 0) {
    return nullptr;
  }
  GUID id = WSAID_WSARECVMSG;
  LPFN_WSARECVMSG receive = nullptr;
  DWORD size = 0;
  const int result = WS2<wsIoctl>()(socket, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id,
                                    &receive, sizeof receive, &size, nullptr, nullptr);
  return result == 0 ? receive : nullptr;
}

bool IsRawIcmp(int family, int type, int protocol) {
  return type == SOCK_RAW && ((family == AF_INET && protocol == IPPROTO_ICMP) ||
                              (family == AF_INET6 && protocol == IPPROTO_ICMPV6));
}

// if_nametoindex lives in the IP helper library, found by name as the socket
// library's functions are; 0 (no such interface) where it is not there.
unsigned IndexOfInterface(const char* name) {
  using TIfNameToIndex = ULONG WINAPI(PCSTR);
  static TIfNameToIndex* const lookup = [] {
    const HMODULE library = LoadLibraryA("IPHLPAPI.DLL");
    return library == nullptr ? nullptr
                              : reinterpret_cast<TIfNameToIndex*>(reinterpret_cast<void*>(
                                    GetProcAddress(library, "if_nametoindex")));
  }();
  return lookup != nullptr ? lookup(name) : 0;
}

// The socket address of an IPv6 address text, its zone as the scope id.
bool IPv6Target(const std::string& address, int port, sockaddr_in6& target, std::int32_t& error) {
  TIdIPv6Address parsed;
  if (!ParseIPv6Text(address, parsed)) {
    error = Id_WSAEINVAL;
    return false;
  }
  target = sockaddr_in6{};
  target.sin6_family = AF_INET6;
  target.sin6_port = WS2<wsHtons>()(static_cast<u_short>(port));
  std::memcpy(&target.sin6_addr, parsed.Bytes.data(), parsed.Bytes.size());
  std::uint32_t scope = 0;
  if (!ZoneToScopeId(parsed.Zone, &IndexOfInterface, scope)) {
    error = WSAEADDRNOTAVAIL;
    return false;
  }
  target.sin6_scope_id = scope;
  return true;
}

// The socket address of an address text of either family and a port; false,
// with the error, when the text names none.
bool TargetOf(TIdStack& stack, const std::string& address, int port, sockaddr_storage& target,
              int& length, std::int32_t& error) {
  if (IsIPv6Text(address)) {
    sockaddr_in6 v6{};
    if (!IPv6Target(address, port, v6, error)) return false;
    std::memcpy(&target, &v6, sizeof v6);
    length = sizeof v6;
    return true;
  }
  sockaddr_in v4{};
  v4.sin_family = AF_INET;
  v4.sin_port = WS2<wsHtons>()(static_cast<u_short>(port));
  v4.sin_addr.s_addr = stack.TextToAddr(address);
  std::memcpy(&target, &v4, sizeof v4);
  length = sizeof v4;
  return true;
}

TIdIPv6Bytes BytesOf(const in6_addr& address) {
  TIdIPv6Bytes bytes{};
  std::memcpy(bytes.data(), &address, bytes.size());
  return bytes;
}

std::size_t ListSize(const TIdSocketList* list) {
  return list != nullptr ? list->size() : 0;
}

bool HoldsServiceHandle(const TIdSocketList* list) {
  if (list == nullptr) return false;
  for (TIdStackSocketHandle handle : *list) {
    if (IsIcmpServiceHandle(handle)) return true;
  }
  return false;
}

TIdIPv4Bytes FirstAddress(const hostent* found) {
  TIdIPv4Bytes bytes{};
  std::memcpy(bytes.data(), found->h_addr_list[0], bytes.size());
  return bytes;
}

// A raw ICMPv6 socket delivers the message alone: WSARecvMsg (receive) with
// the hop limit, or without it recvfrom, then the rebuild.
int ReceiveRawIcmpV6(TIdStackSocketHandle socket, LPFN_WSARECVMSG receive, void* buffer, int length,
                     int flags) {
  std::vector<std::uint8_t> message(65535);
  sockaddr_in6 peer{};
  int peerLength = sizeof peer;
  std::uint8_t hopLimit = Id_DEFAULT_REPLY_TTL;
  int count = 0;
  if (receive != nullptr) {
    alignas(WSACMSGHDR) std::array<std::uint8_t, 256> control{};
    WSABUF data{static_cast<ULONG>(message.size()), reinterpret_cast<char*>(message.data())};
    WSAMSG header{};
    header.name = reinterpret_cast<LPSOCKADDR>(&peer);
    header.namelen = peerLength;
    header.lpBuffers = &data;
    header.dwBufferCount = 1;
    header.Control = {static_cast<ULONG>(control.size()), reinterpret_cast<char*>(control.data())};
    header.dwFlags = static_cast<DWORD>(flags);
    DWORD received = 0;
    if (receive(Native(socket), &header, &received, nullptr, nullptr) != 0) {
      return FailWithLibraryError();
    }
    count = static_cast<int>(received);
    peerLength = header.namelen;
    hopLimit = HopLimitOfControlData({control.data(), header.Control.len}, hopLimit);
  } else {
    count = WS2<wsRecvFrom>()(Native(socket), reinterpret_cast<char*>(message.data()),
                              static_cast<int>(message.size()), flags,
                              reinterpret_cast<sockaddr*>(&peer), &peerLength);
    if (count < 0) return FailWithLibraryError();
  }
  message.resize(static_cast<std::size_t>(count));
  return RebuildRawIcmpV6(
      message, {reinterpret_cast<const std::uint8_t*>(&peer), static_cast<std::size_t>(peerLength)},
      hopLimit, {static_cast<std::uint8_t*>(buffer), static_cast<std::size_t>(length)});
}

}  // namespace

TIdStackWindows::TIdStackWindows() {
  if (GSocketStarted.load(std::memory_order_acquire)) return;
  TWSAData data;
  if (StartSocketLibrary(kSocketLibraryVersion, &data) != 0) throw EIdStackInitializationFailed();
  GSocketStarted.store(true, std::memory_order_release);
}

int TIdStackWindows::SockClose(TIdStackSocketHandle socket) {
  if (IsIcmpServiceHandle(socket)) return CloseIcmpService(socket);
  {
    std::lock_guard lock(gRawV6Lock);
    gRawV6.erase(socket);
  }
  return WS2<wsCloseSocket>()(Native(socket)) == 0 ? 0 : FailWithLibraryError();
}

int TIdStackWindows::SockShutdown(TIdStackSocketHandle socket, int how) {
  if (IsIcmpServiceHandle(socket)) return 0;
  return WS2<wsShutdown>()(Native(socket), how) == 0 ? 0 : FailWithLibraryError();
}

TIdStackSocketHandle TIdStackWindows::SockOpen(int family, int type, int protocol) {
  const bool rawIcmp = IsRawIcmp(family, type, protocol);
  const bool v6 = family == AF_INET6;
  // The ICMP service first: with the firewall on, as it is by default, a raw
  // socket sees the target's echo reply but none of the routers' time-exceeded
  // messages. The service gets them, and needs no administrator.
  const bool rawFirst = GRawSocketsFirst.load();
  if (rawIcmp && !rawFirst) {
    const TIdStackSocketHandle service = OpenIcmpService(v6);
    if (service != Id_INVALID_SOCKET) {
      gPathInUse.store(TIcmpProbePath::IcmpService);
      if (v6) gV6Refusal.store(0);
      return service;
    }
  }
  const SOCKET socket = WS2<wsSocket>()(family, type, protocol);
  if (socket != INVALID_SOCKET) {
    if (rawIcmp) gPathInUse.store(TIcmpProbePath::RawSocket);
    const auto handle = static_cast<TIdStackSocketHandle>(socket);
    if (rawIcmp && v6) {
      gV6Refusal.store(0);
      const LPFN_WSARECVMSG receive = HopLimitReceiver(socket);
      std::lock_guard lock(gRawV6Lock);
      gRawV6[handle] = receive;
    }
    return handle;
  }
  const std::int32_t refusal = WS2<wsGetLastError>()();
  // A refusal for rights is no lack of ICMPv6, unless the service has none either.
  if (rawIcmp && v6) {
    gV6Refusal.store(refusal == Id_WSAEACCES && !IcmpServiceLacksIPv6() ? 0 : refusal);
  }
  if (!rawIcmp || !rawFirst || refusal != Id_WSAEACCES) return FailWith(refusal);
  // Raw sockets asked for, but this user may not have them.
  const TIdStackSocketHandle service = OpenIcmpService(v6);
  if (service == Id_INVALID_SOCKET) return FailWith(refusal);
  gPathInUse.store(TIcmpProbePath::IcmpService);
  return service;
}

int TIdStackWindows::SockSetOption(TIdStackSocketHandle socket, int level, int optionName,
                                   const void* value, int valueLength) {
  if (valueLength < 0 || (valueLength > 0 && value == nullptr)) return FailWith(Id_WSAEFAULT);
  if (IsIcmpServiceHandle(socket)) {
    if ((level == IPPROTO_IP && optionName == IP_TTL) ||
        (level == IPPROTO_IPV6 && optionName == IPV6_UNICAST_HOPS)) {
      int ttl = 0;
      if (valueLength < static_cast<int>(sizeof ttl)) return FailWith(Id_WSAEFAULT);
      std::memcpy(&ttl, value, sizeof ttl);
      if (ttl < 1 || ttl > 255) return FailWith(Id_WSAEINVAL);
      SetIcmpServiceTtl(socket, static_cast<std::uint8_t>(ttl));
    }
    return 0;
  }
  const int result = WS2<wsSetSockOpt>()(Native(socket), level, optionName,
                                         static_cast<const char*>(value), valueLength);
  return result == 0 ? 0 : FailWithLibraryError();
}

void TIdStackWindows::SockSetReplyTimeout(TIdStackSocketHandle socket, int timeoutMs) {
  if (IsIcmpServiceHandle(socket)) SetIcmpServiceReplyTimeout(socket, timeoutMs);
}

int TIdStackWindows::SockRecv(TIdStackSocketHandle socket, void* buffer, int length, int flags) {
  if (length < 0) return FailWith(Id_WSAEINVAL);
  if (IsIcmpServiceHandle(socket)) {
    std::int32_t error = 0;
    const int count = ReceiveIcmpService(
        socket, {static_cast<std::uint8_t*>(buffer), static_cast<std::size_t>(length)}, error);
    return count >= 0 ? count : FailWith(error);
  }
  if (LPFN_WSARECVMSG receive = nullptr; IsRawV6(socket, receive)) {
    return ReceiveRawIcmpV6(socket, receive, buffer, length, flags);
  }
  const int count = WS2<wsRecv>()(Native(socket), static_cast<char*>(buffer), length, flags);
  return count >= 0 ? count : FailWithLibraryError();
}

int TIdStackWindows::SockSendTo(TIdStackSocketHandle socket, const void* buffer, int length,
                                int flags, const std::string& address, int port) {
  if (length < 0) return FailWith(Id_WSAEINVAL);
  const std::span<const std::uint8_t> request(static_cast<const std::uint8_t*>(buffer),
                                              static_cast<std::size_t>(length));
  sockaddr_storage target{};
  int targetLength = 0;
  std::int32_t error = 0;
  if (!TargetOf(*this, address, port, target, targetLength, error)) return FailWith(error);
  int count = 0;
  if (IsIcmpServiceHandle(socket)) {
    if (target.ss_family == AF_INET6) {
      const auto& v6 = reinterpret_cast<const sockaddr_in6&>(target);
      count = SendIcmpServiceEcho(socket, request, BytesOf(v6.sin6_addr), v6.sin6_scope_id, error);
    } else {
      const auto& v4 = reinterpret_cast<const sockaddr_in&>(target);
      count = SendIcmpServiceEcho(socket, request, v4.sin_addr.s_addr, error);
    }
    return count >= 0 ? count : FailWith(error);
  }
  count = WS2<wsSendTo>()(Native(socket), static_cast<const char*>(buffer), length, flags,
                          reinterpret_cast<const sockaddr*>(&target), targetLength);
  return count >= 0 ? count : FailWithLibraryError();
}

int TIdStackWindows::SockSelect(TIdSocketList* readList, TIdSocketList* writeList,
                                TIdSocketList* errorList, int timeoutMs) {
  if (ListSize(readList) > Id_SELECT_LIST_MAX || ListSize(writeList) > Id_SELECT_LIST_MAX ||
      ListSize(errorList) > Id_SELECT_LIST_MAX) {
    throw EIdStackSetSizeExceeded();
  }
  if (timeoutMs < 0 && timeoutMs != Id_WAIT_NO_LIMIT) return FailWith(Id_WSAEINVAL);

  // An echo channel of the ICMP service is waited for on its own: it is no
  // Winsock socket. It only ever becomes readable.
  if (HoldsServiceHandle(readList) && readList->size() == 1 && ListSize(writeList) == 0 &&
      ListSize(errorList) == 0) {
    const bool ready =
        WaitIcmpService(readList->front(), timeoutMs == Id_WAIT_NO_LIMIT ? -1 : timeoutMs);
    if (!ready) readList->clear();
    if (writeList != nullptr) writeList->clear();
    if (errorList != nullptr) errorList->clear();
    return ready ? 1 : 0;
  }
  if (HoldsServiceHandle(readList) || HoldsServiceHandle(writeList) ||
      HoldsServiceHandle(errorList)) {
    return FailWith(10038);  // mixed with sockets: select cannot wait on it
  }

  // Winsock's sets are a count and an array of up to 64 handles.
  fd_set sets[3] = {};
  TIdSocketList* lists[3] = {readList, writeList, errorList};
  for (int i = 0; i < 3; ++i) {
    if (lists[i] == nullptr) continue;
    for (TIdStackSocketHandle handle : *lists[i])
      sets[i].fd_array[sets[i].fd_count++] = Native(handle);
  }
  // A connect that failed shows in the except set here, where POSIX shows it
  // writable: a socket waited for as writable is watched there too.
  const auto holds = [](const TIdSocketList* list, TIdStackSocketHandle handle) {
    return list != nullptr && std::find(list->begin(), list->end(), handle) != list->end();
  };
  if (writeList != nullptr) {
    for (TIdStackSocketHandle handle : *writeList) {
      if (!holds(errorList, handle) && sets[2].fd_count < FD_SETSIZE)
        sets[2].fd_array[sets[2].fd_count++] = Native(handle);
    }
  }
  timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int result = WS2<wsSelect>()(
      0, readList != nullptr ? &sets[0] : nullptr, writeList != nullptr ? &sets[1] : nullptr,
      sets[2].fd_count > 0 ? &sets[2] : nullptr, timeoutMs == Id_WAIT_NO_LIMIT ? nullptr : &limit);
  if (result == Id_SOCKET_ERROR) return FailWithLibraryError();
  // select leaves in each set the handles that are ready, in set order.
  TIdSocketList ready[3];
  for (int i = 0; i < 3; ++i) {
    for (u_int k = 0; k < sets[i].fd_count; ++k)
      ready[i].push_back(static_cast<TIdStackSocketHandle>(sets[i].fd_array[k]));
  }
  for (TIdStackSocketHandle handle : ready[2]) {
    if (holds(writeList, handle) && !holds(&ready[1], handle)) ready[1].push_back(handle);
  }
  std::erase_if(ready[2], [&](TIdStackSocketHandle handle) { return !holds(errorList, handle); });
  int count = 0;
  for (int i = 0; i < 3; ++i) {
    if (lists[i] == nullptr) continue;
    *lists[i] = ready[i];
    count += static_cast<int>(ready[i].size());
  }
  return count;
}

std::int32_t TIdStackWindows::GetSocketError() {
  return tLastSocketError;
}

std::string TIdStackWindows::HostNameToAddr(const std::string& hostName) {
  // The result record is the calling thread's own.
  const hostent* found = WS2<wsGetHostByName>()(hostName.c_str());
  if (found == nullptr) {
    FailWithLibraryError();
    CheckSocketCall(Id_SOCKET_ERROR);
  }
  if (found->h_addrtype != AF_INET || found->h_length != 4 || found->h_addr_list == nullptr ||
      found->h_addr_list[0] == nullptr) {
    // A result without an address is as good as none.
    FailWith(Id_WSAHOST_NOT_FOUND);
    CheckSocketCall(Id_SOCKET_ERROR);
  }
  return AddrToText(FirstAddress(found));
}

std::string TIdStackWindows::AddrToHostName(const std::string& address) {
  if (IsIPv6Text(address)) {
    sockaddr_in6 target{};
    std::int32_t error = 0;
    // Text that is no address is not looked up at all.
    if (!IPv6Target(address, 0, target, error)) {
      FailWith(error);
      CheckSocketCall(Id_SOCKET_ERROR);
    }
    char name[NI_MAXHOST] = {};
    const int result =
        WS2<wsGetNameInfo>()(reinterpret_cast<const sockaddr*>(&target), sizeof target, name,
                             sizeof name, nullptr, 0, NI_NAMEREQD);
    if (result != 0) {
      FailWith(result);  // the library's own error number
      CheckSocketCall(Id_SOCKET_ERROR);
    }
    return name;
  }
  // inet_addr's result is looked up as it comes, also for text that is no address.
  const unsigned long target = WS2<wsInetAddr>()(address.c_str());
  static_assert(sizeof target == 4);
  const hostent* found =
      WS2<wsGetHostByAddr>()(reinterpret_cast<const char*>(&target), sizeof target, AF_INET);
  if (found == nullptr || found->h_name == nullptr) {
    FailWithLibraryError();
    CheckSocketCall(Id_SOCKET_ERROR);
  }
  return found->h_name;
}

TIdInterfaceIndexOf TIdStackWindows::InterfaceIndexOf() {
  return &IndexOfInterface;
}

std::string TIdStackWindows::HostNameToAddrOf(const std::string& hostName, TIdIPVersion version) {
  int result = 0;
  const std::string address = FirstAddressOfName<ADDRINFOA, sockaddr_in, sockaddr_in6>(
      *this, hostName, version, {AF_UNSPEC, AF_INET, AF_INET6, SOCK_DGRAM, AI_ADDRCONFIG},
      WS2<wsGetAddrInfo>(), WS2<wsFreeAddrInfo>(), result);
  if (address.empty()) {
    // The library's own error number (11001 for an unknown name); a result
    // without an address is as good as none.
    FailWith(result != 0 ? result : Id_WSAHOST_NOT_FOUND);
    CheckSocketCall(Id_SOCKET_ERROR);
  }
  return address;
}

std::uint8_t HopLimitOfControlData(std::span<const std::uint8_t> control, std::uint8_t fallback) {
  std::size_t at = 0;
  while (at + sizeof(WSACMSGHDR) <= control.size()) {
    WSACMSGHDR header{};
    std::memcpy(&header, control.data() + at, sizeof header);
    if (header.cmsg_len < sizeof header || header.cmsg_len > control.size() - at) break;
    const std::size_t dataAt = at + WSA_CMSG_LEN(0);
    if (header.cmsg_level == IPPROTO_IPV6 && header.cmsg_type == IPV6_HOPLIMIT &&
        header.cmsg_len >= WSA_CMSG_LEN(sizeof(INT))) {
      INT hopLimit = 0;
      std::memcpy(&hopLimit, control.data() + dataAt, sizeof hopLimit);
      return hopLimit >= 0 && hopLimit <= 255 ? static_cast<std::uint8_t>(hopLimit) : fallback;
    }
    at += WSA_CMSGHDR_ALIGN(header.cmsg_len);
  }
  return fallback;
}

int RebuildRawIcmpV6(std::span<const std::uint8_t> message, std::span<const std::uint8_t> peer,
                     std::uint8_t hopLimit, std::span<std::uint8_t> out) {
  sockaddr_in6 from{};
  if (peer.size() < sizeof from) return FailWith(WSAEAFNOSUPPORT);
  std::memcpy(&from, peer.data(), sizeof from);
  if (from.sin6_family != AF_INET6) return FailWith(WSAEAFNOSUPPORT);
  return BuildReplyDatagramV6(message, BytesOf(from.sin6_addr), hopLimit, out);
}

TIcmpProbePath IcmpProbePathInUse() {
  return gPathInUse.load();
}

std::int32_t IcmpV6Unavailable() {
  return gV6Refusal.load();
}

std::unique_ptr<TIdStack> CreateSystemStack() {
  return std::make_unique<TIdStackWindows>();
}

TIdStackSocketHandle TIdStackWindows::SockOpenProbe(TIdIPVersion version, int type, int ttl) {
  if (type != SOCK_STREAM) return FailWith(Id_WSAEOPNOTSUPP);
  std::int32_t error = 0;
  const TIdStackSocketHandle socket =
      OpenTcpProbeSocket(version == TIdIPVersion::ivIPv6 ? AF_INET6 : AF_INET, ttl, error);
  return socket != Id_INVALID_SOCKET ? socket : FailWith(error);
}

int TIdStackWindows::SockConnect(TIdStackSocketHandle socket, const std::string& address,
                                 int port) {
  sockaddr_storage target{};
  int targetLength = 0;
  std::int32_t error = 0;
  if (!TargetOf(*this, address, port, target, targetLength, error)) return FailWith(error);
  return WS2<wsConnect>()(Native(socket), reinterpret_cast<const sockaddr*>(&target),
                          targetLength) == 0
             ? 0
             : FailWithLibraryError();
}

int TIdStackWindows::SockProbeAnswer(TIdStackSocketHandle socket, const std::string& target,
                                     TReplyStatus& reply) {
  std::array<std::uint8_t, 16> bytes{};
  std::size_t size = 4;
  if (TIdIPv6Address parsed; ParseIPv6Text(target, parsed)) {
    bytes = parsed.Bytes;
    size = parsed.Bytes.size();
  } else {
    const std::uint32_t v4 = TextToAddr(target);
    std::memcpy(bytes.data(), &v4, size);
  }
  std::int32_t error = 0;
  const int found = ReadTcpProbeAnswer(socket, target, {bytes.data(), size}, reply, error);
  return found >= 0 ? found : FailWith(error);
}

}  // namespace quillon
