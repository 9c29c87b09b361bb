#include "net/IdStackPosix.h"

#include <netinet/icmp6.h>
#include <netinet/in.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <limits>
#include <memory>
#include <span>

#include "net/IcmpDatagramPosix.h"
#include "net/IcmpHelperPosix.h"
#include "net/IdException.h"
#include "net/IdResolverResult.h"
#include "net/IdWinSock2Posix.h"
#include "net/ProbeAnswerPosix.h"
#include "net/TransportProbe.h"

namespace quillon {

static_assert(Id_PF_INET4 == AF_INET && Id_SOCK_RAW == SOCK_RAW && Id_SOCK_DGRAM == SOCK_DGRAM &&
              Id_IPPROTO_IP == IPPROTO_IP && Id_IPPROTO_ICMP == IPPROTO_ICMP &&
              Id_IP_TTL == IP_TTL && Id_SD_Send == SHUT_WR);
static_assert(Id_SOCK_STREAM == SOCK_STREAM && Id_IPPROTO_TCP == IPPROTO_TCP &&
              Id_IPPROTO_UDP == IPPROTO_UDP);
static_assert(Id_PF_INET6 == AF_INET6 && Id_IPPROTO_IPV6 == IPPROTO_IPV6 &&
              Id_IPPROTO_ICMPV6 == IPPROTO_ICMPV6 && Id_IPV6_UNICAST_HOPS == IPV6_UNICAST_HOPS);

using enum TWS2Function;

namespace {

constexpr std::uint16_t kSocketLibraryVersion = 0x0202;
constexpr std::size_t kLargestDatagram = 65535;

// The socket error of the calling thread's last failed call, as a Winsock
// number. A lookup failure sets no errno, so the stack keeps its own.
thread_local std::int32_t tLastSocketError = 0;

int FailWith(std::int32_t code) {
  tLastSocketError = code;
  return Id_SOCKET_ERROR;
}
int FailWithErrno() {
  return FailWith(SocketErrorFromErrno(errno));
}

// A byte count or -1 as the stack's 32-bit result.
int CountResult(ssize_t result) {
  if (result < 0) return FailWithErrno();
  return static_cast<int>(std::min<ssize_t>(result, std::numeric_limits<int>::max()));
}

TIdIPv4Bytes BytesOf(const in_addr& address) {
  TIdIPv4Bytes bytes{};
  std::memcpy(bytes.data(), &address.s_addr, bytes.size());
  return bytes;
}

std::size_t ListSize(const TIdSocketList* list) {
  return list != nullptr ? list->size() : 0;
}

enum class TIcmpSocketShape : std::uint8_t { Other, Datagram4, Raw6, Datagram6 };

TIcmpSocketShape IcmpSocketShape(TIdStackSocketHandle socket) {
  const auto option = [socket](int name) {
    int value = -1;
    socklen_t length = sizeof value;
    return WS2<wsGetSockOpt>()(socket, SOL_SOCKET, name, &value, &length) == 0 ? value : -1;
  };
  const int type = option(SO_TYPE);
  if (type != SOCK_DGRAM && type != SOCK_RAW) return TIcmpSocketShape::Other;
  const int protocol = option(SO_PROTOCOL);
  if (type == SOCK_DGRAM && protocol == IPPROTO_ICMP) return TIcmpSocketShape::Datagram4;
  if (protocol != IPPROTO_ICMPV6 || option(SO_DOMAIN) != AF_INET6) return TIcmpSocketShape::Other;
  return type == SOCK_RAW ? TIcmpSocketShape::Raw6 : TIcmpSocketShape::Datagram6;
}

bool IsRawIcmp(int family, int type, int protocol) {
  return type == SOCK_RAW && ((family == AF_INET && protocol == IPPROTO_ICMP) ||
                              (family == AF_INET6 && protocol == IPPROTO_ICMPV6));
}

int SetIntOption(TIdStackSocketHandle socket, int level, int name, int value) {
  return WS2<wsSetSockOpt>()(socket, level, name, &value, sizeof value);
}

// An ICMP datagram socket reports errors about our requests only through its
// error queue, and the TTL or hop limit of arriving datagrams only as control
// data; both are asked for here.
int ConfigureIcmpDatagramSocket(TIdStackSocketHandle socket, int family) {
  if (family == AF_INET6) {
    if (SetIntOption(socket, SOL_IPV6, IPV6_RECVERR, 1) != 0) return -1;
    return SetIntOption(socket, SOL_IPV6, IPV6_RECVHOPLIMIT, 1);
  }
  if (SetIntOption(socket, SOL_IP, IP_RECVERR, 1) != 0) return -1;
  return SetIntOption(socket, SOL_IP, IP_RECVTTL, 1);
}

// The raw ICMPv6 socket with its options set, or -1 (and the socket closed).
TIdStackSocketHandle WithRawIcmpV6Options(TIdStackSocketHandle socket) {
  if (ConfigureRawIcmpV6Socket(socket) == 0) return socket;
  const std::int32_t error = tLastSocketError;
  WS2<wsClose>()(socket);
  return FailWith(error);
}

// The buffers of one recvmsg of an ICMP socket, made ready again for each call.
struct TReceiveParts {
  std::array<std::uint8_t, kLargestDatagram> Message;
  alignas(cmsghdr) std::array<std::uint8_t, 512> Control;
  sockaddr_storage Peer{};
  iovec Part{};
  msghdr Header{};

  msghdr& Reset() {
    Peer = sockaddr_storage{};
    Part = iovec{Message.data(), Message.size()};
    Header = msghdr{};
    Header.msg_name = &Peer;
    Header.msg_namelen = sizeof Peer;
    Header.msg_iov = &Part;
    Header.msg_iovlen = 1;
    Header.msg_control = Control.data();
    Header.msg_controllen = Control.size();
    return Header;
  }
  std::span<const std::uint8_t> Received(ssize_t count) const {
    return {Message.data(), static_cast<std::size_t>(count)};
  }
};

}  // namespace

std::int32_t SocketErrorFromErrno(int error) {
  switch (error) {
    case EINTR:
      return Id_WSAEINTR;
    case EBADF:
      return Id_WSAEBADF;
    case EACCES:
    case EPERM:
      return Id_WSAEACCES;
    case EFAULT:
      return Id_WSAEFAULT;
    case EINVAL:
      return Id_WSAEINVAL;
    case EMFILE:
    case ENFILE:
      return Id_WSAEMFILE;
    case EAGAIN:
      return Id_WSAEWOULDBLOCK;  // EWOULDBLOCK is the same number
    case EINPROGRESS:
      return 10036;
    case EALREADY:
      return 10037;
    case ENOTSOCK:
      return 10038;
    case EDESTADDRREQ:
      return 10039;
    case EMSGSIZE:
      return Id_WSAEMSGSIZE;
    case EPROTOTYPE:
      return 10041;
    case ENOPROTOOPT:
      return 10042;
    case EPROTONOSUPPORT:
      return 10043;
    case ESOCKTNOSUPPORT:
      return 10044;
    case EOPNOTSUPP:
      return 10045;  // ENOTSUP is the same number
    case EPFNOSUPPORT:
      return 10046;
    case EAFNOSUPPORT:
      return 10047;
    case EADDRINUSE:
      return 10048;
    case EADDRNOTAVAIL:
      return 10049;
    case ENETDOWN:
      return 10050;
    case ENETUNREACH:
      return 10051;
    case ENETRESET:
      return 10052;
    case ECONNABORTED:
      return 10053;
    case ECONNRESET:
      return 10054;
    case ENOBUFS:
    case ENOMEM:
      return 10055;
    case EISCONN:
      return 10056;
    case ENOTCONN:
      return 10057;
    case ESHUTDOWN:
    case EPIPE:
      return 10058;
    case ETOOMANYREFS:
      return 10059;
    case ETIMEDOUT:
      return Id_WSAETIMEDOUT;
    case ECONNREFUSED:
      return Id_WSAECONNREFUSED;
    case ELOOP:
      return 10062;
    case ENAMETOOLONG:
      return 10063;
    case EHOSTDOWN:
      return 10064;
    case EHOSTUNREACH:
      return 10065;
    case ENOTEMPTY:
      return 10066;
    default:
      return error;
  }
}

std::int32_t SocketErrorFromResolver(int result, int error) {
  switch (result) {
    case EAI_NONAME:
      return Id_WSAHOST_NOT_FOUND;
    case EAI_AGAIN:
      return Id_WSATRY_AGAIN;
    case EAI_FAIL:
      return Id_WSANO_RECOVERY;
#ifdef EAI_NODATA
    case EAI_NODATA:
      return Id_WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
      return Id_WSANO_DATA;
#endif
    case EAI_MEMORY:
      return 10055;
    case EAI_OVERFLOW:
      return Id_WSAEFAULT;
    case EAI_FAMILY:
      return 10047;
    case EAI_SOCKTYPE:
      return 10044;
    case EAI_SYSTEM:
      return SocketErrorFromErrno(error);
    default:
      return Id_WSAEINVAL;  // EAI_BADFLAGS, EAI_SERVICE: arguments of ours
  }
}

TSelectWait SelectWaitFromMs(int timeoutMs) {
  if (timeoutMs == Id_WAIT_NO_LIMIT) return {true, 0, 0};
  return {false, timeoutMs / 1000, (timeoutMs % 1000) * 1000};
}

TIdStackPosix::TIdStackPosix() {
  if (GSocketStarted.load(std::memory_order_acquire)) return;
  TWSAData data;
  if (StartSocketLibrary(kSocketLibraryVersion, &data) != 0) throw EIdStackInitializationFailed();
  GSocketStarted.store(true, std::memory_order_release);
}

int TIdStackPosix::SockClose(TIdStackSocketHandle socket) {
  if (IsIcmpHelperChannel(socket)) return CloseIcmpHelperChannel(socket);
  return WS2<wsClose>()(socket) == 0 ? 0 : FailWithErrno();
}

int TIdStackPosix::SockShutdown(TIdStackSocketHandle socket, int how) {
  if (IsIcmpHelperChannel(socket)) return 0;
  return WS2<wsShutdown>()(socket, how) == 0 ? 0 : FailWithErrno();
}

TIdStackSocketHandle TIdStackPosix::SockOpen(int family, int type, int protocol) {
  const TIdStackSocketHandle socket = WS2<wsSocket>()(family, type, protocol);
  if (socket >= 0) {
    return family == AF_INET6 && IsRawIcmp(family, type, protocol) ? WithRawIcmpV6Options(socket)
                                                                   : socket;
  }
  const int refusal = errno;
  const bool rawIcmpRefused =
      IsRawIcmp(family, type, protocol) && (refusal == EPERM || refusal == EACCES);
  if (!rawIcmpRefused) return FailWith(SocketErrorFromErrno(refusal));

  const TIdStackSocketHandle datagram = WS2<wsSocket>()(family, SOCK_DGRAM, protocol);
  if (datagram < 0) {
    // Last, the installed helper sends the probes for us.
    const TIdStackSocketHandle channel = OpenIcmpHelperChannel(family);
    return channel >= 0 ? channel : FailWith(SocketErrorFromErrno(refusal));
  }
  if (ConfigureIcmpDatagramSocket(datagram, family) != 0) {
    WS2<wsClose>()(datagram);
    return FailWith(SocketErrorFromErrno(refusal));
  }
  return datagram;
}

int ConfigureRawIcmpV6Socket(TIdStackSocketHandle socket) {
  icmp6_filter filter;
  ICMP6_FILTER_SETBLOCKALL(&filter);
  ICMP6_FILTER_SETPASS(ICMP6_ECHO_REPLY, &filter);
  ICMP6_FILTER_SETPASS(ICMP6_DST_UNREACH, &filter);
  ICMP6_FILTER_SETPASS(ICMP6_TIME_EXCEEDED, &filter);
  if (WS2<wsSetSockOpt>()(socket, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter) != 0 ||
      SetIntOption(socket, IPPROTO_IPV6, IPV6_RECVHOPLIMIT, 1) != 0) {
    return FailWithErrno();
  }
  return 0;
}

int TIdStackPosix::SockSetOption(TIdStackSocketHandle socket, int level, int optionName,
                                 const void* value, int valueLength) {
  if (valueLength < 0) return FailWith(Id_WSAEFAULT);
  if (IsIcmpHelperChannel(socket)) {
    // The TTL is the one option a probe of the helper carries.
    if ((level == IPPROTO_IP && optionName == IP_TTL) ||
        (level == IPPROTO_IPV6 && optionName == IPV6_UNICAST_HOPS)) {
      int ttl = 0;
      if (value == nullptr || valueLength < static_cast<int>(sizeof ttl)) {
        return FailWith(Id_WSAEFAULT);
      }
      std::memcpy(&ttl, value, sizeof ttl);
      if (ttl < 1 || ttl > 255) return FailWith(Id_WSAEINVAL);
      SetIcmpHelperChannelTtl(socket, static_cast<std::uint8_t>(ttl));
    }
    return 0;
  }
  const int result =
      WS2<wsSetSockOpt>()(socket, level, optionName, value, static_cast<socklen_t>(valueLength));
  return result == 0 ? 0 : FailWithErrno();
}

bool TIdStackPosix::IsIcmpDatagramSocket(TIdStackSocketHandle socket) {
  const TIcmpSocketShape kind = IcmpSocketShape(socket);
  return kind == TIcmpSocketShape::Datagram4 || kind == TIcmpSocketShape::Datagram6;
}

std::optional<std::uint16_t> TIdStackPosix::SockEchoIdentifier(TIdStackSocketHandle socket) {
  if (!IsIcmpDatagramSocket(socket)) return std::nullopt;
  sockaddr_storage local{};
  socklen_t size = sizeof local;
  if (WS2<wsGetSockName>()(socket, reinterpret_cast<sockaddr*>(&local), &size) != 0)
    return std::nullopt;
  // The port's bytes in network order are the identifier's bytes on the wire;
  // both families keep the port at the same place.
  static_assert(offsetof(sockaddr_in, sin_port) == offsetof(sockaddr_in6, sin6_port));
  std::uint8_t wire[2];
  std::memcpy(wire, reinterpret_cast<const std::uint8_t*>(&local) + offsetof(sockaddr_in, sin_port),
              sizeof wire);
  return static_cast<std::uint16_t>(wire[0] | wire[1] << 8);
}

int TIdStackPosix::SockRecv(TIdStackSocketHandle socket, void* buffer, int length, int flags) {
  if (length < 0) return FailWith(Id_WSAEINVAL);
  if (IsIcmpHelperChannel(socket)) {
    std::int32_t error = 0;
    const int count = ReceiveIcmpHelper(
        socket, {static_cast<std::uint8_t*>(buffer), static_cast<std::size_t>(length)}, error);
    return count >= 0 ? count : FailWith(error);
  }
  switch (IcmpSocketShape(socket)) {
    case TIcmpSocketShape::Datagram4:
      return ReceiveIcmpDatagram(socket, buffer, length, flags);
    case TIcmpSocketShape::Raw6:
      return ReceiveIcmpV6(socket, buffer, length, flags, false);
    case TIcmpSocketShape::Datagram6:
      return ReceiveIcmpV6(socket, buffer, length, flags, true);
    case TIcmpSocketShape::Other:
      break;
  }
  return CountResult(WS2<wsRecv>()(socket, buffer, static_cast<std::size_t>(length), flags));
}

int TIdStackPosix::ReceiveIcmpDatagram(TIdStackSocketHandle socket, void* buffer, int length,
                                       int flags) {
  const auto parts = std::make_unique<TReceiveParts>();
  const std::span<std::uint8_t> out(static_cast<std::uint8_t*>(buffer),
                                    static_cast<std::size_t>(length));

  // Errors about our requests first: they are what made the socket readable
  // when no reply is waiting.
  ssize_t count = WS2<wsRecvMsg>()(socket, &parts->Reset(), flags | MSG_ERRQUEUE | MSG_DONTWAIT);
  if (count >= 0) {
    TIcmpErrorReport report;
    if (!ReadErrorQueueMessage(parts->Header, report)) return FailWith(Id_WSAEINVAL);
    if (!report.FromIcmp) return FailWith(SocketErrorFromErrno(report.Errno));
    return BuildErrorDatagram(report, parts->Received(count), out);
  }
  if (errno != EAGAIN) return FailWithErrno();  // EWOULDBLOCK is the same number

  count = WS2<wsRecvMsg>()(socket, &parts->Reset(), flags);
  if (count < 0) return FailWithErrno();
  sockaddr_in peer{};
  std::memcpy(&peer, &parts->Peer, sizeof peer);
  return BuildReplyDatagram(parts->Received(count), BytesOf(peer.sin_addr),
                            TtlFromControl(parts->Header, Id_DEFAULT_REPLY_TTL), out);
}

int TIdStackPosix::ReceiveIcmpV6(TIdStackSocketHandle socket, void* buffer, int length, int flags,
                                 bool datagram) {
  const auto parts = std::make_unique<TReceiveParts>();
  const std::span<std::uint8_t> out(static_cast<std::uint8_t*>(buffer),
                                    static_cast<std::size_t>(length));
  ssize_t count = 0;
  if (datagram) {
    count = WS2<wsRecvMsg>()(socket, &parts->Reset(), flags | MSG_ERRQUEUE | MSG_DONTWAIT);
    if (count >= 0) {
      TIcmp6ErrorReport report;
      if (!ReadErrorQueueMessageV6(parts->Header, report)) return FailWith(Id_WSAEINVAL);
      if (!report.FromIcmp) return FailWith(SocketErrorFromErrno(report.Errno));
      return BuildErrorDatagramV6(report, parts->Received(count), out);
    }
    if (errno != EAGAIN) return FailWithErrno();
  }
  // A raw socket hands over every message whole, errors with their quotes.
  count = WS2<wsRecvMsg>()(socket, &parts->Reset(), flags);
  if (count < 0) return FailWithErrno();
  sockaddr_in6 peer{};
  std::memcpy(&peer, &parts->Peer, sizeof peer);
  TIdIPv6Bytes source{};
  std::memcpy(source.data(), &peer.sin6_addr, source.size());
  return BuildReplyDatagramV6(parts->Received(count), source,
                              HopLimitFromControl(parts->Header, Id_DEFAULT_REPLY_TTL), out);
}

void TIdStackPosix::DropStaleErrors(TIdStackSocketHandle socket) {
  std::array<std::uint8_t, 576> discard;
  alignas(cmsghdr) std::array<std::uint8_t, 512> control;
  // Bounded, so that a flood of reports cannot hold the sender here.
  for (int report = 0; report < 64; ++report) {
    iovec part{discard.data(), discard.size()};
    msghdr header{};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    header.msg_control = control.data();
    header.msg_controllen = control.size();
    if (WS2<wsRecvMsg>()(socket, &header, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) break;
  }
  // Reading the pending error clears it, whatever the queue held.
  int pending = 0;
  socklen_t size = sizeof pending;
  WS2<wsGetSockOpt>()(socket, SOL_SOCKET, SO_ERROR, &pending, &size);
}

bool IPv6SocketAddress(const std::string& address, int port, sockaddr_in6& target) {
  TIdIPv6Address parsed;
  if (!ParseIPv6Text(address, parsed)) {
    errno = EINVAL;
    return false;
  }
  target = sockaddr_in6{};
  target.sin6_family = AF_INET6;
  target.sin6_port = WS2<wsHtons>()(static_cast<std::uint16_t>(port));
  std::memcpy(&target.sin6_addr, parsed.Bytes.data(), parsed.Bytes.size());
  if (ZoneToScopeId(parsed.Zone, WS2<wsIfNameToIndex>(), target.sin6_scope_id)) return true;
  errno = std::isdigit(static_cast<unsigned char>(parsed.Zone.front())) != 0 ? EINVAL : ENODEV;
  return false;
}

int TIdStackPosix::SockSendTo(TIdStackSocketHandle socket, const void* buffer, int length,
                              int flags, const std::string& address, int port) {
  const bool helper = IsIcmpHelperChannel(socket);
  if (!helper && IsIcmpDatagramSocket(socket)) DropStaleErrors(socket);
  const std::span<const std::uint8_t> request(static_cast<const std::uint8_t*>(buffer),
                                              static_cast<std::size_t>(std::max(length, 0)));
  std::int32_t error = 0;
  if (IsIPv6Text(address)) {
    sockaddr_in6 target{};
    if (!IPv6SocketAddress(address, port, target)) return FailWithErrno();
    if (length < 0) return FailWith(Id_WSAEINVAL);
    if (helper) {
      TIdIPv6Bytes bytes{};
      std::memcpy(bytes.data(), &target.sin6_addr, bytes.size());
      const int count = SendIcmpHelperEcho(socket, request, bytes, target.sin6_scope_id, error);
      return count >= 0 ? count : FailWith(error);
    }
    return CountResult(WS2<wsSendTo>()(socket, buffer, static_cast<std::size_t>(length), flags,
                                       reinterpret_cast<const sockaddr*>(&target), sizeof target));
  }
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = WS2<wsHtons>()(static_cast<std::uint16_t>(port));
  target.sin_addr.s_addr = TextToAddr(address);
  if (length < 0) return FailWith(Id_WSAEINVAL);
  if (helper) {
    const int count = SendIcmpHelperEcho(socket, request, BytesOf(target.sin_addr), error);
    return count >= 0 ? count : FailWith(error);
  }
  return CountResult(WS2<wsSendTo>()(socket, buffer, static_cast<std::size_t>(length), flags,
                                     reinterpret_cast<const sockaddr*>(&target), sizeof target));
}

namespace {

// The socket address of address text and a port, of either family; false with
// errno set when the text names no address.
bool SocketAddress(TIdStack& stack, const std::string& address, int port, sockaddr_storage& target,
                   socklen_t& size) {
  target = sockaddr_storage{};
  if (IsIPv6Text(address)) {
    sockaddr_in6 v6{};
    if (!IPv6SocketAddress(address, port, v6)) return false;
    std::memcpy(&target, &v6, sizeof v6);
    size = sizeof v6;
    return true;
  }
  sockaddr_in v4{};
  v4.sin_family = AF_INET;
  v4.sin_port = WS2<wsHtons>()(static_cast<std::uint16_t>(port));
  v4.sin_addr.s_addr = stack.TextToAddr(address);
  std::memcpy(&target, &v4, sizeof v4);
  size = sizeof v4;
  return true;
}

// Whether a connect under way has completed: writable, with no error.
bool Connected(TIdStackSocketHandle socket) {
  pollfd fd{socket, POLLOUT, 0};
  const timespec now{0, 0};
  return WS2<wsPPoll>()(&fd, 1, &now, nullptr) == 1 && (fd.revents & (POLLERR | POLLHUP)) == 0 &&
         (fd.revents & POLLOUT) != 0;
}

// Whether two socket addresses of our families name the same host, any port.
bool SameHost(const sockaddr_storage& a, const sockaddr_storage& b) {
  if (a.ss_family != b.ss_family) return false;
  if (a.ss_family == AF_INET) {
    sockaddr_in x{};
    sockaddr_in y{};
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x.sin_addr.s_addr == y.sin_addr.s_addr;
  }
  sockaddr_in6 x{};
  sockaddr_in6 y{};
  std::memcpy(&x, &a, sizeof x);
  std::memcpy(&y, &b, sizeof y);
  return std::memcmp(&x.sin6_addr, &y.sin6_addr, sizeof x.sin6_addr) == 0;
}

int SocketOption(TIdStackSocketHandle socket, int level, int name) {
  int value = 0;
  socklen_t size = sizeof value;
  return WS2<wsGetSockOpt>()(socket, level, name, &value, &size) == 0 ? value : -1;
}

}  // namespace

TIdStackSocketHandle TIdStackPosix::SockOpenProbe(TIdIPVersion version, int type, int ttl) {
  if ((type != SOCK_DGRAM && type != SOCK_STREAM) || ttl < 1 || ttl > 255)
    return FailWith(Id_WSAEINVAL);
  const bool v6 = version == TIdIPVersion::ivIPv6;
  const TIdStackSocketHandle socket =
      WS2<wsSocket>()(v6 ? AF_INET6 : AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (socket < 0) return FailWithErrno();
  const bool ready = v6 ? SetIntOption(socket, SOL_IPV6, IPV6_RECVERR, 1) == 0 &&
                              SetIntOption(socket, SOL_IPV6, IPV6_RECVHOPLIMIT, 1) == 0 &&
                              SetIntOption(socket, SOL_IPV6, IPV6_UNICAST_HOPS, ttl) == 0
                        : SetIntOption(socket, SOL_IP, IP_RECVERR, 1) == 0 &&
                              SetIntOption(socket, SOL_IP, IP_RECVTTL, 1) == 0 &&
                              SetIntOption(socket, SOL_IP, IP_TTL, ttl) == 0;
  if (ready) return socket;
  const int error = errno;
  WS2<wsClose>()(socket);
  return FailWith(SocketErrorFromErrno(error));
}

int TIdStackPosix::SockConnect(TIdStackSocketHandle socket, const std::string& address, int port) {
  sockaddr_storage target{};
  socklen_t size = 0;
  if (!SocketAddress(*this, address, port, target, size)) return FailWithErrno();
  if (WS2<wsConnect>()(socket, reinterpret_cast<const sockaddr*>(&target), size) == 0) return 0;
  return FailWithErrno();
}

int TIdStackPosix::SockProbeAnswer(TIdStackSocketHandle socket, const std::string& target,
                                   TReplyStatus& reply) {
  const auto parts = std::make_unique<TReceiveParts>();
  // The routers' errors first; bounded, so that a flood cannot hold the probe.
  for (int record = 0; record < 64; ++record) {
    if (WS2<wsRecvMsg>()(socket, &parts->Reset(), MSG_ERRQUEUE | MSG_DONTWAIT) < 0) {
      if (errno == EAGAIN) break;
      return FailWithErrno();
    }
    if (DecodeProbeError(parts->Header, target, reply)) return 1;
  }
  if (SocketOption(socket, SOL_SOCKET, SO_TYPE) == SOCK_STREAM) {
    const bool connected = Connected(socket);
    const int pending = SocketOption(socket, SOL_SOCKET, SO_ERROR);  // reading clears it
    if (connected) {
      // Reset on close: the target keeps nothing of the probe.
      const linger now{1, 0};
      WS2<wsSetSockOpt>()(socket, SOL_SOCKET, SO_LINGER, &now, sizeof now);
    }
    if ((connected || pending != 0) && DecodeConnectOutcome(pending, target, reply)) return 1;
    // Failed without a word from the network (no route, the neighbour never
    // answered): nobody answered this probe, and its socket is done.
    if (pending > 0) {
      reply = TReplyStatus{};
      reply.ReplyFrom = "0.0.0.0";
      reply.StatusKind = TReplyStatusKind::rskTimedOut;
      return 1;
    }
    return 0;
  }
  // A UDP service of the target that answers the probe: the target reached.
  // A pending error that this read reports (and clears) left no record
  // behind: nothing to take.
  if (WS2<wsRecvMsg>()(socket, &parts->Reset(), MSG_DONTWAIT) < 0) return 0;
  sockaddr_storage expected{};
  socklen_t size = 0;
  const bool fromTarget = SocketAddress(*this, target, 0, expected, size) &&
                          parts->Header.msg_namelen >= size && SameHost(parts->Peer, expected);
  return fromTarget && DecodeConnectOutcome(0, target, reply) ? 1 : 0;
}

int TIdStackPosix::SockSelect(TIdSocketList* readList, TIdSocketList* writeList,
                              TIdSocketList* errorList, int timeoutMs) {
  if (ListSize(readList) > Id_SELECT_LIST_MAX || ListSize(writeList) > Id_SELECT_LIST_MAX ||
      ListSize(errorList) > Id_SELECT_LIST_MAX) {
    throw EIdStackSetSizeExceeded();
  }
  const TSelectWait wait = SelectWaitFromMs(timeoutMs);
  if (!wait.Unlimited && (wait.Seconds < 0 || wait.Microseconds < 0)) return FailWith(Id_WSAEINVAL);

  // poll() rather than select(): a descriptor number at or above FD_SETSIZE
  // would write past select()'s fixed sets.
  struct TWaitList {
    TIdSocketList* List;
    short Asked;
    short Ready;  // what counts as ready, as select() counts it
  };
  // An error on an ICMP datagram socket is a queued ICMP error: readable.
  const TWaitList lists[3] = {{readList, POLLIN, POLLIN | POLLHUP | POLLERR},
                              {writeList, POLLOUT, POLLOUT | POLLERR},
                              {errorList, POLLPRI, POLLPRI}};
  std::array<pollfd, 3 * Id_SELECT_LIST_MAX> fds{};
  nfds_t used = 0;
  for (const TWaitList& wl : lists) {
    if (wl.List == nullptr) continue;
    for (TIdStackSocketHandle handle : *wl.List) fds[used++] = pollfd{handle, wl.Asked, 0};
  }
  const timespec limit{static_cast<time_t>(wait.Seconds),
                       static_cast<long>(wait.Microseconds * 1000)};
  const int result = WS2<wsPPoll>()(fds.data(), used, wait.Unlimited ? nullptr : &limit, nullptr);
  if (result < 0) return FailWithErrno();
  for (nfds_t i = 0; i < used; ++i) {
    if ((fds[i].revents & POLLNVAL) != 0) return FailWith(Id_WSAEBADF);
  }

  int ready = 0;
  nfds_t next = 0;
  for (const TWaitList& wl : lists) {
    if (wl.List == nullptr) continue;
    TIdSocketList readyHandles;
    for (std::size_t i = 0; i < wl.List->size(); ++i, ++next) {
      if ((fds[next].revents & wl.Ready) != 0) readyHandles.push_back(fds[next].fd);
    }
    ready += static_cast<int>(readyHandles.size());
    *wl.List = std::move(readyHandles);
  }
  return ready;
}

std::int32_t TIdStackPosix::GetSocketError() {
  return tLastSocketError;
}

std::string TIdStackPosix::HostNameToAddr(const std::string& hostName) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;  // one entry per address
  addrinfo* found = nullptr;
  const int result = WS2<wsGetAddrInfo>()(hostName.c_str(), nullptr, &hints, &found);
  if (result != 0) {
    FailWith(SocketErrorFromResolver(result, errno));
    CheckSocketCall(Id_SOCKET_ERROR);
  }
  TIdIPv4Bytes bytes{};
  bool any = false;
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family == AF_INET && entry->ai_addr != nullptr &&
        entry->ai_addrlen >= sizeof(sockaddr_in)) {
      sockaddr_in address{};
      std::memcpy(&address, entry->ai_addr, sizeof address);
      bytes = BytesOf(address.sin_addr);
      any = true;
      break;
    }
  }
  WS2<wsFreeAddrInfo>()(found);
  if (!any) {
    // A result without an address is as good as none.
    FailWith(Id_WSAHOST_NOT_FOUND);
    CheckSocketCall(Id_SOCKET_ERROR);
  }
  return AddrToText(bytes);
}

std::string TIdStackPosix::AddrToHostName(const std::string& address) {
  sockaddr_storage target{};
  socklen_t size = sizeof(sockaddr_in);
  // Text that is no address is not looked up at all.
  bool valid = false;
  if (IsIPv6Text(address)) {
    sockaddr_in6 v6{};
    valid = IPv6SocketAddress(address, 0, v6);
    std::memcpy(&target, &v6, sizeof v6);
    size = sizeof v6;
  } else {
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    valid = WS2<wsInetAton>()(address.c_str(), &v4.sin_addr) != 0;
    std::memcpy(&target, &v4, sizeof v4);
  }
  if (!valid) {
    FailWith(Id_WSAEINVAL);
    CheckSocketCall(Id_SOCKET_ERROR);
  }
  char name[NI_MAXHOST] = {};
  const int result = WS2<wsGetNameInfo>()(reinterpret_cast<const sockaddr*>(&target), size, name,
                                          sizeof name, nullptr, 0, NI_NAMEREQD);
  if (result != 0) {
    FailWith(SocketErrorFromResolver(result, errno));
    CheckSocketCall(Id_SOCKET_ERROR);
  }
  return name;
}

std::string TIdStackPosix::HostNameToAddrOf(const std::string& hostName, TIdIPVersion version) {
  int result = 0;
  const std::string address = FirstAddressOfName<addrinfo, sockaddr_in, sockaddr_in6>(
      *this, hostName, version, {AF_UNSPEC, AF_INET, AF_INET6, SOCK_DGRAM, AI_ADDRCONFIG},
      WS2<wsGetAddrInfo>(), WS2<wsFreeAddrInfo>(), result);
  if (address.empty()) {
    // A result without an address is as good as none.
    FailWith(result != 0 ? SocketErrorFromResolver(result, errno) : Id_WSAHOST_NOT_FOUND);
    CheckSocketCall(Id_SOCKET_ERROR);
  }
  return address;
}

TIdInterfaceIndexOf TIdStackPosix::InterfaceIndexOf() {
  return WS2<wsIfNameToIndex>();
}

std::string TIdStackPosix::SocketErrorText(std::int32_t errorCode) {
  std::string text = TIdStack::SocketErrorText(errorCode);
  // An errno value without a Winsock number still deserves its own text.
  if (errorCode > 0 && errorCode < 10000) text += SystemErrorMessage(errorCode);
  return text;
}

std::unique_ptr<TIdStack> CreatePosixStack() {
  return std::make_unique<TIdStackPosix>();
}

std::unique_ptr<TIdStack> CreateSystemStack() {
  return CreatePosixStack();
}

}  // namespace quillon
