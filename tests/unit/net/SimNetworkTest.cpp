// The simulated network must hand the socket layer exactly what a kernel hands
// a raw ICMP socket, or every test built on it proves nothing.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "net/IdStackConsts.h"
#include "support/SimStackFixture.h"

namespace quillon {
namespace {

using Bytes = std::vector<std::uint8_t>;

// One's-complement sum written here again, independently of the simulation:
// a correct checksum makes the sum over the covered bytes 0xFFFF.
std::uint16_t OnesSum(const Bytes& bytes, std::size_t from, std::size_t to) {
  std::uint32_t sum = 0;
  for (std::size_t i = from; i < to; i += 2) {
    const std::uint32_t high = bytes[i];
    const std::uint32_t low = i + 1 < to ? bytes[i + 1] : 0;
    sum += (high << 8) | low;
  }
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(sum);
}

// An echo request as the client builds it: identifier and sequence least
// significant byte first, a tick count, then filler up to the length.
Bytes EchoRequest(std::uint16_t identifier, std::uint16_t sequence, std::size_t length = 12) {
  Bytes message(length, 0);
  message[0] = 8;
  message[4] = static_cast<std::uint8_t>(identifier & 0xFF);
  message[5] = static_cast<std::uint8_t>(identifier >> 8);
  message[6] = static_cast<std::uint8_t>(sequence & 0xFF);
  message[7] = static_cast<std::uint8_t>(sequence >> 8);
  const std::uint8_t tick[] = {0x78, 0x56, 0x34, 0x12};
  for (std::size_t i = 8; i < length; ++i) message[i] = i < 12 ? tick[i - 8] : 'E';
  const std::uint16_t checksum = static_cast<std::uint16_t>(~OnesSum(message, 0, length));
  message[2] = static_cast<std::uint8_t>(checksum >> 8);
  message[3] = static_cast<std::uint8_t>(checksum & 0xFF);
  return message;
}

// Sends assert their full length here; the failure tests look at the result.
class SimNetworkTest : public SimStackFixture {
 protected:
  void Send(TIdStackSocketHandle socket, const Bytes& message, const std::string& to = kTarget) {
    ASSERT_EQ(SimStackFixture::Send(socket, message, to), static_cast<int>(message.size()));
  }
};

TEST_F(SimNetworkTest, TimeExceededCarriesKernelLayoutByteForByte) {
  config.Route = {TSimHop::Router("10.0.0.1"), TSimHop::Destination(kTarget)};
  const TIdStackSocketHandle socket = OpenWithTtl(1);
  const Bytes request = EchoRequest(0x1234, 3489);
  Send(socket, request);

  const std::optional<Bytes> got = Receive(socket);
  ASSERT_TRUE(got.has_value());
  Bytes datagram = *got;
  ASSERT_EQ(datagram.size(), 56u);
  EXPECT_EQ(OnesSum(datagram, 0, 20), 0xFFFF) << "outer IP header checksum";
  EXPECT_EQ(OnesSum(datagram, 20, 56), 0xFFFF) << "ICMP checksum";
  EXPECT_EQ(OnesSum(datagram, 28, 48), 0xFFFF) << "quoted IP header checksum";
  // The identification fields and checksums are checked above; blank them and
  // compare everything else with what a router's message looks like.
  for (std::size_t at : {4u, 5u, 10u, 11u, 22u, 23u, 32u, 33u, 38u, 39u}) datagram[at] = 0;
  const Bytes expected = {
      0x45, 0x00, 0x00,       0x38,       0,    0,    0x00, 0x00, 64, 1,
      0,    0,    10,         0,          0,    1,    10,   0,    0,  100,  // outer header, TTL 64
      11,   0,    0,          0,          0,    0,    0,    0,              // time exceeded, code 0
      0x45, 0x00, 0x00,       0x20,       0,    0,    0x00, 0x00, 1,  1,
      0,    0,    10,         0,          0,    100,  10,   9,    9,  9,  // request as hop 1 saw it
      8,    0,    request[2], request[3], 0x34, 0x12, 0xA1, 0x0D};        // its first 8 bytes
  EXPECT_EQ(datagram, expected);
}

TEST_F(SimNetworkTest, EachHopAnswersByTheTtlItSeesAndSilentHopsSendNothing) {
  config.Route = {TSimHop::Router("10.0.0.1"), TSimHop::Silent("10.0.0.2"),
                  TSimHop::Router("10.0.0.3"), TSimHop::Destination(kTarget)};
  const Bytes request = EchoRequest(7, 100, 44);

  // The silent hop forwards but never answers.
  const TIdStackSocketHandle silent = OpenWithTtl(2);
  Send(silent, request);
  EXPECT_EQ(Net().InFlight(), 0);
  EXPECT_EQ(Net().QueuedOn(silent), 0);

  const TIdStackSocketHandle third = OpenWithTtl(3);
  Send(third, request);
  std::optional<Bytes> answer = Receive(third);
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ((*answer)[20], 11);
  EXPECT_EQ(Bytes(answer->begin() + 12, answer->begin() + 16), (Bytes{10, 0, 0, 3}));
  EXPECT_EQ((*answer)[8], 62) << "hop 3's message passed two routers on its way back";

  // From the destination's position on, any TTL gets the echo reply, which
  // returns the whole request with type 0 and a new checksum.
  for (int ttl : {4, 30}) {
    const TIdStackSocketHandle far = OpenWithTtl(ttl);
    Send(far, request);
    answer = Receive(far);
    ASSERT_TRUE(answer.has_value()) << "TTL " << ttl;
    ASSERT_EQ(answer->size(), 20u + request.size());
    EXPECT_EQ(Bytes(answer->begin() + 12, answer->begin() + 16), (Bytes{10, 9, 9, 9}));
    EXPECT_EQ((*answer)[8], 61);
    EXPECT_EQ((*answer)[20], 0);
    EXPECT_EQ(OnesSum(*answer, 20, answer->size()), 0xFFFF);
    EXPECT_EQ(Bytes(answer->begin() + 24, answer->end()),
              Bytes(request.begin() + 4, request.end()));
  }

  // A request with a broken checksum is dropped by the destination.
  Bytes broken = request;
  broken[2] ^= 0x40;
  const TIdStackSocketHandle bad = OpenWithTtl(10);
  Send(bad, broken);
  EXPECT_EQ(Net().InFlight(), 0);
  EXPECT_EQ(Net().Counters().BadChecksumRequests, 1);

  // Other destinations have no route, and the sent records keep each TTL.
  Send(bad, request, "10.1.1.1");
  EXPECT_EQ(Net().InFlight(), 0);
  std::vector<int> ttls;
  for (const TSimSentDatagram& sent : Net().Sent()) ttls.push_back(sent.Ttl);
  EXPECT_EQ(ttls, (std::vector<int>{2, 3, 4, 30, 10, 10}));
  EXPECT_EQ(Net().Sent()[1].Sequence, 100);
  EXPECT_EQ(Net().Sent()[1].Bytes, request);
}

TEST_F(SimNetworkTest, UnreachableHopStopsTheRouteAndQuotesTheTtlItSaw) {
  config.Route = {TSimHop::Router("10.0.0.1"), TSimHop::Unreachable("10.0.0.2"),
                  TSimHop::Destination(kTarget)};
  const TIdStackSocketHandle socket = OpenWithTtl(5);
  Send(socket, EchoRequest(1, 2));
  const std::optional<Bytes> answer = Receive(socket);
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ((*answer)[20], 3);
  EXPECT_EQ((*answer)[21], 13);
  EXPECT_EQ(Bytes(answer->begin() + 12, answer->begin() + 16), (Bytes{10, 0, 0, 2}));
  EXPECT_EQ((*answer)[28 + 8], 4) << "the quoted header holds the TTL on arrival at hop 2";
  EXPECT_EQ(Net().InFlight(), 0) << "nothing reaches the destination";
}

TEST_F(SimNetworkTest, HopAnsweringFromSecondAttemptDropsTheFirstRequestOfEachTtl) {
  TSimHop hop = TSimHop::Router("10.0.0.1");
  hop.FirstAnsweredAttempt = 2;
  config.Route = {hop, TSimHop::Destination(kTarget)};
  const TIdStackSocketHandle socket = OpenWithTtl(1);
  Send(socket, EchoRequest(1, 10));
  EXPECT_EQ(Net().InFlight(), 0);
  EXPECT_EQ(Net().Counters().AnswersDropped, 1);
  Send(socket, EchoRequest(1, 11));
  const std::optional<Bytes> answer = Receive(socket);
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ((*answer)[48 + 6], 11) << "the retry is the one answered";
}

TEST_F(SimNetworkTest, EveryRawSocketOpenAtDeliverySeesStraysAndAnswersInOrder) {
  TSimHop hop = TSimHop::Router("10.0.0.1");
  hop.Duplicates = 1;
  config.Route = {hop, TSimHop::Destination(kTarget)};
  TSimStray redirect;
  redirect.Kind = TSimStrayKind::Redirect;
  redirect.From = "10.0.0.254";
  redirect.Count = 1;
  config.Strays = {redirect};

  const TIdStackSocketHandle sender = OpenWithTtl(1);
  const TIdStackSocketHandle other = OpenWithTtl(64);
  const Bytes request = EchoRequest(5, 500);
  Send(sender, request);
  for (TIdStackSocketHandle socket : {sender, other}) {
    // The stray due with the answer comes first, then the answer and its copy.
    const std::optional<Bytes> first = Receive(socket);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ((*first)[20], 5);
    EXPECT_EQ((*first)[21], 1);
    EXPECT_EQ(Bytes(first->begin() + 24, first->begin() + 28), (Bytes{10, 0, 0, 254}));
    EXPECT_EQ(Bytes(first->begin() + 48, first->end()),
              Bytes(request.begin(), request.begin() + 8));
    const std::optional<Bytes> second = Receive(socket);
    const std::optional<Bytes> third = Receive(socket);
    ASSERT_TRUE(second && third);
    EXPECT_EQ((*second)[20], 11);
    EXPECT_EQ(*second, *third);
    EXPECT_EQ(Net().QueuedOn(socket), 0);
  }
  // A socket opened after the delivery never sees it.
  const TIdStackSocketHandle late = OpenWithTtl(64);
  EXPECT_EQ(Net().QueuedOn(late), 0);
  EXPECT_EQ(Net().Counters().DatagramsDelivered, 6);
}

TEST_F(SimNetworkTest, DelayedAnswerReachesTheSocketOpenWhenItArrivesNotWhenItWasSent) {
  config.Route = {TSimHop::Router("10.0.0.1", 300), TSimHop::Router("10.0.0.2", 0),
                  TSimHop::Destination(kTarget)};
  // Hop 1 answers late; the retry's socket, opened after the send, still gets it.
  const TIdStackSocketHandle first = OpenWithTtl(1);
  Send(first, EchoRequest(1, 1));
  EXPECT_EQ(Stack().SockClose(first), 0);
  const TIdStackSocketHandle retry = OpenWithTtl(2);
  Send(retry, EchoRequest(1, 2));
  // Hop 2 answered at once, hop 1 after its delay: order follows the delays.
  const std::optional<Bytes> early = Receive(retry);
  const std::optional<Bytes> late = Receive(retry);
  ASSERT_TRUE(early && late);
  EXPECT_EQ((*early)[15], 2);
  EXPECT_EQ((*late)[15], 1);
}

TEST_F(SimNetworkTest, LoopbackShowsTheRequestItselfBeforeTheReplyUnlessRouted) {
  config.OtherRoutes["127.0.0.5"] = {TSimHop::Router("10.0.0.1"),
                                     TSimHop::Destination("127.0.0.5")};
  const TIdStackSocketHandle socket = OpenWithTtl(128);
  const Bytes request = EchoRequest(9, 900);
  Send(socket, request, "127.0.0.1");
  const std::optional<Bytes> own = Receive(socket);
  const std::optional<Bytes> reply = Receive(socket);
  ASSERT_TRUE(own && reply);
  EXPECT_EQ(Bytes(own->begin() + 20, own->end()), request);
  EXPECT_EQ((*own)[8], 128);
  EXPECT_EQ((*reply)[20], 0);
  EXPECT_EQ(Bytes(reply->begin() + 12, reply->begin() + 16), (Bytes{127, 0, 0, 1}));

  const TIdStackSocketHandle routed = OpenWithTtl(1);
  Send(routed, request, "127.0.0.5");
  const std::optional<Bytes> expired = Receive(routed);
  ASSERT_TRUE(expired.has_value());
  EXPECT_EQ((*expired)[20], 11);
  EXPECT_EQ(Net().QueuedOn(routed), 0);
}

TEST_F(SimNetworkTest, InjectedAndTruncatedStraysArriveAsGiven) {
  config.Route = {TSimHop::Silent("10.0.0.1"), TSimHop::Destination(kTarget)};
  TSimStray truncated;
  truncated.Kind = TSimStrayKind::Truncated;
  truncated.Length = 30;
  TSimStray otherSequence;
  otherSequence.Kind = TSimStrayKind::EchoReplyOtherSequence;
  otherSequence.From = kTarget;
  config.Strays = {truncated, otherSequence};
  const TIdStackSocketHandle socket = OpenWithTtl(1);
  Send(socket, EchoRequest(3, 65535));

  const std::optional<Bytes> cut = Receive(socket);
  ASSERT_TRUE(cut.has_value());
  EXPECT_EQ(cut->size(), 30u);
  EXPECT_EQ((*cut)[20], 11);
  const std::optional<Bytes> echo = Receive(socket);
  ASSERT_TRUE(echo.has_value());
  EXPECT_EQ((*echo)[20], 0);
  EXPECT_EQ((*echo)[26], 0x00);  // sequence 65535 + 1 wraps to 0
  EXPECT_EQ((*echo)[27], 0x00);
  EXPECT_EQ(OnesSum(*echo, 20, echo->size()), 0xFFFF);

  const Bytes raw = {0x45, 1, 2, 3};
  Net().Inject(raw);
  EXPECT_EQ(Receive(socket), raw);

  // A socket nobody reads holds only so much, like a full receive buffer.
  Net().Update([](TSimConfig& c) { c.SocketQueueLimit = 2; });
  for (int i = 0; i < 3; ++i) Net().Inject(raw);
  EXPECT_EQ(Net().QueuedOn(socket), 2);
  EXPECT_EQ(Net().Counters().DatagramsOverflowed, 1);
}

}  // namespace
}  // namespace quillon
