// The socket stack on Linux: POSIX sockets, the C library's resolver, and the
// socket library binding for every call. Errors are handed up with the
// Winsock numbers that the error texts are keyed by.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "net/IdStack.h"

namespace quillon {

// The error number for an errno value: the Winsock number where one exists,
// the errno value itself otherwise.
std::int32_t SocketErrorFromErrno(int error);
// The error number for a failed getaddrinfo or getnameinfo (its result, and
// errno for EAI_SYSTEM).
std::int32_t SocketErrorFromResolver(int result, int error);

// A wait in milliseconds as seconds and microseconds; -2 waits without limit.
struct TSelectWait {
  bool Unlimited = false;
  std::int64_t Seconds = 0;
  std::int64_t Microseconds = 0;
};
TSelectWait SelectWaitFromMs(int timeoutMs);

class TIdStackPosix : public TIdStack {
 public:
  // Starts the socket library once per process; EIdStackInitializationFailed
  // when its start-up fails, EIdWS2StubError when it cannot be loaded.
  TIdStackPosix();

  int SockClose(TIdStackSocketHandle socket) override;
  int SockShutdown(TIdStackSocketHandle socket, int how) override;
  // A raw ICMP socket that the system refuses for lack of rights becomes an
  // ICMP datagram socket where the system allows those (SockRecv and
  // SockSelect make it look like the raw one), or else a raw socket that the
  // installed ICMP helper opens.
  TIdStackSocketHandle SockOpen(int family, int type, int protocol) override;
  int SockSetOption(TIdStackSocketHandle socket, int level, int optionName, const void* value,
                    int valueLength) override;
  int SockRecv(TIdStackSocketHandle socket, void* buffer, int length, int flags) override;
  int SockSendTo(TIdStackSocketHandle socket, const void* buffer, int length, int flags,
                 const std::string& address, int port) override;
  int SockSelect(TIdSocketList* readList, TIdSocketList* writeList, TIdSocketList* errorList,
                 int timeoutMs) override;
  std::int32_t GetSocketError() override;
  std::string HostNameToAddr(const std::string& hostName) override;
  std::string AddrToHostName(const std::string& address) override;
  // Adds the system's text for errno values that have no Winsock number.
  std::string SocketErrorText(std::int32_t errorCode) override;

  // True for an ICMP datagram socket (the unprivileged stand-in for a raw one).
  bool IsIcmpDatagramSocket(TIdStackSocketHandle socket);

 private:
  int ReceiveIcmpDatagram(TIdStackSocketHandle socket, void* buffer, int length, int flags);
  // Drops the error reports an earlier exchange left on an ICMP datagram
  // socket: the first of them would otherwise fail the next send.
  void DropStaleErrors(TIdStackSocketHandle socket);
};

// The factory that GSocketStackClass holds by default.
std::unique_ptr<TIdStack> CreatePosixStack();

}  // namespace quillon
