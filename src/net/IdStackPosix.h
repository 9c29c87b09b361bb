// The socket stack on Linux: POSIX sockets, the C library's resolver, and the
// socket library binding for every call. Errors are handed up with the
// Winsock numbers that the error texts are keyed by.
#pragma once

#include <netinet/in.h>

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
  // A raw ICMP or ICMPv6 socket that the system refuses for lack of rights
  // becomes an ICMP datagram socket of the same family where the system allows
  // those (SockRecv and SockSelect make it look like the raw one), or else a
  // channel to the installed ICMP helper, which sends the probes and whose
  // answers SockRecv reads as a raw socket's datagrams. Every raw ICMPv6
  // socket gets ConfigureRawIcmpV6Socket.
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
  // IPv6 addresses too (a zone goes in as the scope id).
  std::string AddrToHostName(const std::string& address) override;
  // getaddrinfo with AI_ADDRCONFIG: the system's order, families this host
  // has an address of.
  std::string HostNameToAddrOf(const std::string& hostName, TIdIPVersion version) override;
  // res_nquery on a resolver state of the call's own, one try per server
  // (IdTextQueryPosix.cpp).
  TIdTextAnswer QueryText(const std::string& name, int timeoutMs) override;
  TIdInterfaceIndexOf InterfaceIndexOf() override;
  // Adds the system's text for errno values that have no Winsock number.
  std::string SocketErrorText(std::int32_t errorCode) override;

  // An ICMP datagram socket's port, which the kernel writes as the identifier
  // of every echo request and which its answers carry (known once it has sent).
  std::optional<std::uint16_t> SockEchoIdentifier(TIdStackSocketHandle socket) override;

  // UDP and TCP probes for every user: an ordinary socket with IP_RECVERR /
  // IPV6_RECVERR and the arrival TTL / hop limit asked for; no privilege, no
  // helper. The answer is read from the error queue (DecodeProbeError), then,
  // for TCP, from the connect's outcome; a connected probe is set to reset on
  // close (linger 0), so the target keeps no half-open connection.
  TIdStackSocketHandle SockOpenProbe(TIdIPVersion version, int type, int ttl) override;
  int SockConnect(TIdStackSocketHandle socket, const std::string& address, int port) override;
  int SockProbeAnswer(TIdStackSocketHandle socket, const std::string& target,
                      TReplyStatus& reply) override;

  // True for an ICMP datagram socket of either family (the unprivileged
  // stand-in for a raw one).
  bool IsIcmpDatagramSocket(TIdStackSocketHandle socket);

 private:
  int ReceiveIcmpDatagram(TIdStackSocketHandle socket, void* buffer, int length, int flags);
  // Any ICMPv6 socket: what arrives is rebuilt behind an IPv6 header; a datagram
  // socket's error queue is read first.
  int ReceiveIcmpV6(TIdStackSocketHandle socket, void* buffer, int length, int flags,
                    bool datagram);
  // Drops the error reports an earlier exchange left on an ICMP datagram
  // socket: the first of them would otherwise fail the next send.
  void DropStaleErrors(TIdStackSocketHandle socket);
};

// The options every raw ICMPv6 socket of the process needs: only echo
// replies, unreachables and time-exceeded messages pass the filter (neighbour
// discovery would reach it otherwise), and each arrives with its hop limit.
// IPV6_RECVERR stays off: a raw socket gets the errors as messages already, and
// would get each a second time. 0, or -1 with the socket error set.
int ConfigureRawIcmpV6Socket(TIdStackSocketHandle socket);

// Fills an IPv6 socket address from address text; a zone becomes the scope id
// (a number, or an interface's index). False, with errno set, when it cannot.
bool IPv6SocketAddress(const std::string& address, int port, sockaddr_in6& target);

// The factory that GSocketStackClass holds by default.
std::unique_ptr<TIdStack> CreatePosixStack();

}  // namespace quillon
