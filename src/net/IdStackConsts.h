// Socket constants of the platform, and the Winsock error numbers that the
// error texts are keyed by on every platform.
#pragma once

#include <cstdint>

namespace quillon {

using TIdStackSocketHandle = int;
constexpr TIdStackSocketHandle Id_INVALID_SOCKET = -1;
constexpr int Id_SOCKET_ERROR = -1;

// The same numbers on Linux and Windows, but for the TTL option; each stack
// checks them against the system's headers.
constexpr int Id_PF_INET4 = 2;
constexpr int Id_SOCK_RAW = 3;
constexpr int Id_SOCK_DGRAM = 2;
constexpr int Id_SOCK_STREAM = 1;
constexpr int Id_IPPROTO_IP = 0;
constexpr int Id_IPPROTO_ICMP = 1;
constexpr int Id_IPPROTO_TCP = 6;
constexpr int Id_IPPROTO_UDP = 17;
constexpr int Id_IPPROTO_IPV6 = 41;
constexpr int Id_IPPROTO_ICMPV6 = 58;
#ifdef _WIN32
constexpr int Id_PF_INET6 = 23;
constexpr int Id_IP_TTL = 4;
constexpr int Id_IPV6_UNICAST_HOPS = 4;
#else
constexpr int Id_PF_INET6 = 10;
constexpr int Id_IP_TTL = 2;
constexpr int Id_IPV6_UNICAST_HOPS = 16;
#endif
constexpr int Id_SD_Receive = 0;  // shutdown: the receiving side, the sending side, both
constexpr int Id_SD_Send = 1;
constexpr int Id_SD_Both = 2;

// Error codes as the error-text table numbers them.
constexpr std::int32_t Id_WSAEINTR = 10004;
constexpr std::int32_t Id_WSAEBADF = 10009;
constexpr std::int32_t Id_WSAEACCES = 10013;
constexpr std::int32_t Id_WSAEFAULT = 10014;
constexpr std::int32_t Id_WSAEINVAL = 10022;
constexpr std::int32_t Id_WSAEMFILE = 10024;
constexpr std::int32_t Id_WSAEWOULDBLOCK = 10035;
constexpr std::int32_t Id_WSAEINPROGRESS = 10036;
constexpr std::int32_t Id_WSAEMSGSIZE = 10040;
constexpr std::int32_t Id_WSAEOPNOTSUPP = 10045;
constexpr std::int32_t Id_WSAETIMEDOUT = 10060;
constexpr std::int32_t Id_WSAECONNREFUSED = 10061;
constexpr std::int32_t Id_WSANOTINITIALISED = 10093;
constexpr std::int32_t Id_WSAHOST_NOT_FOUND = 11001;
constexpr std::int32_t Id_WSATRY_AGAIN = 11002;
constexpr std::int32_t Id_WSANO_RECOVERY = 11003;
constexpr std::int32_t Id_WSANO_DATA = 11004;

// ICMP message types the echo exchange deals with.
constexpr std::uint8_t Id_ICMP_ECHOREPLY = 0;
constexpr std::uint8_t Id_ICMP_UNREACH = 3;
constexpr std::uint8_t Id_ICMP_UNREACH_PORT = 3;  // the code of a port unreachable
constexpr std::uint8_t Id_ICMP_REDIRECT = 5;
constexpr std::uint8_t Id_ICMP_ECHO = 8;
constexpr std::uint8_t Id_ICMP_TIMXCEED = 11;
// And their ICMPv6 counterparts.
constexpr std::uint8_t Id_ICMPV6_UNREACH = 1;
constexpr std::uint8_t Id_ICMPV6_PACKET_TOO_BIG = 2;
constexpr std::uint8_t Id_ICMPV6_TIMXCEED = 3;
constexpr std::uint8_t Id_ICMPV6_ECHO = 128;
constexpr std::uint8_t Id_ICMPV6_ECHOREPLY = 129;

constexpr int Id_SELECT_LIST_MAX = 64;  // handles per wait list
constexpr int Id_WAIT_NO_LIMIT = -2;    // a wait in milliseconds without limit

}  // namespace quillon
