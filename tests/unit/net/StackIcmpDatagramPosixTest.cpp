// What the stack makes of an ICMP datagram socket's replies and error reports:
// the IPv4 datagrams a raw socket would have delivered, byte for byte.
#include <gtest/gtest.h>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "net/IcmpDatagramPosix.h"
#include "net/IdStackPosix.h"
#include "net/IdWinSock2Posix.h"
#include "net/ProbeAnswerPosix.h"
#include "net/ProbeMethod.h"

namespace quillon {
namespace {

using TBytes = std::vector<std::uint8_t>;

// An echo request with sequence number 3489 (least significant byte first).
const TBytes kRequest = {0x08, 0x00, 0xAB, 0xCD, 0x39, 0x30, 0xA1, 0x0D, 0x78, 0x56, 0x34, 0x12};

// Where the ICMP client reads type and sequence number in a received datagram.
int HeaderLength(const TBytes& datagram) {
  return (datagram[0] & 15) * 4;
}
std::uint16_t EchoSequence(const TBytes& datagram) {
  const auto h = static_cast<std::size_t>(HeaderLength(datagram));
  return static_cast<std::uint16_t>(datagram[h + 6] | datagram[h + 7] << 8);
}
std::uint16_t QuotedSequence(const TBytes& datagram) {
  const auto h = static_cast<std::size_t>(HeaderLength(datagram));
  return static_cast<std::uint16_t>(datagram[h + 8 + h + 6] | datagram[h + 8 + h + 7] << 8);
}

std::span<const std::uint8_t> From(const TBytes& bytes, std::size_t offset) {
  return std::span<const std::uint8_t>(bytes).subspan(offset);
}

TEST(StackIcmpDatagramTest, ChecksumFollowsRfc1071) {
  const TBytes example = {0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7};
  EXPECT_EQ(InternetChecksum(example), 0x220D);
  const TBytes odd = {0x01, 0x02, 0x03};  // padded: 0102 + 0300
  EXPECT_EQ(InternetChecksum(odd), static_cast<std::uint16_t>(~0x0402));
  EXPECT_EQ(InternetChecksum({}), 0xFFFF);
}

TEST(StackIcmpDatagramTest, HeaderCarriesLengthTtlProtocolAddressesAndChecksum) {
  std::uint8_t header[Id_IP_HEADER_SIZE];
  WriteIcmpIpHeader(header, 32, 57, {10, 1, 2, 3}, {0, 0, 0, 0});
  const TBytes expected = {0x45, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x39, 0x01,
                           0x75, 0xDA, 0x0A, 0x01, 0x02, 0x03, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(TBytes(header, header + Id_IP_HEADER_SIZE), expected);
}

TEST(StackIcmpDatagramTest, ReplyGetsTheHeaderARawSocketWouldDeliver) {
  const TBytes reply = {0x00, 0x00, 0x12, 0x34, 0x39, 0x30, 0xA1, 0x0D, 0x78, 0x56, 0x34, 0x12};
  TBytes out(100, 0xEE);
  const int written = BuildReplyDatagram(reply, {127, 0, 0, 1}, 64, out);
  ASSERT_EQ(written, 32);
  const TBytes expected = {0x45, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x40, 0x01, 0xFB,
                           0xDC, 0x7F, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                           0x12, 0x34, 0x39, 0x30, 0xA1, 0x0D, 0x78, 0x56, 0x34, 0x12};
  EXPECT_EQ(TBytes(out.begin(), out.begin() + written), expected);
  EXPECT_EQ(out[32], 0xEE) << "wrote past the datagram";

  const TBytes datagram(out.begin(), out.begin() + written);
  EXPECT_EQ(datagram[static_cast<std::size_t>(HeaderLength(datagram))], 0);  // echo reply
  EXPECT_EQ(EchoSequence(datagram), 3489);
}

TEST(StackIcmpDatagramTest, ReplyLongerThanTheBufferIsCutLikeAShortReceive) {
  const TBytes reply(100, 0x5A);
  TBytes out(40, 0);
  EXPECT_EQ(BuildReplyDatagram(reply, {1, 2, 3, 4}, 1, out), 40);
  EXPECT_EQ(out[2], 0x00);
  EXPECT_EQ(out[3], 120);  // the length the datagram had
  EXPECT_EQ(out[20], 0x5A);
  EXPECT_EQ(out[39], 0x5A);

  TBytes tiny(8, 0);
  EXPECT_EQ(BuildReplyDatagram(reply, {1, 2, 3, 4}, 1, tiny), 8);
  EXPECT_EQ(tiny[0], 0x45);
  EXPECT_EQ(BuildReplyDatagram(reply, {1, 2, 3, 4}, 1, {}), 0);
}

TEST(StackIcmpDatagramTest, TimeExceededReportBecomesTheWholeErrorDatagram) {
  TIcmpErrorReport report;
  report.FromIcmp = true;
  report.Type = 11;
  report.Code = 0;
  report.Offender = {198, 18, 0, 2};
  report.OriginalDestination = {198, 18, 3, 2};
  report.Ttl = 63;
  TBytes out(200, 0xEE);
  const int written = BuildErrorDatagram(report, kRequest, out);
  ASSERT_EQ(written, 60);
  // clang-format off
  const TBytes expected = {
      // the offender's datagram
      0x45, 0x00, 0x00, 0x3C, 0x00, 0x00, 0x00, 0x00, 0x3F, 0x01, 0xB5, 0xAD,
      0xC6, 0x12, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00,
      // time exceeded, in transit
      0x0B, 0x00, 0xBA, 0x8B, 0x00, 0x00, 0x00, 0x00,
      // the request's header as quoted
      0x45, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0xF1, 0xC9,
      0x00, 0x00, 0x00, 0x00, 0xC6, 0x12, 0x03, 0x02,
      // the request itself
      0x08, 0x00, 0xAB, 0xCD, 0x39, 0x30, 0xA1, 0x0D, 0x78, 0x56, 0x34, 0x12};
  // clang-format on
  const TBytes datagram(out.begin(), out.begin() + written);
  EXPECT_EQ(datagram, expected);
  EXPECT_EQ(out[60], 0xEE);

  EXPECT_EQ(InternetChecksum(From(datagram, 0).first(20)), 0);
  EXPECT_EQ(InternetChecksum(From(datagram, 20)), 0);
  EXPECT_EQ(InternetChecksum(From(datagram, 28).first(20)), 0);
  EXPECT_EQ(datagram[static_cast<std::size_t>(HeaderLength(datagram))], 11);
  EXPECT_EQ(QuotedSequence(datagram), 3489);
}

TEST(StackIcmpDatagramTest, UnreachableReportsKeepCodeAndNextHopMtu) {
  TIcmpErrorReport report;
  report.FromIcmp = true;
  report.Type = 3;
  report.Code = 4;  // fragmentation needed
  report.Info = 1400;
  TBytes out(200, 0);
  const TBytes oddRequest = {0x08, 0x00, 0x00, 0x00, 0x01, 0x02, 0xFF, 0xFE, 0x07};
  const int written = BuildErrorDatagram(report, oddRequest, out);
  ASSERT_EQ(written, 48 + 9);
  EXPECT_EQ(out[20], 3);
  EXPECT_EQ(out[21], 4);
  EXPECT_EQ(out[26], 0x05);
  EXPECT_EQ(out[27], 0x78);
  EXPECT_EQ(out[8], Id_DEFAULT_REPLY_TTL);
  // An odd quoted length is summed with a zero pad byte, not with what follows.
  out[57] = 0xAA;
  EXPECT_EQ(InternetChecksum(std::span<const std::uint8_t>(out).subspan(20, 37)), 0);
  const TBytes datagram(out.begin(), out.begin() + written);
  EXPECT_EQ(QuotedSequence(datagram), 0xFEFF);

  report.Code = 1;  // host unreachable: the unused field stays zero
  BuildErrorDatagram(report, oddRequest, out);
  EXPECT_EQ(out[26], 0);
  EXPECT_EQ(out[27], 0);
}

TEST(StackIcmpDatagramTest, ErrorDatagramIsCutToTheBuffer) {
  TIcmpErrorReport report;
  report.Type = 11;
  TBytes out(30, 0xEE);
  EXPECT_EQ(BuildErrorDatagram(report, kRequest, out), 30);
  EXPECT_EQ(out[3], 60);
  EXPECT_EQ(out[20], 11);
  EXPECT_EQ(out[28], 0x45);
}

// An error-queue message as the kernel hands it over: sent to 198.18.3.2 and
// answered by 198.18.0.2, or over IPv6 to 2000::2 and answered by 2000::1.
class TErrorQueueMessage {
 public:
  TErrorQueueMessage(std::uint8_t origin, std::uint8_t type, std::uint8_t code, int error,
                     bool withOffender, int ttl, bool v6 = false) {
    header_.msg_name = v6 ? static_cast<void*>(&destination6_) : &destination_;
    header_.msg_namelen = v6 ? sizeof destination6_ : sizeof destination_;
    header_.msg_control = control_;
    header_.msg_controllen = sizeof control_;
    destination_.sin_family = AF_INET;
    const std::uint8_t to[4] = {198, 18, 3, 2};
    std::memcpy(&destination_.sin_addr, to, 4);
    destination6_.sin6_family = AF_INET6;
    destination6_.sin6_addr.s6_addr[0] = 0x20;
    destination6_.sin6_addr.s6_addr[15] = 2;

    sock_extended_err extended{};
    extended.ee_errno = static_cast<std::uint32_t>(error);
    extended.ee_origin = origin;
    extended.ee_type = type;
    extended.ee_code = code;
    sockaddr_in offender{};
    offender.sin_family = AF_INET;
    const std::uint8_t from[4] = {198, 18, 0, 2};
    std::memcpy(&offender.sin_addr, from, 4);
    sockaddr_in6 offender6 = destination6_;
    offender6.sin6_addr.s6_addr[15] = 1;
    const void* by = v6 ? static_cast<const void*>(&offender6) : &offender;
    const std::size_t byLength = withOffender ? (v6 ? sizeof offender6 : sizeof offender) : 0;

    cmsghdr* c = CMSG_FIRSTHDR(&header_);
    c->cmsg_level = v6 ? SOL_IPV6 : SOL_IP;
    c->cmsg_type = v6 ? IPV6_RECVERR : IP_RECVERR;
    c->cmsg_len = CMSG_LEN(sizeof extended + byLength);
    std::memcpy(CMSG_DATA(c), &extended, sizeof extended);
    std::memcpy(CMSG_DATA(c) + sizeof extended, by, byLength);
    std::size_t used = CMSG_SPACE(sizeof extended + byLength);
    if (ttl >= 0) {
      cmsghdr* t = reinterpret_cast<cmsghdr*>(control_ + used);
      t->cmsg_level = v6 ? SOL_IPV6 : SOL_IP;
      t->cmsg_type = v6 ? IPV6_HOPLIMIT : IP_TTL;
      t->cmsg_len = CMSG_LEN(sizeof(int));
      std::memcpy(CMSG_DATA(t), &ttl, sizeof ttl);
      used += CMSG_SPACE(sizeof(int));
    }
    header_.msg_controllen = used;
  }
  const msghdr& Header() const { return header_; }
  msghdr& Header() { return header_; }

 private:
  alignas(cmsghdr) std::uint8_t control_[256] = {};
  sockaddr_in destination_{};
  sockaddr_in6 destination6_{};
  msghdr header_{};
};

TEST(StackIcmpDatagramTest, ErrorQueueMessageGivesTypeCodeOffenderTtlAndDestination) {
  const TErrorQueueMessage message(SO_EE_ORIGIN_ICMP, 11, 0, EHOSTUNREACH, true, 61);
  TIcmpErrorReport report;
  ASSERT_TRUE(ReadErrorQueueMessage(message.Header(), report));
  EXPECT_TRUE(report.FromIcmp);
  EXPECT_EQ(report.Errno, EHOSTUNREACH);
  EXPECT_EQ(report.Type, 11);
  EXPECT_EQ(report.Code, 0);
  EXPECT_EQ(report.Offender, (TIdIPv4Bytes{198, 18, 0, 2}));
  EXPECT_EQ(report.OriginalDestination, (TIdIPv4Bytes{198, 18, 3, 2}));
  EXPECT_EQ(report.Ttl, 61);
}

TEST(StackIcmpDatagramTest, ErrorQueueMessageWithoutTtlOrOffenderKeepsTheDefaults) {
  const TErrorQueueMessage message(SO_EE_ORIGIN_ICMP, 3, 3, ECONNREFUSED, false, -1);
  TIcmpErrorReport report;
  ASSERT_TRUE(ReadErrorQueueMessage(message.Header(), report));
  EXPECT_EQ(report.Type, 3);
  EXPECT_EQ(report.Code, 3);
  EXPECT_EQ(report.Offender, (TIdIPv4Bytes{0, 0, 0, 0}));
  EXPECT_EQ(report.Ttl, Id_DEFAULT_REPLY_TTL);
  EXPECT_EQ(TtlFromControl(message.Header(), 7), 7);
}

TEST(StackIcmpDatagramTest, LocalErrorsAndMessagesWithoutAReportAreTold) {
  const TErrorQueueMessage local(SO_EE_ORIGIN_LOCAL, 0, 0, EMSGSIZE, false, -1);
  TIcmpErrorReport report;
  ASSERT_TRUE(ReadErrorQueueMessage(local.Header(), report));
  EXPECT_FALSE(report.FromIcmp);
  EXPECT_EQ(report.Errno, EMSGSIZE);

  TErrorQueueMessage bare(SO_EE_ORIGIN_ICMP, 11, 0, 0, true, 5);
  bare.Header().msg_controllen = 0;
  TIcmpErrorReport none;
  EXPECT_FALSE(ReadErrorQueueMessage(bare.Header(), none));
  EXPECT_EQ(TtlFromControl(bare.Header(), 9), 9);
}

TEST(StackIcmpDatagramTest, IPv6ErrorQueueMessageGivesTypeCodeOffenderHopLimitAndDestination) {
  const TErrorQueueMessage message(SO_EE_ORIGIN_ICMP6, 1, 1, EACCES, true, 62, true);
  const msghdr& header = message.Header();
  TIcmp6ErrorReport report;
  ASSERT_TRUE(ReadErrorQueueMessageV6(header, report));
  EXPECT_TRUE(report.FromIcmp);
  EXPECT_EQ(report.Type, 1);
  EXPECT_EQ(report.Code, 1);
  EXPECT_EQ(IPv6ToText(report.Offender), "2000::1");
  EXPECT_EQ(IPv6ToText(report.OriginalDestination), "2000::2");
  EXPECT_EQ(report.Ttl, 62);
  EXPECT_EQ(HopLimitFromControl(header, 9), 62);
  EXPECT_EQ(TtlFromControl(header, 9), 9) << "an IPv4 TTL is another message";
  TIcmpErrorReport v4;
  EXPECT_FALSE(ReadErrorQueueMessage(header, v4)) << "an IPv4 reader finds no IPv4 report";
}

TEST(StackIcmpDatagramTest, TtlComesFromTheControlData) {
  const TErrorQueueMessage message(SO_EE_ORIGIN_ICMP, 0, 0, 0, false, 1);
  EXPECT_EQ(TtlFromControl(message.Header(), 64), 1);
  const TErrorQueueMessage high(SO_EE_ORIGIN_ICMP, 0, 0, 0, true, 255);
  EXPECT_EQ(TtlFromControl(high.Header(), 64), 255);
}

// A UDP or TCP probe's error-queue record, or its connect's outcome, as the
// result the engine reads; over IPv4 the router is 198.18.0.2, over IPv6
// 2000::1 (TErrorQueueMessage).
TEST(StackIcmpDatagramTest, ProbeAnswersDecodeIntoTheEnginesResult) {
  using K = TReplyStatusKind;
  constexpr auto kIcmp = SO_EE_ORIGIN_ICMP;
  constexpr auto kIcmp6 = SO_EE_ORIGIN_ICMP6;
  constexpr int kQueue = -1;         // an error-queue record, not a connect's outcome
  constexpr std::optional<K> kNone;  // answers nothing
  // Targets: beyond the router, or the router itself.
  const char *kFar = "198.18.3.2", *kRouter = "198.18.0.2", *kFar6 = "2000::2",
             *kRouter6 = "2000::1";
  const struct {
    const char* Name;
    int Connect;  // the connect's errno, or kQueue
    std::uint8_t Origin, Type, Code;
    bool Offender;
    int Ttl;  // -1: none given
    const char* Target;
    std::optional<K> Kind;
  } rows[] = {
      {"time exceeded", kQueue, kIcmp, 11, 0, true, 61, kFar, K::rskTtlExpired},
      {"time exceeded v6", kQueue, kIcmp6, 3, 0, true, 62, kFar6, K::rskTtlExpired},
      {"port unreachable from the target", kQueue, kIcmp, 3, 3, true, 60, kRouter, K::rskEchoReply},
      {"the same v6", kQueue, kIcmp6, 1, 4, true, 60, kRouter6, K::rskEchoReply},
      {"port unreachable from a router", kQueue, kIcmp, 3, 3, true, 61, kFar, K::rskUnreachable},
      {"host unreachable", kQueue, kIcmp, 3, 1, true, 61, kFar, K::rskUnreachable},
      {"no route v6", kQueue, kIcmp6, 1, 0, true, 61, kFar6, K::rskUnreachable},
      {"administratively prohibited", kQueue, kIcmp, 3, 13, true, 61, kFar, K::rskUnreachable},
      {"the same by the target itself", kQueue, kIcmp, 3, 13, true, 60, kRouter, K::rskUnreachable},
      {"no arrival TTL given", kQueue, kIcmp, 11, 0, true, -1, kFar, K::rskTtlExpired},
      {"a quote too short to name the sender", kQueue, kIcmp, 11, 0, false, 61, kFar, kNone},
      {"the same v6", kQueue, kIcmp6, 3, 0, false, 61, kFar6, kNone},
      {"a local error", kQueue, SO_EE_ORIGIN_LOCAL, 0, 0, true, -1, kFar, kNone},
      {"another ICMP type", kQueue, kIcmp, 12, 0, true, 61, kFar, kNone},
      {"connected: a SYN-ACK", 0, 0, 0, 0, false, -1, kFar, K::rskEchoReply},
      {"refused: a reset", ECONNREFUSED, 0, 0, 0, false, -1, kFar6, K::rskEchoReply},
      {"a connect that failed otherwise", EHOSTUNREACH, 0, 0, 0, false, -1, kFar, kNone},
  };
  for (const auto& row : rows) {
    const bool v6 = std::string(row.Target).find(':') != std::string::npos;
    const bool reached = row.Kind == K::rskEchoReply;
    TReplyStatus reply;
    reply.ReplyFrom = "untouched";
    const TErrorQueueMessage record(row.Origin, row.Type, row.Code, EHOSTUNREACH, row.Offender,
                                    row.Ttl, v6);
    const bool answers = row.Connect == kQueue
                             ? DecodeProbeError(record.Header(), row.Target, reply)
                             : DecodeConnectOutcome(row.Connect, row.Target, reply);
    ASSERT_EQ(answers, row.Kind.has_value()) << row.Name;
    if (!answers) {
      EXPECT_EQ(reply.ReplyFrom, "untouched") << row.Name;
      continue;
    }
    EXPECT_EQ(reply.StatusKind, row.Kind) << row.Name;
    EXPECT_EQ(reply.ReplyFrom, reached ? row.Target : v6 ? kRouter6 : kRouter) << row.Name;
    EXPECT_EQ(reply.IcmpType, reached ? (v6 ? 129 : 0) : row.Type) << row.Name;
    EXPECT_EQ(reply.IcmpCode, reached ? 0 : row.Code) << row.Name;
    EXPECT_EQ(reply.ReplyTtl, row.Ttl < 0 ? 0 : row.Ttl) << row.Name;
  }
}

// The real kernel over loopback (the lab traces UDP and TCP, open and closed
// ports, past routers): a TCP probe that reached the listener reports the
// target and leaves by a reset.
TEST(StackIcmpDatagramTest, ALoopbackTcpProbeReachesTheTargetAndResetsTheConnection) {
  const TIdStackClass saved = GSocketStackClass;
  GSocketStackClass = &CreatePosixStack;
  for (const bool v6 : {false, true}) {
    const std::string target = v6 ? "::1" : "127.0.0.1";
    const int listener = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    // Listening unbound takes a free port of its own.
    ASSERT_EQ(::listen(listener, 4), 0);
    sockaddr_storage bound{};
    socklen_t size = sizeof bound;
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &size), 0);
    const int open = ntohs(reinterpret_cast<sockaddr_in&>(bound).sin_port);
    const auto client =
        CreateProbe(TProbeMethod::pmTcp, v6 ? TIdIPVersion::ivIPv6 : TIdIPVersion::ivIPv4);
    client->Send({.Target = target, .Ttl = 5, .TimeOutMs = 2000, .Port = open});
    EXPECT_EQ(client->RequestsSent(), 1U);
    EXPECT_EQ(client->LastReply().StatusKind, TReplyStatusKind::rskEchoReply) << target;
    EXPECT_EQ(client->LastReply().ReplyFrom, target);
    // The connected probe was reset, not closed in order: nothing half-open
    // waits to be accepted with data or an orderly end.
    const int accepted = ::accept(listener, nullptr, nullptr);
    ASSERT_GE(accepted, 0);
    char byte = 0;
    EXPECT_EQ(::recv(accepted, &byte, 1, 0), -1);
    EXPECT_EQ(errno, ECONNRESET);
    ::close(accepted);
    ::close(listener);
  }
  GSocketStackClass = saved;
}

// An ICMP datagram socket as the kernel keeps it: every ICMP error about a
// request is queued and also becomes the pending error, which the next send
// reports and clears; reading the queue (or the pending error) clears it too.
struct TKernelDatagramSocket {
  static inline std::deque<int> Queued;
  static inline int Pending = 0;
  static inline int Sends = 0;

  static int GetSockOpt(int, int level, int name, void* value, socklen_t* length) {
    int answer = 0;
    if (level == SOL_SOCKET && name == SO_TYPE) answer = SOCK_DGRAM;
    if (level == SOL_SOCKET && name == SO_PROTOCOL) answer = IPPROTO_ICMP;
    if (level == SOL_SOCKET && name == SO_ERROR) answer = std::exchange(Pending, 0);
    std::memcpy(value, &answer, sizeof answer);
    *length = sizeof answer;
    return 0;
  }
  static ssize_t RecvMsg(int, msghdr*, int flags) {
    if ((flags & MSG_ERRQUEUE) == 0 || Queued.empty()) {
      errno = EAGAIN;
      return -1;
    }
    Queued.pop_front();
    Pending = Queued.empty() ? 0 : Queued.front();
    return 36;
  }
  static ssize_t SendTo(int, const void*, std::size_t length, int, const sockaddr*, socklen_t) {
    ++Sends;
    if (const int error = std::exchange(Pending, 0)) {
      errno = error;
      return -1;
    }
    return static_cast<ssize_t>(length);
  }
};

template <TWS2Function F>
class TSlotSwap {
 public:
  explicit TSlotSwap(typename TWS2Signature<F>::Type* fake) : saved_(WS2Slot<F>.exchange(fake)) {}
  ~TSlotSwap() { WS2Slot<F>.store(saved_); }

 private:
  typename TWS2Signature<F>::Type* saved_;
};

TEST(StackIcmpDatagramTest, ErrorsLeftFromAnEarlierExchangeDoNotFailTheNextSend) {
  TIdStackPosix stack;
  const TSlotSwap<TWS2Function::wsGetSockOpt> options(&TKernelDatagramSocket::GetSockOpt);
  const TSlotSwap<TWS2Function::wsRecvMsg> receive(&TKernelDatagramSocket::RecvMsg);
  const TSlotSwap<TWS2Function::wsSendTo> send(&TKernelDatagramSocket::SendTo);
  // Two time-exceeded reports arrived after their request had been given up.
  TKernelDatagramSocket::Queued = {EHOSTUNREACH, EHOSTUNREACH};
  TKernelDatagramSocket::Pending = EHOSTUNREACH;
  EXPECT_EQ(stack.SockSendTo(7, kRequest.data(), 12, 0, "198.18.3.2", 0), 12);
  EXPECT_EQ(TKernelDatagramSocket::Sends, 1);
  EXPECT_TRUE(TKernelDatagramSocket::Queued.empty());
}

}  // namespace
}  // namespace quillon
