#include "net/TcpProbeWindows.h"

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on

#include <array>

#include "net/IcmpErrorInfo.h"
#include "net/IdComponent.h"
#include "net/IdStack.h"
#include "net/IdWinSock2Windows.h"
#include "net/TransportProbe.h"

namespace quillon {

// The record's layout is ours (MinGW's headers lack it); its parts are the system's.
static_assert(sizeof(SOCKADDR_INET) == sizeof(TIcmpErrorInfo::SourceAddress) &&
              Id_WIN_AF_INET == AF_INET && Id_WIN_AF_INET6 == AF_INET6 &&
              Id_SOCK_STREAM == SOCK_STREAM && Id_IPPROTO_TCP == IPPROTO_TCP &&
              Id_WSAETIMEDOUT == WSAETIMEDOUT && Id_WSAECONNREFUSED == WSAECONNREFUSED);

using enum TWS2Function;

namespace {

constexpr const char* kTcpRefusal =
    "TCP probes need Windows 10 version 2004 or later, whose connect reports the routers' "
    "answers: trace with ICMP.";

template <typename TValue>
bool SetOption(SOCKET socket, int level, int name, const TValue& value) {
  return WS2<wsSetSockOpt>()(socket, level, name, reinterpret_cast<const char*>(&value),
                             sizeof value) == 0;
}

}  // namespace

std::unique_ptr<TIdProbe> CreateTcpProbeWindows(TIdIPVersion version) {
  return CreateTransportProbe(TProbeMethod::pmTcp, version);
}

std::string TcpProbeRefusalWindows(TIdIPVersion version) {
  const TIdComponent component;  // the socket library, started while we ask
  const TIdStackSocketHandle socket = Stack().SockOpenProbe(version, Id_SOCK_STREAM, 1);
  if (socket != Id_INVALID_SOCKET) {
    Stack().SockClose(socket);
    return {};
  }
  // Other refusals (no such family, no sockets left) are the probe's own to report.
  const std::int32_t error = Stack().GetSocketError();
  return error == WSAENOPROTOOPT || error == WSAEINVAL ? kTcpRefusal : std::string();
}

TIdStackSocketHandle OpenTcpProbeSocket(int family, int ttl, std::int32_t& error) {
  const SOCKET socket = WS2<wsSocket>()(family, SOCK_STREAM, IPPROTO_TCP);
  if (socket == INVALID_SOCKET) {
    error = WS2<wsGetLastError>()();
    return Id_INVALID_SOCKET;
  }
  const bool v6 = family == AF_INET6;
  u_long nonBlocking = 1;
  DWORD returned = 0;
  const LINGER reset{1, 0};
  // The option a system may lack goes first, so that its refusal is the one reported.
  const bool ready =
      SetOption(socket, IPPROTO_TCP, Id_TCP_FAIL_CONNECT_ON_ICMP_ERROR, DWORD{1}) &&
      SetOption(socket, v6 ? IPPROTO_IPV6 : IPPROTO_IP, v6 ? IPV6_UNICAST_HOPS : IP_TTL,
                static_cast<DWORD>(ttl)) &&
      SetOption(socket, SOL_SOCKET, SO_LINGER, reset) &&
      WS2<wsIoctl>()(socket, static_cast<DWORD>(FIONBIO), &nonBlocking, sizeof nonBlocking, nullptr,
                     0, &returned, nullptr, nullptr) == 0;
  if (!ready) {
    error = WS2<wsGetLastError>()();
    WS2<wsCloseSocket>()(socket);
    return Id_INVALID_SOCKET;
  }
  return static_cast<TIdStackSocketHandle>(socket);
}

int ReadTcpProbeAnswer(TIdStackSocketHandle handle, const std::string& target,
                       std::span<const std::uint8_t> targetBytes, TReplyStatus& reply,
                       std::int32_t& error) {
  const auto socket = static_cast<SOCKET>(static_cast<std::intptr_t>(handle));
  // Connected: writable; failed: in the except set; else still under way.
  fd_set connected{1, {socket}};
  fd_set failed{1, {socket}};
  const timeval now{0, 0};
  const int ready = WS2<wsSelect>()(0, nullptr, &connected, &failed, &now);
  if (ready <= 0) {
    error = ready < 0 ? WS2<wsGetLastError>()() : 0;
    return ready;
  }
  int socketError = 0;
  int length = sizeof socketError;
  if (WS2<wsGetSockOpt>()(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&socketError),
                          &length) != 0) {
    error = WS2<wsGetLastError>()();
    return -1;
  }
  std::array<std::uint8_t, sizeof(TIcmpErrorInfo)> info{};
  int infoLength = 0;
  if (socketError != 0) {
    infoLength = static_cast<int>(info.size());
    if (WS2<wsGetSockOpt>()(socket, IPPROTO_TCP, Id_TCP_ICMP_ERROR_INFO,
                            reinterpret_cast<char*>(info.data()), &infoLength) != 0)
      infoLength = 0;
  }
  if (TcpConnectAnswer(socketError, {info.data(), static_cast<std::size_t>(infoLength)}, target,
                       targetBytes, reply))
    return 1;
  error = socketError;
  return -1;
}

}  // namespace quillon
