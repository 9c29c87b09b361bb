// The echo client over the simulated route: what the trace engine will see.
#include <gtest/gtest.h>

#include "net/IdException.h"
#include "net/IdIcmpClient.h"
#include "support/SimulatedNetwork.h"

namespace quillon {
namespace {

constexpr char kTarget[] = "10.9.9.9";

class SimIcmpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    config.Target = kTarget;
    config.Route = {TSimHop::Router("10.0.0.1", 2), TSimHop::Silent("10.0.0.2"),
                    TSimHop::Destination(kTarget, 5)};
  }
  TSimNetwork& Install() { return InstallSimulatedNetwork(config); }

  static void Probe(TIdIcmpClient& client, int ttl, int timeoutMs = 5000,
                    const std::string& host = kTarget) {
    client.SetOutgoingTtl(ttl);
    client.ReceiveTimeout = timeoutMs;
    client.Host = host;
    client.Echo("asdas", 0);
  }

  TSimConfig config;
};

TEST_F(SimIcmpClientTest, TtlOneExpiresAtHopOneAndTheTargetEchoes) {
  TSimNetwork& net = Install();
  TIdIcmpClient client;

  Probe(client, 1);
  TReplyStatus reply = client.LastReply();
  EXPECT_EQ(reply.StatusKind, TReplyStatusKind::rskTtlExpired);
  EXPECT_EQ(reply.ReplyFrom, "10.0.0.1");
  EXPECT_EQ(reply.IcmpType, 11);
  EXPECT_EQ(reply.SequenceNumber, 3489);
  EXPECT_EQ(reply.ReplyTtl, 64);
  EXPECT_EQ(reply.ReceivedBytes, 56);

  Probe(client, 3);
  reply = client.LastReply();
  EXPECT_EQ(reply.StatusKind, TReplyStatusKind::rskEchoReply);
  EXPECT_EQ(reply.ReplyFrom, kTarget);
  EXPECT_EQ(reply.IcmpType, 0);
  EXPECT_EQ(reply.SequenceNumber, 3490);
  EXPECT_EQ(reply.ReceivedBytes, 32);

  // The silent hop leaves the client waiting out its time-out.
  Probe(client, 2, 30);
  reply = client.LastReply();
  EXPECT_EQ(reply.StatusKind, TReplyStatusKind::rskTimedOut);
  EXPECT_EQ(reply.ReplyFrom, "0.0.0.0");

  const std::vector<TSimSentDatagram> sent = net.Sent();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].Ttl, 1);
  EXPECT_EQ(sent[1].Ttl, 3);
  EXPECT_EQ(sent[1].Bytes.size(), 12u);
  EXPECT_EQ(net.Counters().BadChecksumRequests, 0) << "the target accepted every request";
  EXPECT_EQ(net.Counters().OpenSockets, 0) << "each exchange closes its socket";
}

TEST_F(SimIcmpClientTest, StraysAreSkippedOrRaisedAsTheClientPrescribes) {
  TSimStray otherSequence;
  otherSequence.Kind = TSimStrayKind::EchoReplyOtherSequence;
  otherSequence.Ttl = 1;
  TSimStray redirect;
  redirect.Kind = TSimStrayKind::Redirect;
  redirect.Ttl = 2;
  config.Strays = {otherSequence, redirect};
  Install();
  TIdIcmpClient client;

  // An echo reply for someone else's sequence comes first and is passed over.
  Probe(client, 1);
  EXPECT_EQ(client.LastReply().StatusKind, TReplyStatusKind::rskTtlExpired);
  EXPECT_EQ(client.LastReply().ReplyFrom, "10.0.0.1");

  // A redirect during the wait ends the exchange with an exception.
  try {
    Probe(client, 2, 200);
    FAIL() << "no exception";
  } catch (const EIdIcmpException& e) {
    EXPECT_STREQ(e.what(), "Non-echo type response received");
  }
}

TEST_F(SimIcmpClientTest, LoopbackEchoIsAnsweredByTheRequestItself) {
  Install();
  TIdIcmpClient client;
  Probe(client, 64, 5000, "localhost");
  EXPECT_EQ(client.LastReply().StatusKind, TReplyStatusKind::rskEchoReply);
  EXPECT_EQ(client.LastReply().IcmpType, 8);
  EXPECT_EQ(client.LastReply().ReplyFrom, "127.0.0.1");
}

}  // namespace
}  // namespace quillon
