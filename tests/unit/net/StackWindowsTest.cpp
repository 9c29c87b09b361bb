// The Windows stack on the real socket library (loopback only): lookups, the
// wait set's limit and time-out, and the ICMP service standing in for a raw
// socket, whose answer must read like the raw socket's datagram for every
// status the service reports, for IPv4 and for IPv6 (whose reply records are
// decoded from their bytes, as wine's service has no IPv6).
#include <gtest/gtest.h>
// clang-format off
#include <winsock2.h>
#include <mswsock.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on

#include <array>
#include <cstdlib>
#include <cstring>
#include <span>
#include <utility>
#include <vector>

#include "net/IcmpDatagram.h"
#include "net/IcmpServiceWindows.h"
#include "net/IdComponent.h"
#include "net/IdException.h"
#include "net/IdIcmpClient.h"
#include "net/IdStackWindows.h"
#include "net/IdTextQueryWindows.h"
#include "net/IdWinSock2Windows.h"
#include "net/ProbeMethod.h"

namespace quillon {
namespace {

class StackWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedClass_ = GSocketStackClass;
    GSocketStackClass = &CreateSystemStack;
    component_ = std::make_unique<TIdComponent>();
  }
  void TearDown() override {
    component_.reset();
    GSocketStackClass = savedClass_;
    GRawSocketsFirst.store(false);
  }

  TIdStackClass savedClass_ = nullptr;
  std::unique_ptr<TIdComponent> component_;
};

TEST_F(StackWindowsTest, LooksUpLoopbackBothWays) {
  EXPECT_EQ(Stack().HostNameToAddr("127.0.0.1"), "127.0.0.1");
  EXPECT_FALSE(Stack().AddrToHostName("127.0.0.1").empty());
  EXPECT_EQ(Stack().HostNameToAddr("localhost"), "127.0.0.1");
  // Literals only: a name not found would be asked of the resolver's servers,
  // outside this machine. The lab covers unknown names behind its own resolver.
}

TEST_F(StackWindowsTest, LooksUpIPv6TextWithItsZone) {
  EXPECT_EQ(Stack().HostNameToAddrOf("127.0.0.1", TIdIPVersion::ivAny), "127.0.0.1");
  EXPECT_EQ(Stack().ResolveHost("0:0::1", TIdIPVersion::ivAny), "::1");
  // A zone of no interface, or a number beyond 32 bits, is refused before any lookup.
  for (const char* text : {"fe80::1%quillon-none", "fe80::1%99999999999", "fe80::1%%"}) {
    try {
      Stack().AddrToHostName(text);
      ADD_FAILURE() << text << " was looked up";
    } catch (const EIdSocketError& e) {
      EXPECT_TRUE(e.ErrorCode == 10049 || e.ErrorCode == 10022) << text << " " << e.ErrorCode;
    }
  }
}

TEST_F(StackWindowsTest, WaitSetHoldsSixtyFourHandlesAndTimesOut) {
  const TIdStackSocketHandle socket = Stack().OpenSocket(Id_SOCK_DGRAM, 17);
  TIdSocketList tooMany(65, socket);
  EXPECT_THROW(Stack().SockSelect(&tooMany, nullptr, nullptr, 0), EIdStackSetSizeExceeded);
  // Exactly 64 distinct handles fit Winsock's set: all writable, none readable.
  TIdSocketList many;
  for (int i = 0; i < 64; ++i) many.push_back(Stack().OpenSocket(Id_SOCK_DGRAM, 17));
  TIdSocketList manyWritable = many;
  EXPECT_EQ(Stack().SockSelect(nullptr, &manyWritable, nullptr, 0), 64);
  EXPECT_EQ(manyWritable, many);
  TIdSocketList manyReadable = many;
  EXPECT_EQ(Stack().SockSelect(&manyReadable, nullptr, nullptr, 0), 0);
  for (TIdStackSocketHandle handle : many) EXPECT_EQ(Stack().SockClose(handle), 0);
  // 1500 ms is one second and 500 000 microseconds, not 1500 seconds.
  TIdSocketList one{socket};
  const DWORD start = GetTickCount();
  EXPECT_EQ(Stack().SockSelect(&one, nullptr, nullptr, 1500), 0);
  const DWORD waited = GetTickCount() - start;
  EXPECT_GE(waited, 1400u);
  EXPECT_LT(waited, 5000u);
  EXPECT_TRUE(one.empty());
  TIdSocketList writable{socket};
  EXPECT_EQ(Stack().SockSelect(nullptr, &writable, nullptr, 0), 1);
  EXPECT_EQ(writable, TIdSocketList{socket});
  EXPECT_EQ(Stack().SockClose(socket), 0);
}

TEST_F(StackWindowsTest, ARefusedConnectIsWritableAndReachesTheTarget) {
  // A plain non-blocking TCP socket: wine has no ICMP-error options, so the
  // probe's own socket is refused there (see the next test).
  const TIdStackSocketHandle socket = Stack().OpenSocket(Id_SOCK_STREAM, Id_IPPROTO_TCP);
  u_long nonBlocking = 1;
  DWORD returned = 0;
  ASSERT_EQ(WS2<TWS2Function::wsIoctl>()(static_cast<SOCKET>(socket), static_cast<DWORD>(FIONBIO),
                                         &nonBlocking, sizeof nonBlocking, nullptr, 0, &returned,
                                         nullptr, nullptr),
            0);
  TReplyStatus reply;
  if (Stack().SockConnect(socket, "127.0.0.1", 1) != 0) {
    ASSERT_EQ(Stack().GetSocketError(), Id_WSAEWOULDBLOCK);
    // Windows reports the failed connect in the except set; the stack, writable.
    TIdSocketList writable{socket};
    ASSERT_EQ(Stack().SockSelect(nullptr, &writable, nullptr, 5000), 1);
    EXPECT_EQ(writable, TIdSocketList{socket});
  }
  ASSERT_EQ(Stack().SockProbeAnswer(socket, "127.0.0.1", reply), 1);
  EXPECT_EQ(reply.StatusKind, TReplyStatusKind::rskEchoReply) << "a reset is the target's answer";
  EXPECT_EQ(reply.ReplyFrom, "127.0.0.1");
  EXPECT_EQ(Stack().SockClose(socket), 0);
}

TEST_F(StackWindowsTest, TcpProbesAreRefusedBeforeATraceWhereTheSystemLacksThem) {
  const TIdStackSocketHandle socket =
      Stack().SockOpenProbe(TIdIPVersion::ivIPv4, Id_SOCK_STREAM, 5);
  const std::int32_t error = Stack().GetSocketError();
  const std::string refusal = ProbeMethodRefusal(TProbeMethod::pmTcp, TIdIPVersion::ivIPv4);
  if (socket != Id_INVALID_SOCKET) {
    EXPECT_EQ(refusal, "") << "the options are there";
    EXPECT_EQ(Stack().SockClose(socket), 0);
  } else {
    // Wine: no TCP_FAIL_CONNECT_ON_ICMP_ERROR.
    EXPECT_TRUE(error == WSAENOPROTOOPT || error == WSAEINVAL) << error;
    EXPECT_NE(refusal.find("trace with ICMP"), std::string::npos) << refusal;
  }
  // UDP is refused everywhere; it names TCP only where TCP works.
  const std::string udp = ProbeMethodRefusal(TProbeMethod::pmUdp, TIdIPVersion::ivIPv4);
  EXPECT_NE(udp.find("trace with"), std::string::npos) << udp;
  EXPECT_EQ(udp.find("--tcp") != std::string::npos, refusal.empty()) << udp;
  EXPECT_EQ(ProbeMethodRefusal(TProbeMethod::pmIcmp, TIdIPVersion::ivIPv4), "");
  EXPECT_EQ(Stack().SockOpenProbe(TIdIPVersion::ivIPv4, Id_SOCK_DGRAM, 5), Id_INVALID_SOCKET);
}

TEST_F(StackWindowsTest, IcmpServiceAnswerReadsLikeTheRawSocketsDatagram) {
  // The default: a raw ICMP socket asked for is a channel of the service.
  const TIdStackSocketHandle socket = Stack().OpenSocket(Id_SOCK_RAW, Id_IPPROTO_ICMP);
  EXPECT_EQ(IcmpProbePathInUse(), TIcmpProbePath::IcmpService);
  const int ttl = 64;
  ASSERT_EQ(Stack().SockSetOption(socket, Id_IPPROTO_IP, Id_IP_TTL, &ttl, sizeof ttl), 0);

  std::array<std::uint8_t, 16> request = {Id_ICMP_ECHO, 0,   0,   0,   0x12, 0x34, 0x00, 0x07,
                                          'q',          'u', 'i', 'l', 'l',  'o',  'n',  '!'};
  const std::uint16_t sum = InternetChecksum(request);
  request[2] = static_cast<std::uint8_t>(sum >> 8);
  request[3] = static_cast<std::uint8_t>(sum & 0xFF);
  ASSERT_EQ(Stack().SockSendTo(socket, request.data(), request.size(), 0, "127.0.0.1", 0), 16);

  TIdSocketList wait{socket};
  ASSERT_EQ(Stack().SockSelect(&wait, nullptr, nullptr, 5000), 1) << "no answer from loopback";
  std::array<std::uint8_t, 256> datagram{};
  const int length = Stack().SockRecv(socket, datagram.data(), datagram.size(), 0);
  ASSERT_EQ(length, Id_IP_HEADER_SIZE + 16);
  EXPECT_EQ(datagram[0], 0x45);
  EXPECT_EQ(datagram[9], Id_IPPROTO_ICMP);
  EXPECT_EQ(Stack().AddrToText({datagram[12], datagram[13], datagram[14], datagram[15]}),
            "127.0.0.1");
  const std::uint8_t* icmp = datagram.data() + Id_IP_HEADER_SIZE;
  EXPECT_EQ(icmp[0], Id_ICMP_ECHOREPLY);
  EXPECT_EQ(std::memcmp(icmp + 4, request.data() + 4, 12), 0) << "identifier, sequence, data";
  EXPECT_EQ(InternetChecksum({icmp, 16}), 0);
  EXPECT_EQ(InternetChecksum({datagram.data(), Id_IP_HEADER_SIZE}), 0);
  // Nothing more to read: the wait times out, a read would block.
  EXPECT_EQ(Stack().SockSelect(&wait, nullptr, nullptr, 0), 0);
  EXPECT_EQ(Stack().SockRecv(socket, datagram.data(), datagram.size(), 0), -1);
  EXPECT_EQ(Stack().GetSocketError(), Id_WSAEWOULDBLOCK);
  EXPECT_EQ(Stack().SockClose(socket), 0);
}

TEST_F(StackWindowsTest, RawSocketsFirstGivesTheRawSocketWhereAllowed) {
  GRawSocketsFirst.store(true);
  const TIdStackSocketHandle socket = Stack().OpenSocket(Id_SOCK_RAW, Id_IPPROTO_ICMP);
  // An administrator (root under wine) gets the raw socket, anyone else the service.
  EXPECT_NE(IcmpProbePathInUse(), TIcmpProbePath::None);
  EXPECT_EQ(IcmpProbePathInUse() == TIcmpProbePath::IcmpService, IsIcmpServiceHandle(socket));
  EXPECT_EQ(Stack().SockClose(socket), 0);
}

// What the rebuilds of both families share: the socket error, nothing to read
// for a status without a message, else the sender, type and code, and the
// echo's data or the quoted request (its header to the target, then the echo
// request: 8 bytes of it for IPv4, all of it for IPv6). The datagram when there
// is a message to read, else empty.
template <typename TAnswer, typename TAddressBytes>
std::vector<std::uint8_t> CheckRebuilt(const TAnswer& answer, std::span<const std::uint8_t> request,
                                       const TAddressBytes& target, int type, int code,
                                       std::int32_t error) {
  constexpr bool v6 = sizeof(TAddressBytes) == 16;
  constexpr std::size_t ip = v6 ? 40 : 20;
  std::int32_t got = -1;
  std::vector<std::uint8_t> datagram = RebuildIcmpServiceAnswer(answer, request, target, got);
  EXPECT_EQ(got, error);
  if (type < 0) {
    EXPECT_TRUE(datagram.empty());
    return {};
  }
  const bool reply = type == (v6 ? Id_ICMPV6_ECHOREPLY : Id_ICMP_ECHOREPLY);
  const std::size_t quoted = v6 ? request.size() : 8;
  const std::size_t size = reply ? ip + request.size() : ip + 8 + ip + quoted;
  if (datagram.size() < size || ((v6 || reply) && datagram.size() != size)) {
    ADD_FAILURE() << datagram.size() << " bytes, " << size << " expected";
    return {};
  }
  EXPECT_TRUE(std::equal(answer.From.begin(), answer.From.end(), datagram.begin() + (v6 ? 8 : 12)))
      << "sender";
  EXPECT_EQ(datagram[ip], type);
  EXPECT_EQ(datagram[ip + 1], code);
  if (reply) {
    EXPECT_TRUE(std::equal(request.begin() + 4, request.end(), datagram.begin() + ip + 4));
  } else {
    EXPECT_TRUE(
        std::equal(target.begin(), target.end(), datagram.begin() + ip + 8 + ip - sizeof target));
    const std::span<const std::uint8_t> head = request.first(quoted);
    EXPECT_TRUE(std::equal(head.begin(), head.end(), datagram.begin() + ip + 8 + ip));
  }
  return datagram;
}

// Every status documented for ICMP_ECHO_REPLY (numbers as published, so a typo
// in the table shows), and what a raw socket would have read in its place.
TEST(IcmpServiceStatus, EveryStatusBecomesTheRawSocketsDatagramOrError) {
  struct TCase {
    std::uint32_t Status;
    int Type;  // of the rebuilt ICMP message, -1 for none
    int Code;
    std::int32_t Error;  // of the read instead, 0 for none
  };
  const TCase cases[] = {
      {0, Id_ICMP_ECHOREPLY, 0, 0},     // IP_SUCCESS
      {11001, -1, 0, 10040},            // IP_BUF_TOO_SMALL
      {11002, Id_ICMP_UNREACH, 0, 0},   // IP_DEST_NET_UNREACHABLE, IP_DEST_NO_ROUTE
      {11003, Id_ICMP_UNREACH, 1, 0},   // IP_DEST_HOST_UNREACHABLE, IP_DEST_ADDR_UNREACHABLE
      {11004, Id_ICMP_UNREACH, 2, 0},   // IP_DEST_PROT_UNREACHABLE, IP_DEST_PROHIBITED
      {11005, Id_ICMP_UNREACH, 3, 0},   // IP_DEST_PORT_UNREACHABLE
      {11006, -1, 0, 10055},            // IP_NO_RESOURCES
      {11007, -1, 0, 10022},            // IP_BAD_OPTION
      {11008, -1, 0, 10050},            // IP_HW_ERROR
      {11009, Id_ICMP_UNREACH, 4, 0},   // IP_PACKET_TOO_BIG
      {11010, -1, 0, 0},                // IP_REQ_TIMED_OUT
      {11011, -1, 0, 10022},            // IP_BAD_REQ
      {11012, -1, 0, 10051},            // IP_BAD_ROUTE
      {11013, Id_ICMP_TIMXCEED, 0, 0},  // IP_TTL_EXPIRED_TRANSIT, IP_HOP_LIMIT_EXCEEDED
      {11014, Id_ICMP_TIMXCEED, 1, 0},  // IP_TTL_EXPIRED_REASSEM, IP_REASSEMBLY_TIME_EXCEEDED
      {11015, 12, 0, 0},                // IP_PARAM_PROBLEM, IP_PARAMETER_PROBLEM
      {11016, 4, 0, 0},                 // IP_SOURCE_QUENCH
      {11017, -1, 0, 10040},            // IP_OPTION_TOO_BIG
      {11018, -1, 0, 10049},            // IP_BAD_DESTINATION
      {11040, Id_ICMP_UNREACH, 1, 0},   // IP_DEST_UNREACHABLE
      {11041, Id_ICMP_TIMXCEED, 0, 0},  // IP_TIME_EXCEEDED
      {11042, 12, 0, 0},                // IP_BAD_HEADER
      {11043, Id_ICMP_UNREACH, 2, 0},   // IP_UNRECOGNIZED_NEXT_HEADER
      {11044, -1, 0, 10065},            // IP_ICMP_ERROR
      {11045, Id_ICMP_UNREACH, 1, 0},   // IP_DEST_SCOPE_MISMATCH
      {11050, -1, 0, 10050},            // IP_GENERAL_FAILURE
      {11255, -1, 0, 0},                // IP_PENDING
      {12345, -1, 0, 10107},            // unknown: a local failure all the same
  };
  const std::array<std::uint8_t, 12> request = {Id_ICMP_ECHO, 0, 0xAB, 0xCD, 0x12, 0x34,
                                                0x00,         7, 'q',  'u',  'i',  'l'};
  const std::array<std::uint8_t, 4> data = {'q', 'u', 'i', 'l'};
  const TIdIPv4Bytes target{198, 18, 9, 9};
  // The client whose request it was: the rebuilt datagram is its answer.
  TIdIcmpClient client;
  client.Host = "198.18.9.9";
  client.EchoIdentifier = 0x3412;
  client.NextSequence = 0x0700;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Status);
    TIcmpServiceAnswer answer;
    answer.Status = c.Status;
    answer.From = c.Type == Id_ICMP_ECHOREPLY ? target : TIdIPv4Bytes{198, 18, 0, 1};
    answer.Ttl = 61;
    answer.Data = data;
    const std::vector<std::uint8_t> datagram =
        CheckRebuilt(answer, request, target, c.Type, c.Code, c.Error);
    if (datagram.empty()) continue;
    EXPECT_EQ(InternetChecksum({datagram.data(), 20}), 0);
    EXPECT_EQ(datagram[8], 61) << "TTL of arrival";
    EXPECT_EQ(InternetChecksum({datagram.data() + 20, datagram.size() - 20}), 0);
    if (c.Type != Id_ICMP_ECHOREPLY && c.Type != Id_ICMP_UNREACH && c.Type != Id_ICMP_TIMXCEED)
      continue;
    std::copy(datagram.begin(), datagram.end(), client.ReplyArea.begin());
    TReplyStatus record;
    EXPECT_TRUE(client.ClassifyPacket(static_cast<int>(datagram.size()), record));
    EXPECT_EQ(record.ReplyFrom, Stack().AddrToText(answer.From));
  }
}

// A call that failed as a whole leaves only GetLastError: a time-out reads as
// nothing, anything else as the socket error a read reports, in either family.
TEST(IcmpServiceStatus, FailedCallKnownOnlyFromTheLastError) {
  const std::array<std::uint8_t, 8> request = {Id_ICMP_ECHO, 0, 0, 0, 0, 1, 0, 1};
  const std::pair<std::uint32_t, std::int32_t> cases[] = {
      {11010, 0},  // IP_REQ_TIMED_OUT
      {ERROR_NETWORK_UNREACHABLE, 10051},
      {ERROR_INVALID_PARAMETER, 10022},
      {ERROR_NOT_ENOUGH_MEMORY, 10055},
      // An unreachable or exceeded status without a record names no sender to show.
      {11003, 10065},
      {11013, 10065},
      {0, 10107},
  };
  const auto check = [&](auto answer, const auto& destination) {
    answer.Returned = false;
    for (const auto& [lastError, expected] : cases) {
      SCOPED_TRACE(lastError);
      answer.Status = lastError;
      std::int32_t error = -1;
      EXPECT_TRUE(RebuildIcmpServiceAnswer(answer, request, destination, error).empty());
      EXPECT_EQ(error, expected);
    }
  };
  check(TIcmpServiceAnswer{}, TIdIPv4Bytes{127, 0, 0, 1});
  check(TIcmp6ServiceAnswer{}, TIdIPv6Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1});
}

// A system without IPv6 fails Icmp6SendEcho2 with either error: for IPv6 the
// family is missing (what the "no ICMPv6" message tells), for IPv4 the call.
TEST(IcmpServiceStatus, NoIPv6ErrorsReadAsAMissingFamily) {
  const std::array<std::uint8_t, 8> request = {Id_ICMP_ECHO, 0, 0, 0, 0, 1, 0, 1};
  const std::uint32_t lastErrors[] = {ERROR_NOT_SUPPORTED, ERROR_CALL_NOT_IMPLEMENTED};
  for (const std::uint32_t lastError : lastErrors) {
    SCOPED_TRACE(lastError);
    std::int32_t error = 0;
    TIcmpServiceAnswer v4;
    v4.Returned = false;
    v4.Status = lastError;
    EXPECT_TRUE(RebuildIcmpServiceAnswer(v4, request, {127, 0, 0, 1}, error).empty());
    EXPECT_EQ(error, 10045);
    TIcmp6ServiceAnswer v6;
    v6.Returned = false;
    v6.Status = lastError;
    EXPECT_TRUE(RebuildIcmpServiceAnswer(v6, request, TIdIPv6Bytes{}, error).empty());
    EXPECT_EQ(error, 10047);
  }
}

// The service waits the caller's reply time-out and a second more, no longer,
// so that a silent request holds its thread and handle no longer than needed.
TEST_F(StackWindowsTest, IcmpServiceWaitsTheReplyTimeOutAndAMargin) {
  const std::pair<std::int32_t, std::uint32_t> cases[] = {
      {5000, 6000}, {1, 1001}, {9000, 10000}, {0, 1000}, {-2, 60000}, {600000, 60000},
  };
  for (const auto& [timeout, wait] : cases) EXPECT_EQ(IcmpServiceWaitMs(timeout), wait) << timeout;
  // The client's time-out reaches its channel before the first request goes out.
  TIdIcmpClient client;
  client.ReceiveTimeout = 400;
  const TIdStackSocketHandle socket = client.EnsureSocket().OsSocket;
  ASSERT_TRUE(IsIcmpServiceHandle(socket));
  EXPECT_EQ(IcmpServiceWaitOf(socket), 1400u);
  client.ReceiveTimeout = 9000;
  client.EnsureSocket();
  EXPECT_EQ(IcmpServiceWaitOf(socket), 10000u);
}

// The IPv6 column through the reply record's bytes, as Icmp6SendEcho2 leaves
// them, to the datagram the ICMPv6 classifier reads.
TEST_F(StackWindowsTest, EveryIPv6ServiceStatusReadsAsTheClassifiersDatagram) {
  struct TCase {
    std::uint32_t Status;
    int Type;  // of the rebuilt ICMPv6 message, -1 for none
    int Code;
    std::int32_t Error;
    TReplyStatusKind Kind;  // what the classifier makes of it (rskError: skipped)
  };
  using enum TReplyStatusKind;
  const TCase cases[] = {
      {0, Id_ICMPV6_ECHOREPLY, 0, 0, rskEchoReply},       // IP_SUCCESS
      {11013, Id_ICMPV6_TIMXCEED, 0, 0, rskTtlExpired},   // IP_HOP_LIMIT_EXCEEDED
      {11041, Id_ICMPV6_TIMXCEED, 0, 0, rskTtlExpired},   // IP_TIME_EXCEEDED
      {11014, Id_ICMPV6_TIMXCEED, 1, 0, rskTtlExpired},   // IP_REASSEMBLY_TIME_EXCEEDED
      {11002, Id_ICMPV6_UNREACH, 0, 0, rskUnreachable},   // IP_DEST_NO_ROUTE
      {11004, Id_ICMPV6_UNREACH, 1, 0, rskUnreachable},   // IP_DEST_PROHIBITED
      {11045, Id_ICMPV6_UNREACH, 2, 0, rskUnreachable},   // IP_DEST_SCOPE_MISMATCH
      {11003, Id_ICMPV6_UNREACH, 3, 0, rskUnreachable},   // IP_DEST_ADDR_UNREACHABLE
      {11040, Id_ICMPV6_UNREACH, 3, 0, rskUnreachable},   // IP_DEST_UNREACHABLE
      {11005, Id_ICMPV6_UNREACH, 4, 0, rskUnreachable},   // IP_DEST_PORT_UNREACHABLE
      {11009, Id_ICMPV6_PACKET_TOO_BIG, 0, 0, rskError},  // skipped, never an error
      {11015, 4, 0, 0, rskError},                         // IP_PARAMETER_PROBLEM
      {11016, -1, 0, 0, rskError},                        // no source quench in IPv6
      {11010, -1, 0, 0, rskError},                        // IP_REQ_TIMED_OUT
      {11050, -1, 0, 10050, rskError},                    // IP_GENERAL_FAILURE
      {11044, -1, 0, 10065, rskError},                    // IP_ICMP_ERROR
  };
  const std::array<std::uint8_t, 12> request = {Id_ICMPV6_ECHO, 0, 0,   0,   0x12, 0x34,
                                                0x07,           0, 'q', 'u', 'i',  'l'};
  const TIdIPv6Bytes router{0x20, 0x01, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 1};
  const TIdIPv6Bytes target{0x20, 0x01, 0, 2, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0, 2};
  TIdIcmpClient client;
  client.IPVersion = TIdIPVersion::ivIPv6;
  client.Host = "2001:2:0:9::2";
  client.EchoIdentifier = 0x3412;
  client.NextSequence = 7;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Status);
    // The record as the service writes it: the sender at 6, the status at 28,
    // then the echoed data; port, flow and scope hold junk that must not matter.
    std::vector<std::uint8_t> buffer(sizeof(TIcmp6EchoReply) + 4, 0xEE);
    const TIdIPv6Bytes& from = c.Status == 0 ? target : router;  // the target's echo reply
    std::copy(from.begin(), from.end(), buffer.begin() + 6);
    std::memcpy(buffer.data() + 28, &c.Status, 4);
    std::copy(request.begin() + 8, request.end(), buffer.begin() + 36);
    TIcmp6ServiceAnswer answer;
    ASSERT_TRUE(DecodeIcmp6Reply(buffer, 4, answer));
    EXPECT_EQ(answer.Status, c.Status);
    EXPECT_EQ(answer.From, from);
    const std::vector<std::uint8_t> datagram =
        CheckRebuilt(answer, request, target, c.Type, c.Code, c.Error);
    if (datagram.empty()) continue;
    EXPECT_EQ(datagram[0], 0x60);
    EXPECT_EQ(datagram[4] << 8 | datagram[5], static_cast<int>(datagram.size()) - 40);
    EXPECT_EQ(datagram[6], Id_IPPROTO_ICMPV6);
    EXPECT_EQ(datagram[7], Id_DEFAULT_REPLY_TTL) << "the service reports no hop limit";
    std::copy(datagram.begin(), datagram.end(), client.ReplyArea.begin());
    TReplyStatus record;
    EXPECT_EQ(client.ClassifyPacket(static_cast<int>(datagram.size()), record), c.Kind != rskError);
    if (c.Kind == rskError) continue;
    EXPECT_EQ(record.StatusKind, c.Kind);
    EXPECT_EQ(record.ReplyFrom, IPv6ToText(from));
    EXPECT_EQ(record.IcmpCode, c.Code);
  }
  // The data sent, cut to what the buffer holds; no record in a buffer too short.
  const std::vector<std::uint8_t> cut(sizeof(TIcmp6EchoReply) + 2, 0);
  TIcmp6ServiceAnswer answer;
  ASSERT_TRUE(DecodeIcmp6Reply(cut, 32, answer));
  EXPECT_EQ(answer.Data.size(), 2u);
  EXPECT_EQ(answer.Data.data(), cut.data() + 36);
  EXPECT_FALSE(DecodeIcmp6Reply({cut.data(), 35}, 0, answer));
}

// A raw ICMPv6 socket reads the message alone: the rebuild adds the IPv6 header
// with the sender recvfrom gave and the hop limit.
TEST_F(StackWindowsTest, RawIcmpV6MessageSourceAndHopLimitMakeTheIPv6Datagram) {
  const std::array<std::uint8_t, 8> message = {
      Id_ICMPV6_ECHOREPLY, 0, 0xAB, 0xCD, 0x12, 0x34, 7, 0};
  sockaddr_in6 peer{};
  peer.sin6_family = AF_INET6;
  const TIdIPv6Bytes from{0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9};
  std::memcpy(&peer.sin6_addr, from.data(), from.size());
  peer.sin6_scope_id = 3;
  const std::span<const std::uint8_t> peerBytes(reinterpret_cast<const std::uint8_t*>(&peer),
                                                sizeof peer);
  std::array<std::uint8_t, 64> out{};
  ASSERT_EQ(RebuildRawIcmpV6(message, peerBytes, 57, out), 48);
  EXPECT_EQ(out[0], 0x60);
  EXPECT_EQ(out[5], 8) << "payload length";
  EXPECT_EQ(out[6], Id_IPPROTO_ICMPV6);
  EXPECT_EQ(out[7], 57);
  EXPECT_TRUE(std::equal(from.begin(), from.end(), out.begin() + 8));
  EXPECT_TRUE(std::equal(message.begin(), message.end(), out.begin() + 40));
  // Cut to a short buffer as a receive cuts; a peer of IPv4 is no source.
  EXPECT_EQ(RebuildRawIcmpV6(message, peerBytes, 57, std::span(out).first(44)), 44);
  sockaddr_in v4{};
  v4.sin_family = AF_INET;
  EXPECT_EQ(
      RebuildRawIcmpV6(message, {reinterpret_cast<const std::uint8_t*>(&v4), sizeof v4}, 57, out),
      -1);
  EXPECT_EQ(Stack().GetSocketError(), 10047);
}

// The hop limit comes as control data of WSARecvMsg, maybe after other items.
TEST_F(StackWindowsTest, RawIcmpV6HopLimitIsReadFromTheControlData) {
  const auto item = [](int level, int type, INT value) {
    std::vector<std::uint8_t> bytes(WSA_CMSG_SPACE(sizeof value));
    WSACMSGHDR header{WSA_CMSG_LEN(sizeof value), level, type};
    std::memcpy(bytes.data(), &header, sizeof header);
    std::memcpy(bytes.data() + WSA_CMSG_LEN(0), &value, sizeof value);
    return bytes;
  };
  std::vector<std::uint8_t> control = item(IPPROTO_IPV6, IPV6_PKTINFO, 250);
  const std::vector<std::uint8_t> hop = item(IPPROTO_IPV6, IPV6_HOPLIMIT, 57);
  control.insert(control.end(), hop.begin(), hop.end());
  EXPECT_EQ(HopLimitOfControlData(control, 64), 57);
  EXPECT_EQ(HopLimitOfControlData(item(IPPROTO_IP, IPV6_HOPLIMIT, 57), 64), 64) << "IPv4 level";
  EXPECT_EQ(HopLimitOfControlData({}, 64), 64);
  // A length beyond the buffer, or too short to move on, ends the walk.
  std::vector<std::uint8_t> broken = hop;
  broken[0] = 0xFF;
  EXPECT_EQ(HopLimitOfControlData(broken, 64), 64);
  broken[0] = 0;
  EXPECT_EQ(HopLimitOfControlData(broken, 64), 64);
}

// The DNS client's record list, read as the resolver would: only the answer
// section's TXT records, each string in order.
TEST(TextRecordsWindows, OnlyTheAnswersTxtRecordsTheirStringsInOrder) {
  wchar_t first[] = L"64501 | 198.18.1.0/24 ";
  wchar_t second[] = L"| ZZ | lab | 2026-12-01";
  wchar_t other[] = L"other";
  // A TXT record's strings follow its header in one block, as the client lays it out.
  struct TTxt {
    DNS_RECORDW Record;
    PWSTR More[3];
  };
  const auto txt = [](TTxt& node, std::initializer_list<PWSTR> strings, DNS_SECTION section) {
    node = {};
    node.Record.wType = DNS_TYPE_TEXT;
    node.Record.Flags.DW = static_cast<DWORD>(section);  // the section is its lowest two bits
    node.Record.Data.TXT.dwStringCount = static_cast<DWORD>(strings.size());
    PWSTR* slot = node.Record.Data.TXT.pStringArray;
    for (PWSTR text : strings) *slot++ = text;
  };
  TTxt answer, cname, authority, second2;
  txt(answer, {first, second}, DnsSectionAnswer);
  txt(cname, {other}, DnsSectionAnswer);
  cname.Record.wType = DNS_TYPE_CNAME;
  txt(authority, {other}, DnsSectionAuthority);
  txt(second2, {other, nullptr}, DnsSectionAnswer);
  cname.Record.pNext = &answer.Record;
  answer.Record.pNext = &authority.Record;
  authority.Record.pNext = &second2.Record;
  const TIdTextAnswer read = TextAnswerOfRecords(&cname.Record);
  ASSERT_EQ(read.Records.size(), 2u);
  EXPECT_EQ(read.Records[0],
            (std::vector<std::string>{"64501 | 198.18.1.0/24 ", "| ZZ | lab | 2026-12-01"}));
  EXPECT_EQ(read.Records[1], (std::vector<std::string>{"other", ""}));
  EXPECT_TRUE(TextAnswerOfRecords(nullptr).Records.empty());
  EXPECT_TRUE(IsNoRecordStatus(DNS_ERROR_RCODE_NAME_ERROR));
  EXPECT_FALSE(IsNoRecordStatus(ERROR_TIMEOUT)) << "a timeout is no answer, not an empty one";
}

}  // namespace
}  // namespace quillon
