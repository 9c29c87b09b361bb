// The socket stack on Windows: Winsock through the run-time binding, its own
// error numbers, select with its own handle sets, and the per-thread result
// records of gethostbyname and gethostbyaddr.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "net/IdStack.h"

namespace quillon {

class TIdStackWindows : public TIdStack {
 public:
  // Starts the socket library once per process; EIdStackInitializationFailed
  // when its start-up fails, EIdWS2StubError when it cannot be loaded.
  TIdStackWindows();

  int SockClose(TIdStackSocketHandle socket) override;
  int SockShutdown(TIdStackSocketHandle socket, int how) override;
  // A raw ICMP or ICMPv6 socket is an echo channel of the system's ICMP service, or when
  // that is not there a raw socket; with GRawSocketsFirst the other way round,
  // the service only where Windows refuses the raw socket for lack of rights
  // (10013). SockSendTo, SockSelect and SockRecv make a channel look like the
  // raw socket.
  TIdStackSocketHandle SockOpen(int family, int type, int protocol) override;
  int SockSetOption(TIdStackSocketHandle socket, int level, int optionName, const void* value,
                    int valueLength) override;
  // A channel of the service waits for its answers a margin beyond the caller.
  void SockSetReplyTimeout(TIdStackSocketHandle socket, int timeoutMs) override;
  int SockRecv(TIdStackSocketHandle socket, void* buffer, int length, int flags) override;
  int SockSendTo(TIdStackSocketHandle socket, const void* buffer, int length, int flags,
                 const std::string& address, int port) override;
  int SockSelect(TIdSocketList* readList, TIdSocketList* writeList, TIdSocketList* errorList,
                 int timeoutMs) override;
  std::int32_t GetSocketError() override;
  // TCP only (TcpProbeWindows.h): UDP probes are refused before a trace, as
  // the firewall keeps their answers from ordinary programs.
  TIdStackSocketHandle SockOpenProbe(TIdIPVersion version, int type, int ttl) override;
  int SockConnect(TIdStackSocketHandle socket, const std::string& address, int port) override;
  int SockProbeAnswer(TIdStackSocketHandle socket, const std::string& target,
                      TReplyStatus& reply) override;
  std::string HostNameToAddr(const std::string& hostName) override;
  // IPv6 text through getnameinfo, with its zone as the scope id.
  std::string AddrToHostName(const std::string& address) override;
  // getaddrinfo with AI_ADDRCONFIG, in the system's order.
  std::string HostNameToAddrOf(const std::string& hostName, TIdIPVersion version) override;
  // if_nametoindex of the IP helper library.
  TIdInterfaceIndexOf InterfaceIndexOf() override;
  // DnsQuery_W with DNS_TYPE_TEXT (IdTextQueryWindows.cpp); the system's
  // client keeps its own waits.
  TIdTextAnswer QueryText(const std::string& name, int timeoutMs) override;
};

// The hop limit in a datagram's control data (IPV6_HOPLIMIT), or fallback
// where it holds none.
std::uint8_t HopLimitOfControlData(std::span<const std::uint8_t> control, std::uint8_t fallback);

// What a raw ICMPv6 socket's read hands up for a message received from peer (the
// socket address recvfrom filled in) with the hop limit: the IPv6 header and
// the message, cut to out. -1, with the socket error set, for a peer that is no
// IPv6 socket address.
int RebuildRawIcmpV6(std::span<const std::uint8_t> message, std::span<const std::uint8_t> peer,
                     std::uint8_t hopLimit, std::span<std::uint8_t> out);

// How the last raw ICMP socket asked for was opened.
enum class TIcmpProbePath { None, IcmpService, RawSocket };
TIcmpProbePath IcmpProbePathInUse();

// When the last raw ICMPv6 socket asked for could not be had, and not for lack
// of rights (the ICMP service has no IPv6 and the raw socket was refused as
// unsupported, as on systems without ICMPv6), the raw socket's refusal; else 0.
std::int32_t IcmpV6Unavailable();

}  // namespace quillon
