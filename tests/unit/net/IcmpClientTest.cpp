#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "net/IcmpDatagram.h"
#include "net/IcmpErrorInfo.h"
#include "net/IdException.h"
#include "net/IdIcmpClient.h"
#include "net/ProbeMethod.h"
#include "platform/Process.h"
#include "unit/net/SocketHandleRecordingStack.h"

namespace quillon {
namespace {

using rawtest::TRecordingStackTest;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

using TBytes = std::vector<std::uint8_t>;
using enum TReplyStatusKind;

// The RFC 1071 check as a receiver does it: 16-bit words in network order, an odd
// last byte padded with zero, carries folded back in. A correct message sums to 0xFFFF.
std::uint16_t OnesComplementSum(const std::uint8_t* data, std::size_t length) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < length; i += 2) {
    const std::uint32_t high = data[i];
    const std::uint32_t low = i + 1 < length ? data[i + 1] : 0;
    sum += (high << 8) | low;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return static_cast<std::uint16_t>(sum);
}

std::uint16_t Le16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>(at[0] | at[1] << 8);
}

// The identifier our requests carry.
std::uint16_t Ours() {
  return static_cast<std::uint16_t>(GetCurrentProcessId() & 0xFFFF);
}

TBytes EchoMessage(std::uint8_t type, std::uint16_t sequence, std::uint16_t identifier = Ours()) {
  return {type,
          0,
          0,
          0,
          static_cast<std::uint8_t>(identifier & 0xFF),
          static_cast<std::uint8_t>(identifier >> 8),
          static_cast<std::uint8_t>(sequence & 0xFF),
          static_cast<std::uint8_t>(sequence >> 8)};
}

const TIdIPv4Bytes kTarget{10, 0, 0, 1};  // the Host of every exchange below
const TIdIPv4Bytes kRouter{10, 20, 30, 40};

// An IPv4 datagram as the raw socket hands it over: a header of ihl 32-bit words
// (TTL, protocol, source and destination filled in; never fewer than the five
// an IPv4 header has), then the ICMP bytes.
TBytes Datagram(int ihl, std::uint8_t ttl, TIdIPv4Bytes source, const TBytes& icmp,
                TIdIPv4Bytes destination = {10, 0, 0, 99}, std::uint8_t protocol = 1) {
  TBytes datagram(static_cast<std::size_t>(std::max(ihl, 5)) * 4, 0);
  datagram[0] = static_cast<std::uint8_t>(0x40 | ihl);
  datagram[8] = ttl;
  datagram[9] = protocol;
  std::copy(source.begin(), source.end(), datagram.begin() + 12);
  std::copy(destination.begin(), destination.end(), datagram.begin() + 16);
  datagram.insert(datagram.end(), icmp.begin(), icmp.end());
  return datagram;
}

// A time-exceeded or unreachable message quoting a datagram: by default our
// request to the target.
TBytes ErrorMessage(std::uint8_t type, std::uint16_t sequence, int ihl = 5,
                    const TBytes& quoted = {}, TIdIPv4Bytes destination = kTarget,
                    std::uint8_t protocol = 1) {
  TBytes icmp{type, 0, 0, 0, 0, 0, 0, 0};
  const TBytes inner =
      Datagram(ihl, 1, {10, 0, 0, 99}, quoted.empty() ? EchoMessage(8, sequence) : quoted,
               destination, protocol);
  icmp.insert(icmp.end(), inner.begin(), inner.end());
  return icmp;
}

class IcmpClientTest : public TRecordingStackTest {
 protected:
  void SetUp() override {
    TRecordingStackTest::SetUp();
    client_ = std::make_unique<TIdIcmpClient>();
    client_->Host = "10.0.0.1";
    client_->ReceiveTimeout = 1000;
  }
  void TearDown() override {
    client_.reset();
    TRecordingStackTest::TearDown();
  }

  TIdIcmpClient& Client() { return *client_; }
  TBytes Request() const {
    return TBytes(client_->RequestArea.begin(),
                  client_->RequestArea.begin() + client_->MessageLength);
  }
  std::uint16_t SentSequence(std::size_t index) {
    return Le16(Recording().Sent.at(index).Bytes.data() + 6);
  }
  // Puts a datagram into the reply area as a receive would and classifies it.
  bool Classify(const TBytes& datagram, int count, TReplyStatus& record) {
    std::copy(datagram.begin(), datagram.end(), client_->ReplyArea.begin());
    return client_->ClassifyPacket(count, record);
  }

  std::unique_ptr<TIdIcmpClient> client_;
};

TEST_F(IcmpClientTest, TheDefaultRequestIsTwelveBytesWhateverThePayload) {
  EXPECT_EQ(Client().PacketSize(), 32);
  EXPECT_EQ(Client().Protocol, 1);
  clock_.Tick = 0x12345678;
  Client().ReceiveTimeout = 0;
  Client().Echo("a payload that does not fit", 0);

  ASSERT_EQ(Recording().Sent.size(), 1U);
  const TBytes& sent = Recording().Sent[0].Bytes;
  ASSERT_EQ(sent.size(), 12U);
  const std::uint32_t pid = GetCurrentProcessId();
  EXPECT_EQ(sent[0], 8);
  EXPECT_EQ(sent[1], 0);
  EXPECT_EQ(sent[4], pid & 0xFF);
  EXPECT_EQ(sent[5], (pid >> 8) & 0xFF);
  EXPECT_EQ(sent[6], 0xA1) << "3489 = 0x0DA1, least significant byte first";
  EXPECT_EQ(sent[7], 0x0D);
  EXPECT_EQ(TBytes(sent.begin() + 8, sent.end()), (TBytes{0x78, 0x56, 0x34, 0x12}));
  EXPECT_EQ(OnesComplementSum(sent.data(), sent.size()), 0xFFFF);
  EXPECT_EQ(Recording().Sent[0].Address, "10.0.0.1");
  EXPECT_EQ(Recording().Sent[0].Port, 0);
}

TEST_F(IcmpClientTest, ThePayloadStartsAtByteTwentyAndIsFilledWithE) {
  Client().RequestArea.fill(0xCC);
  Client().SetPacketSize(64);
  Client().BuildRequest("asdas");
  ASSERT_EQ(Client().MessageLength, 44);
  const TBytes request = Request();
  EXPECT_EQ(TBytes(request.begin() + 12, request.begin() + 20), TBytes(8, 0));
  EXPECT_EQ(std::string(request.begin() + 20, request.begin() + 25), "asdas");
  EXPECT_EQ(std::string(request.begin() + 25, request.end()), std::string(19, 'E'));
  EXPECT_EQ(OnesComplementSum(request.data(), request.size()), 0xFFFF);

  // Characters beyond the message's end are dropped.
  Client().SetPacketSize(43);
  Client().BuildRequest("asdasXYZ");
  EXPECT_EQ(std::string(Client().RequestArea.begin() + 20, Client().RequestArea.begin() + 23),
            "asd");
  EXPECT_EQ(OnesComplementSum(Client().RequestArea.data(), 23), 0xFFFF);
}

TEST_F(IcmpClientTest, AnOddLengthPadsOnlyTheChecksum) {
  // Bytes after the message are garbage; neither the sum nor the build may touch them.
  Client().ReceiveTimeout = 0;
  for (const std::uint32_t size : {33U, 41U, 25U, 24U, 23U, 21U, 20U}) {
    SCOPED_TRACE("PacketSize " + std::to_string(size));
    Client().RequestArea.fill(0xFF);
    Client().SetPacketSize(size);
    Client().Echo("asdas", 0);
    const TBytes& sent = Recording().Sent.back().Bytes;
    ASSERT_EQ(sent.size(), std::size_t{size} - 20U);
    EXPECT_EQ(Client().RequestArea[sent.size()], 0xFF) << "nothing after the message is written";
    if (sent.size() >= 4) {
      EXPECT_EQ(OnesComplementSum(sent.data(), sent.size()), 0xFFFF);
    }
    if (!sent.empty()) {
      EXPECT_EQ(sent[0], 8);
    }
  }
  EXPECT_EQ(Recording().Sent[1].Bytes.back(), 'a') << "an odd last byte that carries payload";
}

TEST_F(IcmpClientTest, PacketSizeIsClampedToTwentyThroughTenThousandTwoHundredForty) {
  const std::vector<std::pair<std::uint32_t, std::uint16_t>> cases = {
      {0, 20},        {5, 20},        {19, 20},       {20, 20},       {32, 32},
      {10240, 10240}, {10241, 10240}, {65535, 10240}, {65556, 10240}, {0xFFFFFFFF, 10240}};
  for (const auto& [given, stored] : cases) {
    Client().SetPacketSize(given);
    EXPECT_EQ(Client().PacketSize(), stored) << given;
  }
  Client().BuildRequest("");
  EXPECT_EQ(Client().MessageLength, 10220);
  EXPECT_EQ(OnesComplementSum(Client().RequestArea.data(), 10220), 0xFFFF);
}

TEST_F(IcmpClientTest, SequenceNumbersFollowTheRequestedOrTheNextOne) {
  Client().ReceiveTimeout = 0;
  Client().Echo("asdas", 0);
  EXPECT_EQ(Client().LastReply().SequenceNumber, 3489);
  Client().Echo("asdas", 0);
  Client().Echo("asdas", 65535);
  EXPECT_EQ(Client().NextSequence, 0) << "wraps from 65535 to 0";
  Client().Echo("asdas", 0);
  EXPECT_EQ(Client().LastReply().SequenceNumber, 0);
  Client().Echo("asdas", 17);
  EXPECT_EQ(SentSequence(0), 3489);
  EXPECT_EQ(SentSequence(1), 3490);
  EXPECT_EQ(SentSequence(2), 65535);
  EXPECT_EQ(SentSequence(3), 0);
  EXPECT_EQ(SentSequence(4), 17);
  EXPECT_EQ(Client().NextSequence, 18);
}

TEST_F(IcmpClientTest, NothingArrivingGivesTheTimeOutRecordAndClosesTheSocket) {
  clock_.Counters = {1'000'000, 2'000'250};
  clock_.Frequency = 1'000'000;
  int replies = 0;
  Client().OnReply = [&replies, this](TIdIcmpClient& sender, const TReplyStatus& reply) {
    ++replies;
    EXPECT_EQ(&sender, client_.get());
    EXPECT_EQ(&reply, &client_->LastReply());
    EXPECT_EQ(reply.RoundTripMicros, 1'000'250U);
  };
  Client().SetOutgoingTtl(4);
  Client().Echo("asdas", 0);

  const TReplyStatus& reply = Client().LastReply();
  EXPECT_EQ(reply.ReceivedBytes, 0);
  EXPECT_EQ(reply.ReplyFrom, "0.0.0.0");
  EXPECT_EQ(reply.IcmpType, 0);
  EXPECT_EQ(reply.SequenceNumber, 3489);
  EXPECT_EQ(reply.ReplyTtl, 0);
  EXPECT_EQ(reply.StatusKind, TReplyStatusKind::rskTimedOut);
  EXPECT_EQ(replies, 1);
  EXPECT_EQ(Client().NextSequence, 3490);
  EXPECT_THAT(
      Recording().Calls,
      ElementsAre("open 3 1", "ttl 100 4", "ttl 100 4", "ttl 100 4", "sendto 100 10.0.0.1:0 12",
                  "ttl 100 4", "select 100 1000", "ttl 100 4", "shutdown 100 1", "close 100"));

  Client().OnReply = nullptr;
  Client().Echo("asdas", 0);  // the next exchange opens a new socket, TTL applied
  EXPECT_THAT(Recording().Calls, Contains("open 3 1").Times(2));
  EXPECT_THAT(Recording().Calls, Contains("ttl 101 4"));
}

TEST_F(IcmpClientTest, RoundTripIsRoundedHalfToEvenAndAtLeastOne) {
  clock_.Frequency = 2'000'000;
  Client().ReceiveTimeout = 0;
  const std::vector<std::pair<std::int64_t, std::uint32_t>> cases = {
      {5, 2},  // 2.5 µs
      {7, 4},  // 3.5 µs
      {3, 2},  // 1.5 µs
      {0, 1},  // nothing measured still counts as 1
      {-9, 1},
      {5'000'000'001, 2'500'000'000U},  // 2,500,000,000.5 µs
      {10'000'000'000, 705'032'704U},   // 5e9 µs keeps its low 32 bits
  };
  for (const auto& [elapsed, micros] : cases) {
    clock_.Counters = {1'000, 1'000 + elapsed};
    Client().Echo("asdas", 0);
    EXPECT_EQ(Client().LastReply().RoundTripMicros, micros) << elapsed;
  }
}

struct TAnswerCase {
  const char* name;
  TIdIPv4Bytes from;
  TBytes icmp;
  std::uint8_t type;
  TReplyStatusKind kind;
};

class IcmpAnswerTest : public IcmpClientTest, public ::testing::WithParamInterface<TAnswerCase> {};

TEST_P(IcmpAnswerTest, TheMatchingDatagramFillsTheRecord) {
  const TBytes datagram = Datagram(5, 57, GetParam().from, GetParam().icmp);
  Recording().Incoming.push_back(datagram);
  Client().Echo("asdas", 3489);
  const TReplyStatus& reply = Client().LastReply();
  EXPECT_EQ(reply.ReceivedBytes, static_cast<int>(datagram.size()));
  EXPECT_EQ(reply.ReplyFrom, Stack().AddrToText(GetParam().from));
  EXPECT_EQ(reply.IcmpType, GetParam().type);
  EXPECT_EQ(reply.SequenceNumber, 3489);
  EXPECT_EQ(reply.ReplyTtl, 57);
  EXPECT_EQ(reply.StatusKind, GetParam().kind);
  EXPECT_THAT(Recording().Calls, Contains("recv 100 10240 0"));
}

INSTANTIATE_TEST_SUITE_P(
    Answers, IcmpAnswerTest,
    ::testing::Values(
        TAnswerCase{"EchoReply", kTarget, EchoMessage(0, 3489), 0, rskEchoReply},
        TAnswerCase{"OwnRequest", kTarget, EchoMessage(8, 3489), 8, rskEchoReply},
        TAnswerCase{"TimeExceeded", kRouter, ErrorMessage(11, 3489), 11, rskTtlExpired},
        TAnswerCase{"Unreachable", kRouter, ErrorMessage(3, 3489), 3, rskUnreachable}),
    [](const ::testing::TestParamInfo<TAnswerCase>& param) { return param.param.name; });

// Datagrams with our sequence number that are not the answer to our request.
TEST_F(IcmpClientTest, OnlyOurRequestToTheTargetIsAnswered) {
  // Each is our answer (IcmpAnswerTest) but for one field.
  const auto fromRouter = [](const TBytes& icmp) { return Datagram(5, 60, kRouter, icmp); };
  const std::pair<const char*, TBytes> cases[] = {
      {"reply: another identifier", Datagram(5, 60, kTarget, EchoMessage(0, 3489, Ours() ^ 1))},
      {"reply: another host", fromRouter(EchoMessage(0, 3489))},
      {"error: quote of another identifier",
       fromRouter(ErrorMessage(11, 3489, 5, EchoMessage(8, 3489, Ours() ^ 0x100)))},
      {"error: quote of a reply", fromRouter(ErrorMessage(11, 3489, 5, EchoMessage(0, 3489)))},
      {"error: quote to another host", fromRouter(ErrorMessage(3, 3489, 5, {}, kRouter))},
      {"error: quote of another protocol", fromRouter(ErrorMessage(3, 3489, 5, {}, kTarget, 17))},
      {"error: quoted header under 20 bytes", fromRouter(ErrorMessage(11, 3489, 4))},
  };
  for (const auto& [name, datagram] : cases) {
    TReplyStatus record;
    Client().ReplyArea.fill(0);
    EXPECT_FALSE(Classify(datagram, static_cast<int>(datagram.size()), record)) << name;
    EXPECT_EQ(record.ReplyFrom, "") << name;
  }
}

TEST_F(IcmpClientTest, AnIcmpDatagramSocketsAnswersCarryTheSystemsIdentifier) {
  Recording().EchoIdentifier = 0xBEEF;
  Recording().Incoming.push_back(Datagram(5, 60, kTarget, EchoMessage(0, 3489)));
  Recording().Incoming.push_back(Datagram(5, 60, kTarget, EchoMessage(0, 3489, 0xBEEF)));
  Client().Echo("asdas", 0);
  EXPECT_EQ(Client().EchoIdentifier, 0xBEEF);
  EXPECT_EQ(Client().LastReply().StatusKind, TReplyStatusKind::rskEchoReply);
  EXPECT_TRUE(Recording().Incoming.empty()) << "the reply with our own identifier was skipped";
}

TEST_F(IcmpClientTest, AStrayThenNothingWaitsOutTheBudgetAndTimesOut) {
  Recording().ArrivalDelayMs = 300;
  Recording().Incoming.push_back(Datagram(5, 60, {10, 0, 0, 2}, ErrorMessage(11, 3488)));
  Client().Echo("asdas", 0);
  EXPECT_EQ(Recording().SelectTimeouts, (std::vector<int>{1000, 700}));
  EXPECT_EQ(Client().LastReply().StatusKind, TReplyStatusKind::rskTimedOut);
  EXPECT_EQ(Client().LastReply().ReplyFrom, "0.0.0.0");
}

TEST_F(IcmpClientTest, StraysUntilTheBudgetIsSpentLeaveTheLastClassification) {
  clock_.Tick = 0xFFFFFF00;  // the tick count wraps during the wait
  Recording().ArrivalDelayMs = 400;
  Recording().Incoming.push_back(Datagram(5, 60, {10, 0, 0, 2}, EchoMessage(0, 1)));
  Recording().Incoming.push_back(Datagram(5, 60, {10, 0, 0, 3}, ErrorMessage(3, 2)));
  Recording().Incoming.push_back(Datagram(5, 60, {10, 0, 0, 4}, ErrorMessage(11, 3)));
  Recording().Incoming.push_back(Datagram(5, 60, {10, 0, 0, 5}, EchoMessage(0, 3489)));
  int replies = 0;
  Client().OnReply = [&replies](TIdIcmpClient&, const TReplyStatus&) { ++replies; };
  Client().Echo("asdas", 0);

  EXPECT_EQ(Recording().SelectTimeouts, (std::vector<int>{1000, 600, 200}));
  const TReplyStatus& reply = Client().LastReply();
  EXPECT_EQ(reply.ReplyFrom, "");
  EXPECT_EQ(reply.ReceivedBytes, 0);
  EXPECT_EQ(reply.IcmpType, 0);
  EXPECT_EQ(reply.SequenceNumber, 0);
  EXPECT_EQ(reply.ReplyTtl, 0);
  EXPECT_EQ(reply.StatusKind, TReplyStatusKind::rskTtlExpired);
  EXPECT_GE(reply.RoundTripMicros, 1U);
  EXPECT_EQ(replies, 1);
  EXPECT_EQ(Client().NextSequence, 3490);
  EXPECT_EQ(Recording().Incoming.size(), 1U) << "the late answer is not read";
}

TEST_F(IcmpClientTest, UnlimitedAndZeroBudgets) {
  Client().ReceiveTimeout = Id_WAIT_NO_LIMIT;
  Recording().Incoming.push_back(Datagram(5, 60, {10, 0, 0, 2}, EchoMessage(0, 1)));
  Client().Echo("asdas", 0);
  EXPECT_EQ(Recording().SelectTimeouts, (std::vector<int>{-2})) << "no second wait after a stray";
  EXPECT_EQ(Client().LastReply().StatusKind, TReplyStatusKind::rskEchoReply);
  EXPECT_EQ(Client().LastReply().ReplyFrom, "");

  Client().ReceiveTimeout = 0;
  Client().Echo("asdas", 0);
  EXPECT_EQ(Recording().SelectTimeouts, (std::vector<int>{-2, 0}));
  EXPECT_EQ(Client().LastReply().StatusKind, TReplyStatusKind::rskTimedOut);
  EXPECT_EQ(Client().LastReply().SequenceNumber, 3490);
}

TEST_F(IcmpClientTest, AnotherIcmpTypeAbortsTheExchangeAndChangesNothing) {
  Recording().Incoming.push_back(Datagram(5, 60, kTarget, EchoMessage(0, 3489)));
  Client().Echo("asdas", 0);
  const TReplyStatus previous = Client().LastReply();
  ASSERT_EQ(previous.ReplyFrom, "10.0.0.1");

  Recording().Incoming.push_back(Datagram(5, 60, {10, 0, 0, 9}, EchoMessage(5, 3490)));
  Recording().Incoming.push_back(Datagram(5, 60, kTarget, EchoMessage(0, 3490)));
  bool called = false;
  Client().OnReply = [&called](TIdIcmpClient&, const TReplyStatus&) { called = true; };
  try {
    Client().Echo("asdas", 0);
    FAIL() << "no exception";
  } catch (const EIdIcmpException& e) {
    EXPECT_STREQ(e.what(), "Non-echo type response received");
  }
  ASSERT_EQ(Recording().Calls.back(), "recv 101 10240 0");
  Recording().Calls.clear();
  EXPECT_FALSE(called);
  EXPECT_EQ(Client().NextSequence, 3490);
  EXPECT_EQ(Client().LastReply().ReplyFrom, previous.ReplyFrom);
  EXPECT_EQ(Client().LastReply().RoundTripMicros, previous.RoundTripMicros);

  Client().Echo("asdas", 0);  // goes on with the same socket and finds the answer
  EXPECT_THAT(Recording().Calls, Not(Contains("open 3 1"))) << "the socket stayed open";
  EXPECT_THAT(Recording().Calls, Contains("sendto 101 10.0.0.1:0 12"));
  EXPECT_EQ(Client().LastReply().SequenceNumber, 3490);
  EXPECT_EQ(Client().LastReply().StatusKind, TReplyStatusKind::rskEchoReply);
}

TEST_F(IcmpClientTest, AShortDatagramOrAFailedReceiveRaises) {
  TBytes datagram = Datagram(5, 60, {10, 0, 0, 2}, EchoMessage(0, 3489));
  datagram.pop_back();
  Recording().Incoming.push_back(datagram);
  try {
    Client().Echo("asdas", 0);
    FAIL() << "no exception";
  } catch (const EIdIcmpException& e) {
    EXPECT_STREQ(e.what(), "Not enough bytes received");
  }

  Recording().ReceiveResult = -1;
  Recording().ReceiveError = Id_WSAEMSGSIZE;
  Recording().Incoming.push_back(datagram);
  try {
    Client().Echo("asdas", 0);
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.ErrorCode, Id_WSAEMSGSIZE);
  }
  EXPECT_EQ(Client().LastReply().ReplyFrom, "") << "a fresh client's record stays as it was";
  EXPECT_EQ(Client().NextSequence, 3489);
}

TEST_F(IcmpClientTest, EveryHeaderLengthIsReadWithinTheDatagram) {
  for (int ihl = 0; ihl <= 15; ++ihl) {
    SCOPED_TRACE("IHL " + std::to_string(ihl));
    const int h = ihl * 4;
    TReplyStatus record;
    Client().ReplyArea.fill(0);
    // An echo reply that ends right after its header.
    TBytes echo(static_cast<std::size_t>(std::max(h + 8, 20)), 0);
    echo[0] = static_cast<std::uint8_t>(0x40 | ihl);
    if (ihl == 0) {
      // The type byte is the version byte itself.
      EXPECT_THROW(Classify(echo, static_cast<int>(echo.size()), record), EIdIcmpException);
      continue;
    }
    echo[8] = 33;
    echo[12] = 10;
    echo[15] = 1;
    // The ICMP header comes last and wins where a short IP header overlaps it.
    const TBytes header = EchoMessage(0, 3489);
    std::copy(header.begin(), header.end(), echo.begin() + h);
    const int count = static_cast<int>(echo.size());

    EXPECT_THROW(Classify(echo, h + 7, record), EIdIcmpException);
    EXPECT_THROW(Classify(echo, 19, record), EIdIcmpException) << "no room for the IP header";
    // With two or three words the ICMP header overwrites the source: not the target.
    const bool sourceKept = ihl == 1 || ihl >= 4;
    ASSERT_EQ(Classify(echo, count, record), sourceKept);
    EXPECT_EQ(record.StatusKind, TReplyStatusKind::rskEchoReply);
    if (!sourceKept) continue;
    EXPECT_EQ(record.SequenceNumber, 3489);
    EXPECT_EQ(record.ReplyTtl, echo[8]);
    EXPECT_EQ(record.ReceivedBytes, count);
    EXPECT_EQ(record.ReplyFrom, std::to_string(echo[12]) + "." + std::to_string(echo[13]) + "." +
                                    std::to_string(echo[14]) + "." + std::to_string(echo[15]));
    if (ihl < 5) continue;

    // A time exceeded whose embedded request has the same header length.
    const TBytes exceeded = Datagram(ihl, 12, {172, 16, 0, 1}, ErrorMessage(11, 3489, ihl));
    ASSERT_EQ(exceeded.size(), static_cast<std::size_t>(h + 8 + h + 8));
    record = TReplyStatus{};
    ASSERT_TRUE(Classify(exceeded, static_cast<int>(exceeded.size()), record));
    EXPECT_EQ(record.StatusKind, TReplyStatusKind::rskTtlExpired);
    EXPECT_EQ(record.ReplyFrom, "172.16.0.1");
    EXPECT_EQ(record.ReplyTtl, 12);
  }
}

TEST_F(IcmpClientTest, ATruncatedErrorMessageNeverMatchesOnLeftoverBytes) {
  // The area still holds our sequence number where the copy's would be, from an
  // earlier datagram; the message itself ends before it.
  const TBytes full = Datagram(5, 12, {172, 16, 0, 1}, ErrorMessage(11, 3489));
  TReplyStatus record;
  for (int count = 28; count < static_cast<int>(full.size()); ++count) {
    Client().ReplyArea.fill(0);
    EXPECT_FALSE(Classify(full, count, record)) << count;
    EXPECT_EQ(record.StatusKind, TReplyStatusKind::rskTtlExpired);
    EXPECT_EQ(record.ReplyFrom, "");
  }
  // Sequence 0 would otherwise match the zeros of a freshly cleared area.
  Client().NextSequence = 0;
  const TBytes shortOne = Datagram(5, 12, {172, 16, 0, 1}, TBytes{11, 0, 0, 0, 0, 0, 0, 0});
  Client().ReplyArea.fill(0);
  EXPECT_FALSE(Classify(shortOne, static_cast<int>(shortOne.size()), record));
  // A count beyond the area reads no further than the area.
  EXPECT_TRUE(Classify(Datagram(5, 12, {172, 16, 0, 1}, ErrorMessage(11, 0)),
                       Id_ICMP_AREA_SIZE + 100, record));
  EXPECT_EQ(record.ReceivedBytes, Id_ICMP_AREA_SIZE + 100);
}

// --- ICMPv6: the datagrams the stack rebuilds, a 40-byte IPv6 header in front ---

const TIdIPv6Bytes kRouter6{0x20, 0x01, 0, 2, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0x01};
const TIdIPv6Bytes kTarget6{0x20, 0x01, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0x02};

// What a raw ICMPv6 socket hands over for an error: the message with its quote
// of our request (IPv6 header with next header 58, then the request).
TBytes RawError6(std::uint8_t type, std::uint8_t code, const TBytes& request, std::size_t cut,
                 const TIdIPv6Bytes& destination = kTarget6) {
  TBytes quote(Id_IPV6_HEADER_SIZE);
  WriteIcmpV6Header(quote.data(), static_cast<std::uint16_t>(request.size()), 1, kRouter6,
                    destination);
  quote.insert(quote.end(), request.begin(), request.end());
  quote.resize(std::min(quote.size(), cut));
  TBytes icmp{type, code, 0x12, 0x34, 0, 0, 0, 0};
  icmp.insert(icmp.end(), quote.begin(), quote.end());
  return icmp;
}

TBytes Rebuilt(const TBytes& message, std::uint8_t hopLimit, const TIdIPv6Bytes& from = kRouter6) {
  TBytes datagram(Id_IPV6_HEADER_SIZE + message.size());
  datagram.resize(
      static_cast<std::size_t>(BuildReplyDatagramV6(message, from, hopLimit, datagram)));
  return datagram;
}

TBytes AsReply(TBytes request) {
  request[0] = 129;
  return request;
}

TBytes WithIdentifier(TBytes message, std::uint16_t identifier) {
  message[4] = static_cast<std::uint8_t>(identifier & 0xFF);
  message[5] = static_cast<std::uint8_t>(identifier >> 8);
  return message;
}

class IcmpClientV6Test : public IcmpClientTest {
 protected:
  void SetUp() override {
    IcmpClientTest::SetUp();
    Client().IPVersion = TIdIPVersion::ivIPv6;
    Client().Host = "2001:2:0:3::2";
  }
  TBytes Request6(std::uint16_t sequence) {
    Client().NextSequence = sequence;
    Client().BuildRequest("asdas");
    return Request();
  }
  // Reads the datagram as received whole, or as `count` bytes of it.
  bool Classify6(const TBytes& datagram, TReplyStatus& record, int count = -1) {
    Client().ReplyArea.fill(0);
    std::copy(datagram.begin(), datagram.end(), Client().ReplyArea.begin());
    return Client().ClassifyPacket(count < 0 ? static_cast<int>(datagram.size()) : count, record);
  }
};

TEST_F(IcmpClientV6Test, TheRequestIsTheIPv4LayoutWithTypeOneTwentyEightOnAnIPv6Socket) {
  clock_.Tick = 0x12345678;
  Client().ReceiveTimeout = 0;
  Client().SetOutgoingTtl(4);
  Client().Echo("asdas", 0);
  ASSERT_EQ(Recording().Sent.size(), 1U);
  const TBytes& sent = Recording().Sent[0].Bytes;
  ASSERT_EQ(sent.size(), 12U);
  const std::uint32_t pid = GetCurrentProcessId();
  EXPECT_EQ(TBytes(sent.begin(), sent.begin() + 4), (TBytes{128, 0, 0, 0}))
      << "the kernel writes the ICMPv6 checksum";
  EXPECT_EQ(Le16(sent.data() + 4), pid & 0xFFFF);
  EXPECT_EQ(Le16(sent.data() + 6), 3489);
  EXPECT_EQ(TBytes(sent.begin() + 8, sent.end()), (TBytes{0x78, 0x56, 0x34, 0x12}));
  EXPECT_EQ(Recording().Sent[0].Address, "2001:2:0:3::2");
  EXPECT_THAT(Recording().Calls, Contains("open6 3 58"));
  EXPECT_THAT(Recording().Calls, Contains("hops 100 4"));
  EXPECT_THAT(Recording().Calls, Not(Contains("ttl 100 4")));
}

TEST_F(IcmpClientV6Test, RepliesAndErrorsAreMatchedBySequenceAndSkippedTypesAreNoError) {
  const TBytes request = Request6(3489);
  const TBytes foreign = Request6(77);
  Client().NextSequence = 3489;
  struct TCase {
    const char* Name;
    TBytes Datagram;
    TReplyStatusKind Kind;
    std::uint8_t Code;
  };
  const TCase answers[] = {
      {"echo reply", Rebuilt(AsReply(request), 60, kTarget6), rskEchoReply, 0},
      {"time exceeded", Rebuilt(RawError6(3, 0, request, 999), 63), rskTtlExpired, 0},
      {"no route", Rebuilt(RawError6(1, 0, request, 999), 63), rskUnreachable,
       Id_ICMPV6_UNREACH_NOROUTE},
      {"prohibited", Rebuilt(RawError6(1, 1, request, 999), 63), rskUnreachable,
       Id_ICMPV6_UNREACH_ADMIN},
      {"address unreachable", Rebuilt(RawError6(1, 3, request, 999), 63), rskUnreachable,
       Id_ICMPV6_UNREACH_ADDR},
      {"port unreachable", Rebuilt(RawError6(1, 4, request, 999), 63), rskUnreachable,
       Id_ICMPV6_UNREACH_PORT},
  };
  for (const TCase& c : answers) {
    TReplyStatus record;
    ASSERT_TRUE(Classify6(c.Datagram, record)) << c.Name;
    EXPECT_EQ(record.StatusKind, c.Kind) << c.Name;
    EXPECT_EQ(record.IcmpCode, c.Code) << c.Name;
    TIdIPv6Bytes from{};
    std::copy(c.Datagram.begin() + 8, c.Datagram.begin() + 24, from.begin());
    EXPECT_EQ(record.ReplyFrom, IPv6ToText(from)) << c.Name;
    EXPECT_EQ(record.ReplyTtl, c.Datagram[7]) << c.Name;
    EXPECT_EQ(record.SequenceNumber, 3489) << c.Name;
  }
  // Not ours, or no answer at all: skipped, and no error.
  const std::pair<const char*, TBytes> others[] = {
      {"foreign reply", Rebuilt(AsReply(foreign), 60, kTarget6)},
      {"reply from another host", Rebuilt(AsReply(request), 60)},
      {"reply with another identifier",
       Rebuilt(WithIdentifier(AsReply(request), Ours() ^ 1), 60, kTarget6)},
      {"quote with another identifier",
       Rebuilt(RawError6(3, 0, WithIdentifier(request, Ours() ^ 0x100), 999), 63)},
      {"quote of an echo reply", Rebuilt(RawError6(3, 0, AsReply(request), 999), 63)},
      {"quote of a datagram to another host", Rebuilt(RawError6(1, 0, request, 999, kRouter6), 63)},
      {"foreign quote", Rebuilt(RawError6(3, 0, foreign, 999), 63)},
      {"quote cut before the sequence", Rebuilt(RawError6(3, 0, request, 40 + 7), 63)},
      {"neighbour solicitation", Rebuilt(TBytes{135, 0, 0, 0, 0, 0, 0xA1, 0x0D}, 255)},
      {"own request", Rebuilt(request, 64)},
  };
  for (const auto& [name, datagram] : others) {
    TReplyStatus record;
    EXPECT_FALSE(Classify6(datagram, record)) << name;
  }
  TReplyStatus record;
  EXPECT_THROW(Classify6(Rebuilt(TBytes{129, 0, 0}, 1), record, 43), EIdIcmpException);
}

TEST_F(IcmpClientV6Test, TheDatagramSocketsRebuildReadsAsTheRawSocketsMessage) {
  const TBytes request = Request6(3489);
  for (const std::uint8_t type : {std::uint8_t{3}, std::uint8_t{1}}) {
    TIcmp6ErrorReport report;
    report.FromIcmp = true;
    report.Type = type;
    report.Code = type == 1 ? 1 : 0;
    report.Offender = kRouter6;
    report.OriginalDestination = kTarget6;
    report.Ttl = 62;
    TBytes fromQueue(200);
    fromQueue.resize(static_cast<std::size_t>(BuildErrorDatagramV6(report, request, fromQueue)));
    const TBytes fromRaw = Rebuilt(RawError6(type, report.Code, request, 999), 62);
    ASSERT_EQ(fromQueue.size(), fromRaw.size());

    TReplyStatus viaQueue, viaRaw;
    ASSERT_TRUE(Classify6(fromQueue, viaQueue));
    ASSERT_TRUE(Classify6(fromRaw, viaRaw));
    const auto seen = [](const TReplyStatus& r) {
      return std::tuple(r.ReplyFrom, r.StatusKind, r.IcmpType, r.IcmpCode, r.ReplyTtl);
    };
    EXPECT_EQ(seen(viaQueue), seen(viaRaw));
    // Both carry the same header fields: version, lengths, next header, hop limit, source.
    EXPECT_EQ(TBytes(fromQueue.begin(), fromQueue.begin() + 24),
              TBytes(fromRaw.begin(), fromRaw.begin() + 24));
    EXPECT_EQ(fromQueue[0], 0x60);
    EXPECT_EQ(fromQueue[6], 58);
  }
}

TEST_F(IcmpClientV6Test, ALinkLocalRouterTakesTheZoneOfTheTarget) {
  Client().Host = "fe80::2%eth1";
  const TBytes reply = AsReply(Request6(3489));
  const TIdIPv6Bytes linkLocal{0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
  TReplyStatus record;
  ASSERT_TRUE(Classify6(Rebuilt(reply, 64, linkLocal), record));
  EXPECT_EQ(record.ReplyFrom, "fe80::2%eth1");
  ASSERT_TRUE(Classify6(Rebuilt(RawError6(3, 0, Request6(3489), 999, linkLocal), 64), record));
  EXPECT_EQ(record.ReplyFrom, "2001:2:0:1::1") << "a global address takes no zone";
}

// Windows' TCP_ICMP_ERROR_INFO record: family, then the address at byte 4
// (sockaddr_in) or 8 (sockaddr_in6, scope id at 24), protocol at 28, type and code.
TBytes ErrorInfo(std::uint16_t family, const TBytes& from, std::int32_t protocol, std::uint8_t type,
                 std::uint8_t code, std::uint32_t scopeId = 0) {
  TBytes info(sizeof(TIcmpErrorInfo), 0);
  info[0] = static_cast<std::uint8_t>(family);
  std::copy(from.begin(), from.end(), info.begin() + (from.size() == 4 ? 4 : 8));
  if (from.size() == 16) std::memcpy(&info[24], &scopeId, 4);  // little-endian, like Windows
  std::memcpy(&info[28], &protocol, 4);
  info[32] = type;
  info[33] = code;
  return info;
}

// A TCP probe's connect as the engine reads it: its socket error, then the
// record, which every ICMP error row decodes (WSAEHOSTUNREACH, 10065).
TEST(IcmpErrorInfo, AConnectsEndIsTheTargetARouterSilenceOrOurOwnFailure) {
  // Targets and routers as bytes and as the text the record decodes to.
  const TBytes t4{198, 18, 0, 9}, r4{198, 18, 0, 1};
  const TBytes t6{0x20, 1, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 2};
  const TBytes r6{0x20, 1, 0, 2, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1};
  const TBytes linkLocal{0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  constexpr const char *kT4 = "198.18.0.9", *kR4 = "198.18.0.1", *kT6 = "2001:2:0:3::2",
                       *kR6 = "2001:2:0:1::1";
  constexpr std::int32_t kIcmp = 10065;
  const TBytes timeExceeded4 = ErrorInfo(2, r4, 1, 11, 0);
  const struct {
    const char* name;
    std::int32_t error;
    TBytes info;
    TBytes target;
    const char* from;  // "": no answer, the caller reports the error
    TReplyStatusKind kind;
  } cases[] = {
      {"v4 time exceeded", kIcmp, timeExceeded4, t4, kR4, rskTtlExpired},
      {"v4 port unreachable: the target", kIcmp, ErrorInfo(2, t4, 1, 3, 3), t4, kT4, rskEchoReply},
      {"v4 port unreachable: a router", kIcmp, ErrorInfo(2, r4, 1, 3, 3), t4, kR4, rskUnreachable},
      {"v4 host unreachable", kIcmp, ErrorInfo(2, r4, 1, 3, 1), t4, kR4, rskUnreachable},
      {"v4 prohibited by the target", kIcmp, ErrorInfo(2, t4, 1, 3, 13), t4, kT4, rskUnreachable},
      {"v4 parameter problem", kIcmp, ErrorInfo(2, r4, 1, 12, 0), t4, kR4, rskError},
      {"v6 time exceeded", kIcmp, ErrorInfo(23, r6, 58, 3, 0), t6, kR6, rskTtlExpired},
      {"v6 port unreachable: the target", kIcmp, ErrorInfo(23, t6, 58, 1, 4), t6, kT6,
       rskEchoReply},
      {"v6 no route", kIcmp, ErrorInfo(23, r6, 58, 1, 0), t6, kR6, rskUnreachable},
      {"v6 link-local keeps its scope", kIcmp, ErrorInfo(23, linkLocal, 58, 3, 0, 7), t6,
       "fe80::1%7", rskTtlExpired},
      {"v4 with ICMPv6's numbers", kIcmp, ErrorInfo(2, r4, 58, 11, 0), t4, "", rskError},
      {"Linux's AF_INET6 number", kIcmp, ErrorInfo(10, r6, 58, 3, 0), t6, "", rskError},
      {"target of the other family", kIcmp, ErrorInfo(23, r6, 58, 3, 0), t4, "", rskError},
      {"cut short", kIcmp, TBytes(timeExceeded4.begin(), timeExceeded4.end() - 3), t4, "",
       rskError},
      {"SYN-ACK", 0, {}, t4, kT4, rskEchoReply},
      {"refused: a reset", Id_WSAECONNREFUSED, {}, t6, kT6, rskEchoReply},
      {"SYNs unanswered", Id_WSAETIMEDOUT, {}, t4, "0.0.0.0", rskTimedOut},
      {"our own: no route", 10051, TBytes(sizeof(TIcmpErrorInfo), 0), t4, "", rskError},
  };
  for (const auto& c : cases) {
    TReplyStatus reply;
    reply.StatusKind = rskError;
    ASSERT_EQ(TcpConnectAnswer(c.error, c.info, c.target == t4 ? kT4 : kT6, c.target, reply),
              *c.from != 0)
        << c.name;
    EXPECT_EQ(reply.ReplyFrom, c.from) << c.name;
    EXPECT_EQ(reply.StatusKind, c.kind) << c.name;
    // The target reached reads as its echo reply; any other keeps its code.
    const bool coded = *c.from != 0 && !c.info.empty() && c.kind != rskEchoReply;
    EXPECT_EQ(reply.IcmpCode, coded ? c.info[33] : 0) << c.name;
  }
}

// A port is 1 to 65535, and UDP's default grows with the offset within that range (the trace tests
// follow the ordinary ports hop by hop; these are the edges).
TEST(ProbeMethod, PortBoundaries) {
  using enum TProbeMethod;
  EXPECT_EQ(std::tuple(IsValidProbePort(0), IsValidProbePort(1), IsValidProbePort(65535),
                       IsValidProbePort(65536)),
            std::tuple(false, true, true, false));
  // Method, fixed port, offset, destination port.
  const std::tuple<TProbeMethod, int, int, int> rows[] = {
      {pmIcmp, 53, 5, 0},    {pmUdp, 0, 32101, 65535}, {pmUdp, 0, 32102, 1},
      {pmUdp, 0, -1, 33433}, {pmTcp, 70000, 0, 80},
  };
  for (const auto& [method, fixed, offset, port] : rows) {
    EXPECT_EQ(ProbeDestinationPort(method, fixed, offset), port)
        << ProbeMethodName(method) << " " << fixed << " " << offset;
  }
}

}  // namespace
}  // namespace quillon
