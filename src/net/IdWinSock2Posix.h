// The binding table on Linux: the C library's socket functions that the POSIX
// stack calls.
#pragma once

#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <time.h>

#include "net/IdWinSock2.h"

namespace quillon {

// The entries of the binding table, in table order.
enum class TWS2Function : std::size_t {
  wsSocket,
  wsSetSockOpt,
  wsGetSockOpt,
  wsGetSockName,
  wsSendTo,
  wsPPoll,
  wsRecv,
  wsRecvMsg,
  wsShutdown,
  wsClose,
  wsGetAddrInfo,
  wsFreeAddrInfo,
  wsGetNameInfo,
  wsInetAton,
  wsHtons,
  wsIfNameToIndex,
  wsConnect,
  wsCount
};
constexpr std::size_t Id_WS2_ENTRY_COUNT = static_cast<std::size_t>(TWS2Function::wsCount);

// The library function's own type for each entry.
// clang-format off
template <> struct TWS2Signature<TWS2Function::wsSocket> { using Type = int(int, int, int); };
template <> struct TWS2Signature<TWS2Function::wsSetSockOpt> { using Type = int(int, int, int, const void*, socklen_t); };
template <> struct TWS2Signature<TWS2Function::wsGetSockOpt> { using Type = int(int, int, int, void*, socklen_t*); };
template <> struct TWS2Signature<TWS2Function::wsGetSockName> { using Type = int(int, sockaddr*, socklen_t*); };
template <> struct TWS2Signature<TWS2Function::wsSendTo> { using Type = ssize_t(int, const void*, std::size_t, int, const sockaddr*, socklen_t); };
template <> struct TWS2Signature<TWS2Function::wsPPoll> { using Type = int(pollfd*, nfds_t, const timespec*, const sigset_t*); };
template <> struct TWS2Signature<TWS2Function::wsRecv> { using Type = ssize_t(int, void*, std::size_t, int); };
template <> struct TWS2Signature<TWS2Function::wsRecvMsg> { using Type = ssize_t(int, msghdr*, int); };
template <> struct TWS2Signature<TWS2Function::wsShutdown> { using Type = int(int, int); };
template <> struct TWS2Signature<TWS2Function::wsClose> { using Type = int(int); };
template <> struct TWS2Signature<TWS2Function::wsGetAddrInfo> { using Type = int(const char*, const char*, const addrinfo*, addrinfo**); };
template <> struct TWS2Signature<TWS2Function::wsFreeAddrInfo> { using Type = void(addrinfo*); };
template <> struct TWS2Signature<TWS2Function::wsGetNameInfo> { using Type = int(const sockaddr*, socklen_t, char*, socklen_t, char*, socklen_t, int); };
template <> struct TWS2Signature<TWS2Function::wsInetAton> { using Type = int(const char*, in_addr*); };
template <> struct TWS2Signature<TWS2Function::wsHtons> { using Type = std::uint16_t(std::uint16_t); };
template <> struct TWS2Signature<TWS2Function::wsIfNameToIndex> { using Type = unsigned(const char*); };
template <> struct TWS2Signature<TWS2Function::wsConnect> { using Type = int(int, const sockaddr*, socklen_t); };
// clang-format on

extern const TWS2Entry WS2BindingTable[Id_WS2_ENTRY_COUNT];

}  // namespace quillon
