#include "net/IdStackWindows.h"

#include "net/IcmpServiceWindows.h"
#include "net/IdException.h"
#include "net/IdWinSock2Windows.h"
// After winsock2.h, which it would otherwise pull in in the wrong order.
#include <ws2tcpip.h>

#include <atomic>
#include <cstring>

namespace quillon {

static_assert(Id_PF_INET4 == AF_INET && Id_SOCK_RAW == SOCK_RAW && Id_SOCK_DGRAM == SOCK_DGRAM &&
              Id_IPPROTO_IP == IPPROTO_IP && Id_IPPROTO_ICMP == IPPROTO_ICMP &&
              Id_IP_TTL == IP_TTL && Id_SD_Send == SD_SEND);

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

}  // namespace

TIdStackWindows::TIdStackWindows() {
  if (GSocketStarted.load(std::memory_order_acquire)) return;
  TWSAData data;
  if (StartSocketLibrary(kSocketLibraryVersion, &data) != 0) throw EIdStackInitializationFailed();
  GSocketStarted.store(true, std::memory_order_release);
}

int TIdStackWindows::SockClose(TIdStackSocketHandle socket) {
  if (IsIcmpServiceHandle(socket)) return CloseIcmpService(socket);
  return WS2<wsCloseSocket>()(Native(socket)) == 0 ? 0 : FailWithLibraryError();
}

int TIdStackWindows::SockShutdown(TIdStackSocketHandle socket, int how) {
  if (IsIcmpServiceHandle(socket)) return 0;
  return WS2<wsShutdown>()(Native(socket), how) == 0 ? 0 : FailWithLibraryError();
}

TIdStackSocketHandle TIdStackWindows::SockOpen(int family, int type, int protocol) {
  const bool rawIcmp = family == AF_INET && type == SOCK_RAW && protocol == IPPROTO_ICMP;
  // The ICMP service first: with the firewall on, as it is by default, a raw
  // socket sees the target's echo reply but none of the routers' time-exceeded
  // messages. The service gets them, and needs no administrator.
  const bool rawFirst = GRawSocketsFirst.load();
  if (rawIcmp && !rawFirst) {
    const TIdStackSocketHandle service = OpenIcmpService();
    if (service != Id_INVALID_SOCKET) {
      gPathInUse.store(TIcmpProbePath::IcmpService);
      return service;
    }
  }
  const SOCKET socket = WS2<wsSocket>()(family, type, protocol);
  if (socket != INVALID_SOCKET) {
    if (rawIcmp) gPathInUse.store(TIcmpProbePath::RawSocket);
    return static_cast<TIdStackSocketHandle>(socket);
  }
  const std::int32_t refusal = WS2<wsGetLastError>()();
  if (!rawIcmp || !rawFirst || refusal != Id_WSAEACCES) return FailWith(refusal);
  // Raw sockets asked for, but this user may not have them.
  const TIdStackSocketHandle service = OpenIcmpService();
  if (service == Id_INVALID_SOCKET) return FailWith(refusal);
  gPathInUse.store(TIcmpProbePath::IcmpService);
  return service;
}

int TIdStackWindows::SockSetOption(TIdStackSocketHandle socket, int level, int optionName,
                                   const void* value, int valueLength) {
  if (valueLength < 0 || (valueLength > 0 && value == nullptr)) return FailWith(Id_WSAEFAULT);
  if (IsIcmpServiceHandle(socket)) {
    if (level == IPPROTO_IP && optionName == IP_TTL) {
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

int TIdStackWindows::SockRecv(TIdStackSocketHandle socket, void* buffer, int length, int flags) {
  if (length < 0) return FailWith(Id_WSAEINVAL);
  if (IsIcmpServiceHandle(socket)) {
    std::int32_t error = 0;
    const int count = ReceiveIcmpService(
        socket, {static_cast<std::uint8_t*>(buffer), static_cast<std::size_t>(length)}, error);
    return count >= 0 ? count : FailWith(error);
  }
  const int count = WS2<wsRecv>()(Native(socket), static_cast<char*>(buffer), length, flags);
  return count >= 0 ? count : FailWithLibraryError();
}

int TIdStackWindows::SockSendTo(TIdStackSocketHandle socket, const void* buffer, int length,
                                int flags, const std::string& address, int port) {
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = WS2<wsHtons>()(static_cast<u_short>(port));
  target.sin_addr.s_addr = TextToAddr(address);
  if (length < 0) return FailWith(Id_WSAEINVAL);
  if (IsIcmpServiceHandle(socket)) {
    std::int32_t error = 0;
    const int count = SendIcmpServiceEcho(
        socket, {static_cast<const std::uint8_t*>(buffer), static_cast<std::size_t>(length)},
        target.sin_addr.s_addr, error);
    return count >= 0 ? count : FailWith(error);
  }
  const int count = WS2<wsSendTo>()(Native(socket), static_cast<const char*>(buffer), length, flags,
                                    reinterpret_cast<const sockaddr*>(&target), sizeof target);
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
  timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int result = WS2<wsSelect>()(
      0, readList != nullptr ? &sets[0] : nullptr, writeList != nullptr ? &sets[1] : nullptr,
      errorList != nullptr ? &sets[2] : nullptr, timeoutMs == Id_WAIT_NO_LIMIT ? nullptr : &limit);
  if (result == Id_SOCKET_ERROR) return FailWithLibraryError();
  // select leaves in each set the handles that are ready, in set order.
  for (int i = 0; i < 3; ++i) {
    if (lists[i] == nullptr) continue;
    lists[i]->clear();
    for (u_int k = 0; k < sets[i].fd_count; ++k) {
      lists[i]->push_back(static_cast<TIdStackSocketHandle>(sets[i].fd_array[k]));
    }
  }
  return result;
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

TIcmpProbePath IcmpProbePathInUse() {
  return gPathInUse.load();
}

std::unique_ptr<TIdStack> CreateSystemStack() {
  return std::make_unique<TIdStackWindows>();
}

}  // namespace quillon
