// Delayed links: every link holds each packet for its delay in each direction,
// so hop k is at least 2 * k * delay away. The times are printed; only the lower
// bound, which the forwarder guarantees, is checked.
#include <cstdio>
#include <regex>

#include "lab/LabNetwork.h"
#include "net/IdIcmpClient.h"

namespace quillon {
namespace {

constexpr int kDelayMs = 20;

TEST(LabDelay, PingTimesGrowByTheDelayOfEveryLinkCrossed) {
  QUILLON_START_LAB(lab, LabOptions().WithRouters(1).WithDelay(kDelayMs));
  EXPECT_EQ(lab.Facts().DelayMs, kDelayMs);
  for (int hop = 1; hop <= lab.Facts().Hops; ++hop) {
    const CommandResult ping =
        lab.RunInSource({"ping", "-n", "-q", "-c3", "-i0.2", "-W2", lab.Facts().Hop(hop)});
    ASSERT_EQ(ping.ExitCode, 0) << ping.Output;
    std::smatch times;
    const std::regex summary("rtt min/avg/max/mdev = ([0-9.]+)/([0-9.]+)/([0-9.]+)");
    ASSERT_TRUE(std::regex_search(ping.Output, times, summary)) << ping.Output;
    const double fastest = std::stod(times[1]);
    const int floor = 2 * hop * kDelayMs;
    std::printf("hop %d: ping min/avg/max %s/%s/%s ms, at least %d ms expected\n", hop,
                times[1].str().c_str(), times[2].str().c_str(), times[3].str().c_str(), floor);
    EXPECT_GE(fastest, floor - 0.5) << ping.Output;
  }
  // A datagram of the links' full size crosses the forwarders whole, unfragmented.
  const CommandResult full = lab.RunInSource(
      {"ping", "-n", "-q", "-c1", "-W2", "-M", "do", "-s", "1472", lab.Facts().Target});
  EXPECT_EQ(full.ExitCode, 0) << full.Output;
  EXPECT_NE(full.Output.find("1 received"), std::string::npos) << full.Output;
}

TEST(LabDelay, TheEchoClientMeasuresTheDelayedRoute) {
  QUILLON_START_LAB(lab, LabOptions().WithRouters(2).WithDelay(kDelayMs));
  const std::string target = lab.Facts().Target;
  const CommandResult result = lab.RunInSourceProcess([&] {
    std::string lines;
    TIdIcmpClient client;
    for (int ttl = 1; ttl <= 3; ++ttl) {
      client.SetOutgoingTtl(ttl);
      client.ReceiveTimeout = 2000;
      client.Host = target;
      client.Echo("asdas", static_cast<std::uint16_t>(7000 + ttl));
      const TReplyStatus& reply = client.LastReply();
      lines += std::to_string(static_cast<int>(reply.StatusKind)) + " " +
               std::to_string(int{reply.IcmpType}) + " " + std::to_string(reply.RoundTripMicros) +
               "\n";
    }
    return lines;
  });
  ASSERT_EQ(result.ExitCode, 0) << result.Output;
  std::istringstream lines(result.Output);
  for (int ttl = 1; ttl <= 3; ++ttl) {
    int kind = -1;
    int type = -1;
    long micros = -1;
    ASSERT_TRUE(lines >> kind >> type >> micros) << result.Output;
    std::printf("TTL %d: ICMP type %d after %ld us\n", ttl, type, micros);
    const TReplyStatusKind expected =
        ttl < 3 ? TReplyStatusKind::rskTtlExpired : TReplyStatusKind::rskEchoReply;
    EXPECT_EQ(kind, static_cast<int>(expected)) << "TTL " << ttl;
    EXPECT_EQ(type, ttl < 3 ? 11 : 0);
    EXPECT_GE(micros, 2L * ttl * kDelayMs * 1000);
  }
}

}  // namespace
}  // namespace quillon
