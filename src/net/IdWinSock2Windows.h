// The binding table on Windows: the functions of "WS2_32.DLL" that the
// Windows stack calls. Only the library's types come from its header; the
// executable imports nothing from it.
#pragma once

#include <winsock2.h>
// After winsock2.h: the resolver's types.
#include <ws2tcpip.h>

#include "net/IdWinSock2.h"

namespace quillon {

// The entries of the binding table, in table order.
enum class TWS2Function : std::size_t {
  wsSocket,
  wsSetSockOpt,
  wsSendTo,
  wsSelect,
  wsRecv,
  wsRecvFrom,
  wsShutdown,
  wsCloseSocket,
  wsGetLastError,
  wsGetHostByName,
  wsGetHostByAddr,
  wsGetAddrInfo,
  wsFreeAddrInfo,
  wsGetNameInfo,
  wsInetAddr,
  wsHtons,
  wsIoctl,
  wsConnect,
  wsGetSockOpt,
  wsCount
};
constexpr std::size_t Id_WS2_ENTRY_COUNT = static_cast<std::size_t>(TWS2Function::wsCount);

// clang-format off
template <> struct TWS2Signature<TWS2Function::wsSocket> { using Type = SOCKET WSAAPI(int, int, int); };
template <> struct TWS2Signature<TWS2Function::wsSetSockOpt> { using Type = int WSAAPI(SOCKET, int, int, const char*, int); };
template <> struct TWS2Signature<TWS2Function::wsSendTo> { using Type = int WSAAPI(SOCKET, const char*, int, int, const sockaddr*, int); };
template <> struct TWS2Signature<TWS2Function::wsSelect> { using Type = int WSAAPI(int, fd_set*, fd_set*, fd_set*, const timeval*); };
template <> struct TWS2Signature<TWS2Function::wsRecv> { using Type = int WSAAPI(SOCKET, char*, int, int); };
template <> struct TWS2Signature<TWS2Function::wsRecvFrom> { using Type = int WSAAPI(SOCKET, char*, int, int, sockaddr*, int*); };
template <> struct TWS2Signature<TWS2Function::wsShutdown> { using Type = int WSAAPI(SOCKET, int); };
template <> struct TWS2Signature<TWS2Function::wsCloseSocket> { using Type = int WSAAPI(SOCKET); };
template <> struct TWS2Signature<TWS2Function::wsGetLastError> { using Type = int WSAAPI(); };
template <> struct TWS2Signature<TWS2Function::wsGetHostByName> { using Type = hostent* WSAAPI(const char*); };
template <> struct TWS2Signature<TWS2Function::wsGetHostByAddr> { using Type = hostent* WSAAPI(const char*, int, int); };
template <> struct TWS2Signature<TWS2Function::wsGetAddrInfo> { using Type = INT WSAAPI(PCSTR, PCSTR, const ADDRINFOA*, PADDRINFOA*); };
template <> struct TWS2Signature<TWS2Function::wsFreeAddrInfo> { using Type = VOID WSAAPI(PADDRINFOA); };
template <> struct TWS2Signature<TWS2Function::wsGetNameInfo> { using Type = INT WSAAPI(const SOCKADDR*, socklen_t, PCHAR, DWORD, PCHAR, DWORD, INT); };
template <> struct TWS2Signature<TWS2Function::wsInetAddr> { using Type = unsigned long WSAAPI(const char*); };
template <> struct TWS2Signature<TWS2Function::wsIoctl> { using Type = int WSAAPI(SOCKET, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPWSAOVERLAPPED, LPWSAOVERLAPPED_COMPLETION_ROUTINE); };
template <> struct TWS2Signature<TWS2Function::wsHtons> { using Type = u_short WSAAPI(u_short); };
template <> struct TWS2Signature<TWS2Function::wsConnect> { using Type = int WSAAPI(SOCKET, const sockaddr*, int); };
template <> struct TWS2Signature<TWS2Function::wsGetSockOpt> { using Type = int WSAAPI(SOCKET, int, int, char*, int*); };
// clang-format on

extern const TWS2Entry WS2BindingTable[Id_WS2_ENTRY_COUNT];

}  // namespace quillon
