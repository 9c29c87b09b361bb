// The ICMP echo client against real routers: what each kind of answer (or
// silence) in the lab turns into in the reply record.
#include <random>
#include <sstream>

#include "lab/LabNetwork.h"
#include "net/IdIcmpClient.h"

namespace quillon {
namespace {

struct Outcome {
  std::string Kind;
  int Type = -1;
  std::string From;
  int Ttl = -1;
  int Bytes = -1;
  long RoundTripMicros = -1;
};

const char* KindName(TReplyStatusKind kind) {
  switch (kind) {
    case TReplyStatusKind::rskEchoReply:
      return "EchoReply";
    case TReplyStatusKind::rskError:
      return "Error";
    case TReplyStatusKind::rskTimedOut:
      return "TimedOut";
    case TReplyStatusKind::rskUnreachable:
      return "Unreachable";
    case TReplyStatusKind::rskTtlExpired:
      return "TtlExpired";
  }
  return "?";
}

// One echo per TTL, made with the project's client from inside the source
// namespace, each with a sequence number of its own.
std::vector<Outcome> EchoFromSource(const LabNetwork& lab, const std::vector<int>& ttls,
                                    int timeoutMs = 1000) {
  const std::string target = lab.Facts().Target;
  const CommandResult result = lab.RunInSourceProcess([&] {
    std::ostringstream lines;
    TIdIcmpClient client;
    std::uint16_t sequence = static_cast<std::uint16_t>(1000 + std::random_device{}() % 60000);
    for (int ttl : ttls) {
      client.SetOutgoingTtl(ttl);
      client.ReceiveTimeout = timeoutMs;
      client.Host = target;
      client.Echo("asdas", sequence++);
      const TReplyStatus& reply = client.LastReply();
      lines << KindName(reply.StatusKind) << ' ' << int{reply.IcmpType} << ' '
            << (reply.ReplyFrom.empty() ? "-" : reply.ReplyFrom) << ' ' << int{reply.ReplyTtl}
            << ' ' << reply.ReceivedBytes << ' ' << reply.RoundTripMicros << '\n';
    }
    return lines.str();
  });
  EXPECT_EQ(result.ExitCode, 0) << result.Output;
  std::vector<Outcome> outcomes;
  std::istringstream lines(result.Output);
  for (Outcome outcome; lines >> outcome.Kind >> outcome.Type >> outcome.From >> outcome.Ttl >>
                        outcome.Bytes >> outcome.RoundTripMicros;) {
    outcomes.push_back(outcome);
  }
  EXPECT_EQ(outcomes.size(), ttls.size()) << result.Output;
  outcomes.resize(ttls.size());
  return outcomes;
}

// IP header (20) + time exceeded or unreachable header (8) + the request's IP
// header (20) + the 12-byte request the client sends by default.
constexpr int kErrorBytes = 20 + 8 + 20 + 12;
// IP header + the echoed 12-byte message.
constexpr int kEchoReplyBytes = 20 + 12;

TEST(LabIcmp, EveryTtlIsAnsweredByItsHopAndTheLastByTheTarget) {
  // The target checks the request's checksum, as a real host would.
  QUILLON_START_LAB(lab, LabOptions().WithRouters(3).WithVerifiedChecksums());
  const std::vector<Outcome> outcomes = EchoFromSource(lab, {1, 2, 3, 4});
  for (int ttl = 1; ttl <= 3; ++ttl) {
    const Outcome& outcome = outcomes[static_cast<std::size_t>(ttl - 1)];
    SCOPED_TRACE("TTL " + std::to_string(ttl));
    EXPECT_EQ(outcome.Kind, "TtlExpired");
    EXPECT_EQ(outcome.Type, 11);
    EXPECT_EQ(outcome.From, lab.Facts().Hop(ttl));
    // Router k's message starts with TTL 64 and passes k - 1 routers back.
    EXPECT_EQ(outcome.Ttl, 64 - (ttl - 1));
    EXPECT_EQ(outcome.Bytes, kErrorBytes);
    EXPECT_GE(outcome.RoundTripMicros, 1);
  }
  const Outcome& reply = outcomes[3];
  EXPECT_EQ(reply.Kind, "EchoReply");
  EXPECT_EQ(reply.Type, 0);
  EXPECT_EQ(reply.From, lab.Facts().Target);
  EXPECT_EQ(reply.Ttl, 61);
  EXPECT_EQ(reply.Bytes, kEchoReplyBytes);
}

TEST(LabIcmp, ASilentRouterGivesTheTimeOutRecordAndHidesNoOtherHop) {
  QUILLON_START_LAB(lab, LabOptions().WithRouters(3).WithSilent({2}).WithVerifiedChecksums());
  const std::vector<Outcome> outcomes = EchoFromSource(lab, {1, 2, 3, 4}, 300);
  EXPECT_EQ(outcomes[0].From, lab.Facts().Hop(1));
  const Outcome& silent = outcomes[1];
  EXPECT_EQ(silent.Kind, "TimedOut");
  EXPECT_EQ(silent.Type, 0);
  EXPECT_EQ(silent.From, "0.0.0.0");
  EXPECT_EQ(silent.Ttl, 0);
  EXPECT_EQ(silent.Bytes, 0);
  std::printf("silent hop: the wait took %ld us for a 300 ms time-out\n", silent.RoundTripMicros);
  EXPECT_EQ(outcomes[2].Kind, "TtlExpired");
  EXPECT_EQ(outcomes[2].From, lab.Facts().Hop(3));
  EXPECT_EQ(outcomes[3].Kind, "EchoReply");
}

TEST(LabIcmp, AnAdminProhibitedRouterGivesUnreachableFromItself) {
  QUILLON_START_LAB(lab, LabOptions().WithRouters(3).WithProhibit(2));
  const std::vector<Outcome> outcomes = EchoFromSource(lab, {2, 3, 4, 64});
  EXPECT_EQ(outcomes[0].Kind, "TtlExpired") << "the TTL runs out before the filter";
  EXPECT_EQ(outcomes[0].From, lab.Facts().Hop(2));
  for (std::size_t i = 1; i < outcomes.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(outcomes[i].Kind, "Unreachable");
    EXPECT_EQ(outcomes[i].Type, 3);
    EXPECT_EQ(outcomes[i].From, lab.Facts().Hop(2));
    EXPECT_EQ(outcomes[i].Bytes, kErrorBytes);
  }
}

TEST(LabIcmp, ATargetDroppingEchoesTimesOutBehindAnsweringRouters) {
  QUILLON_START_LAB(lab, LabOptions().WithRouters(2).WithDropEcho());
  const std::vector<Outcome> outcomes = EchoFromSource(lab, {2, 3}, 300);
  EXPECT_EQ(outcomes[0].Kind, "TtlExpired");
  EXPECT_EQ(outcomes[0].From, lab.Facts().Hop(2));
  EXPECT_EQ(outcomes[1].Kind, "TimedOut");
  EXPECT_EQ(outcomes[1].From, "0.0.0.0");
}

}  // namespace
}  // namespace quillon
