// The end-of-route rules: which results finish the route, how the route length
// follows them, and the silent-result rule counted in TTL order — first applied
// to crafted results, then over whole runs on the simulated network.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <ranges>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "TraceFixture.h"
#include "net/IdException.h"
#include "platform/Clock.h"
#include "trace/DNSThread.h"
#include "trace/PingThread.h"

namespace quillon::testing {
namespace {

TReplyStatus Reply(const std::string& from, TReplyStatusKind kind) {
  TReplyStatus reply;
  reply.ReplyFrom = from;
  reply.StatusKind = kind;
  return reply;
}
TReplyStatus Expired(const std::string& from) {
  return Reply(from, TReplyStatusKind::rskTtlExpired);
}
TReplyStatus EchoFrom(const std::string& from) {
  return Reply(from, TReplyStatusKind::rskEchoReply);
}
TReplyStatus TimedOut() {
  return Reply("0.0.0.0", TReplyStatusKind::rskTimedOut);
}

int MaxSentTtl(const TSimNetwork& net) {
  int highest = 0;
  for (const auto& datagram : net.Sent()) highest = std::max(highest, datagram.Ttl);
  return highest;
}

// RecordResult on a window whose run state is set by hand, as StartTrace
// leaves it. Stop is set so that no name worker starts: the entries keep the
// reply address in both columns.
class RecordResultRules : public TraceTest {
 protected:
  void SetUp() override {
    TraceTest::SetUp();
    Install(RouteTo(1));
    MakeForm();
    form_->Running = true;
    form_->TargetAddress = TargetAddressText;
    form_->MaxHops = 30;
    form_->RouteLength = MaxHopEntries;
    form_->StopRequested = true;
  }
};

TEST_F(RecordResultRules, ResultIsWrittenIntoItsEntry) {
  form_->RecordResult(4, 17, Expired("10.0.0.4"));
  EXPECT_TRUE(Hop(4).Filled);
  EXPECT_EQ(Hop(4).Address, "10.0.0.4");
  EXPECT_EQ(Hop(4).HostName, "10.0.0.4");
  EXPECT_EQ(Hop(4).HopNo, 4);
  EXPECT_EQ(Hop(4).Time, 17u);
  EXPECT_FALSE(Hop(3).Filled);
  EXPECT_FALSE(form_->RouteEndFound);
  EXPECT_EQ(form_->HighestAnsweringHop, 4);
  EXPECT_EQ(form_->SilentCount, 0);
  // The grid shows rows up to the highest answering hop.
  EXPECT_EQ(form_->OutGrid.RowCount(), 5);
  EXPECT_EQ(form_->OutGrid.Cell(1, 4), "10.0.0.4");
  EXPECT_EQ(form_->OutGrid.Cell(3, 4), "17");
}

TEST_F(RecordResultRules, SingleHopLimitFinishesWhateverAnswers) {
  form_->MaxHops = 1;
  form_->RecordResult(1, 3, Expired(HopAddress(1)));
  EXPECT_TRUE(form_->RouteEndFound);
  EXPECT_EQ(form_->RouteLength, 1);

  // Even a silent result at the hop limit finishes.
  form_->RouteEndFound = false;
  form_->RouteLength = MaxHopEntries;
  form_->RecordResult(1, 900, TimedOut());
  EXPECT_TRUE(form_->RouteEndFound);
  EXPECT_EQ(form_->RouteLength, 1);
}

TEST_F(RecordResultRules, LowestFinishingHopIsTheRouteLength) {
  form_->RecordResult(8, 5, EchoFrom(TargetAddressText));
  EXPECT_TRUE(form_->RouteEndFound);
  EXPECT_EQ(form_->RouteLength, 8);
  for (int n = 9; n <= 12; ++n) form_->RecordResult(n, 5, EchoFrom(TargetAddressText));
  EXPECT_EQ(form_->RouteLength, 8);
  for (int n = 9; n <= 12; ++n) EXPECT_FALSE(Hop(n).Filled) << n << " lies beyond the end";
  // An earlier hop that finishes later still shortens the route, and what
  // the hop above it wrote is discarded.
  form_->RecordResult(7, 5, EchoFrom(TargetAddressText));
  EXPECT_EQ(form_->RouteLength, 7);
  EXPECT_FALSE(Hop(8).Filled);
  EXPECT_EQ(form_->HighestAnsweringHop, 7);
  EXPECT_EQ(form_->OutGrid.RowCount(), 8);
}

TEST_F(RecordResultRules, OnlyAnEchoReplyFromTheTargetFinishes) {
  form_->RecordResult(3, 1, Expired(TargetAddressText));
  EXPECT_FALSE(form_->RouteEndFound) << "time exceeded from the target itself";
  form_->RecordResult(4, 1, EchoFrom("10.9.9.8"));
  EXPECT_FALSE(form_->RouteEndFound) << "echo reply from another address";
  form_->RecordResult(5, 1, Reply(TargetAddressText, TReplyStatusKind::rskUnreachable));
  EXPECT_FALSE(form_->RouteEndFound) << "unreachable from the target";
  form_->RecordResult(6, 1, Reply(TargetAddressText, TReplyStatusKind::rskError));
  EXPECT_FALSE(form_->RouteEndFound);
  EXPECT_EQ(form_->RouteLength, MaxHopEntries);
  EXPECT_EQ(form_->HighestAnsweringHop, 6);

  // At the hop limit, time exceeded from the target does finish.
  form_->MaxHops = 7;
  form_->RecordResult(7, 1, Expired(TargetAddressText));
  EXPECT_TRUE(form_->RouteEndFound);
  EXPECT_EQ(form_->RouteLength, 7);
}

TEST_F(RecordResultRules, FourthSilentResultInTtlOrderEndsTheRoute) {
  form_->RecordResult(1, 1, Expired(HopAddress(1)));
  form_->RecordResult(3, 900, TimedOut());
  form_->RecordResult(2, 1, Expired(HopAddress(2)));
  form_->RecordResult(4, 900, TimedOut());
  form_->RecordResult(5, 900, Reply("", TReplyStatusKind::rskError));  // nothing matched
  EXPECT_FALSE(form_->RouteEndFound);
  EXPECT_EQ(form_->SilentCount, 3);

  form_->RecordResult(6, 900, TimedOut());
  EXPECT_EQ(form_->SilentCount, 4);
  EXPECT_TRUE(form_->RouteEndFound);
  EXPECT_EQ(form_->RouteLength, 2);

  // Later results lie beyond the end: an answering hop does not stretch it.
  form_->RecordResult(7, 1, Expired(HopAddress(7)));
  form_->RecordResult(8, 900, TimedOut());
  EXPECT_EQ(form_->RouteLength, 2);
  EXPECT_FALSE(Hop(7).Filled);
  EXPECT_EQ(form_->OutGrid.RowCount(), 3);
}

TEST_F(RecordResultRules, NameResolutionFillsSilentHopsAsUnknown) {
  form_->StopRequested = false;
  form_->RecordResult(2, 900, TimedOut());
  EXPECT_EQ(Hop(2).Address, "Unknown Ip");
  EXPECT_EQ(Hop(2).HostName, "Unknown Host");
  EXPECT_FALSE(form_->ResolverSlotBusy());
}

// The completion check on its own.
using CompletionCheck = RecordResultRules;

TEST_F(CompletionCheck, EndsOnlyWhenTheRouteIsFilledAndNoResolverIsBusy) {
  form_->StopRequested = false;
  // A probe still under way keeps an unfinished run alive.
  form_->ProbeSlots[3] = std::make_unique<TPingThread>();
  form_->CheckRunFinished();
  EXPECT_TRUE(form_->Running);

  form_->RouteEndFound = true;
  form_->RouteLength = 2;
  form_->Hops[1].Filled = true;
  form_->CheckRunFinished();
  EXPECT_TRUE(form_->Running) << "entry 2 is not filled";

  form_->Hops[2].Filled = true;
  form_->ResolverSlots[50] = std::make_unique<TDNSThread>();
  form_->CheckRunFinished();
  EXPECT_TRUE(form_->Running) << "a resolver is busy";

  form_->ResolverSlots[50].reset();
  form_->CheckRunFinished();
  EXPECT_TRUE(ShowsIdle()) << "probes beyond the route end do not count";
  form_->ProbeSlots[3].reset();

  // Once idle, every later check repeats the finish actions.
  form_->Button1.Visible = false;
  form_->CheckRunFinished();
  EXPECT_TRUE(ShowsIdle());
}

TEST_F(CompletionCheck, NoHopAnsweringEndsWithAnEmptyRoute) {
  form_->RouteEndFound = true;
  form_->RouteLength = 0;
  form_->CheckRunFinished();
  EXPECT_TRUE(ShowsIdle());
  EXPECT_EQ(form_->OutGrid.Cell(0, 0), "*");
}

TEST_F(CompletionCheck, RunWithNoWorkerLeftCannotStayActive) {
  // No route end, nothing under way: no message will ever end it.
  form_->RouteEndFound = false;
  form_->CheckRunFinished();
  EXPECT_TRUE(ShowsIdle());
}

// ---- whole runs over the simulated network ----

using TraceRoute = TraceTest;

TEST_F(TraceRoute, SingleHopLimitProbesOnlyTtlOne) {
  TSimNetwork& net = Install(RouteTo(3));
  auto& form = MakeForm(TargetName, "1");
  form.StartTrace();
  EXPECT_EQ(form.LastRequestedTtl, 5);
  ASSERT_TRUE(RunUntilIdle());
  ASSERT_TRUE(DrainWorkers());
  EXPECT_EQ(SentTtls(net), std::vector<int>{1});
  EXPECT_TRUE(form.RouteEndFound);
  EXPECT_EQ(form.RouteLength, 1);
  EXPECT_EQ(Hop(1).Address, HopAddress(1));
  EXPECT_EQ(Hop(1).HostName, HopAddress(1) + "[no DNS]");
  EXPECT_EQ(form.OutGrid.RowCount(), 2);
}

TEST_F(TraceRoute, TargetAtHopEightWhileLaterProbesAreUnderWay) {
  // The routers answer at once, the target only later: all of TTLs 9 to 12 are
  // launched before the first echo reply arrives.
  TSimNetwork& net = Install(RouteTo(7, 150));
  auto& form = MakeForm();
  form.StartTrace();
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_EQ(form.RouteLength, 8);
  ASSERT_TRUE(DrainWorkers());
  EXPECT_EQ(form.RouteLength, 8);
  EXPECT_EQ(form.LastRequestedTtl, 12);
  for (int n = 1; n <= 7; ++n) EXPECT_EQ(Hop(n).Address, HopAddress(n)) << n;
  EXPECT_EQ(Hop(8).Address, TargetAddressText);
  // Their echo replies lie beyond the route's end: discarded, with no name looked up.
  for (int n = 9; n <= 13; ++n) EXPECT_FALSE(Hop(n).Filled) << n;
  EXPECT_EQ(MaxSentTtl(net), 12);
  EXPECT_EQ(form.OutGrid.RowCount(), 9) << "entries beyond the route are not shown";
  EXPECT_TRUE(ShowsIdle());
}

TEST_F(TraceRoute, TimeExceededFromTheTargetAddressDoesNotFinish) {
  TSimConfig config = RouteTo(2);
  // The target's own address appears as a router first.
  config.Route.insert(config.Route.begin() + 2, TSimHop::Router(TargetAddressText));
  TSimNetwork& net = Install(config);
  auto& form = MakeForm();
  form.StartTrace();
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_EQ(form.RouteLength, 4);
  EXPECT_EQ(Hop(3).Address, TargetAddressText);
  EXPECT_EQ(Hop(4).Address, TargetAddressText);
  EXPECT_GE(net.Counters().DatagramsSent, 4);
}

TEST_F(TraceRoute, EchoReplyFromAnotherAddressIsNoAnswer) {
  TSimConfig config = RouteTo(1);
  config.Route.back().Address = "10.9.9.8";  // answers for the target
  Install(config);
  auto& form = MakeForm(TargetName, "6", "150");
  form.StartTrace();
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_EQ(form.RouteLength, 1);
  EXPECT_EQ(Hop(1).Address, HopAddress(1));
  for (int n = 2; n <= 6; ++n) EXPECT_NE(Hop(n).Address, "10.9.9.8") << n;
}

TEST_F(TraceRoute, FourSilentHopsEndTheRouteAtTheHighestAnsweringOne) {
  // The target lies beyond the route: never reached.
  TSimConfig config = RouteOf({TSimHop::Router(HopAddress(1)), TSimHop::Router(HopAddress(2))});
  AppendSilent(config, 3, 6);
  config.Route.push_back(TSimHop::Router(HopAddress(7)));
  AppendSilent(config, 8, 20);
  TSimNetwork& net = Install(config);
  auto& form = MakeForm(TargetName, "30", "150");
  form.StartTrace();
  ASSERT_TRUE(RunUntilIdle());
  // Counted in TTL order, hop 6 is the fourth silent one: hop 7 answered
  // first but lies beyond the end, as a run of one probe at a time finds it.
  EXPECT_TRUE(form.RouteEndFound);
  EXPECT_EQ(form.RouteLength, 2);
  for (int n = 3; n <= 6; ++n) EXPECT_EQ(Hop(n).Address, "Unknown Ip") << n;
  EXPECT_FALSE(Hop(7).Filled);
  ASSERT_TRUE(DrainWorkers());
  // Hops 1, 2 and 7 and the silent results that came before the fourth one
  // in TTL order was known each requested one more TTL.
  EXPECT_GE(form.LastRequestedTtl, 11);
  EXPECT_EQ(MaxSentTtl(net), form.LastRequestedTtl);
  EXPECT_EQ(form.RouteLength, 2);
  // A silent probe tries three times.
  EXPECT_EQ(SentWithTtl(net, 3), 3);
  EXPECT_EQ(SentWithTtl(net, 7), 1);
}

TEST_F(TraceRoute, NoHopAnsweringEndsWithAnEmptyRoute) {
  TSimConfig config = RouteOf({});
  AppendSilent(config, 1, 20);
  Install(config);
  auto& form = MakeForm(TargetName, "30", "100");
  form.StartTrace();
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_TRUE(form.RouteEndFound);
  EXPECT_EQ(form.RouteLength, 0);
  EXPECT_EQ(form.HighestAnsweringHop, 0);
  EXPECT_EQ(form.OutGrid.Cell(0, 0), "*");
  ASSERT_TRUE(DrainWorkers());
  // TTLs 1 to 5 together time out: each result that came before the first
  // four in TTL order were known requested one more TTL.
  EXPECT_GE(form.LastRequestedTtl, 8);
  for (int n = 5; n <= form.LastRequestedTtl; ++n) EXPECT_FALSE(Hop(n).Filled) << n;
  EXPECT_TRUE(ShowsIdle());
}

TEST_F(TraceRoute, UnreachableHopIsTriedThreeTimesAndKeepsItsAddress) {
  TSimNetwork& net =
      Install(RouteOf({TSimHop::Router(HopAddress(1)), TSimHop::Unreachable(HopAddress(2), 40)}));
  auto& form = MakeForm(TargetName, "3", "2000");
  form.StartTrace();
  ASSERT_TRUE(RunUntilIdle());
  ASSERT_TRUE(DrainWorkers());
  EXPECT_EQ(SentWithTtl(net, 1), 1);
  EXPECT_EQ(SentWithTtl(net, 2), 3);
  EXPECT_EQ(SentWithTtl(net, 3), 3);
  EXPECT_EQ(form.SilentCount, 0);
  EXPECT_EQ(form.RouteLength, 3);
  EXPECT_EQ(Hop(2).Address, HopAddress(2));
  EXPECT_EQ(Hop(2).HostName, HopAddress(2) + "[no DNS]");
  // The time is that of one attempt, which waited for the hop's delay.
  EXPECT_GE(Hop(2).Time, 40u);
}

TEST_F(TraceRoute, RetriedHopShowsTheTimeOfTheAnsweredAttempt) {
  TSimConfig config = RouteTo(2);
  config.Route[1].FirstAnsweredAttempt = 3;  // hop 2 ignores the first two requests
  TSimNetwork& net = Install(config);
  auto& form = MakeForm(TargetName, "30", "400");
  form.StartTrace();
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_EQ(SentWithTtl(net, 2), 3);
  EXPECT_EQ(Hop(2).Address, HopAddress(2));
  // Two time-outs of 400 ms came before the answered attempt; they are not in
  // the hop's time.
  EXPECT_LT(Hop(2).Time, 400u);
  EXPECT_EQ(form.SilentCount, 0);
}

// A tick count that wraps round 2^32 shortly after the probes start.
class WrappingClock : public TClock {
 public:
  std::uint32_t TickCount() override {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - base_)
                        .count();
    return static_cast<std::uint32_t>(0xFFFFFF00u + static_cast<std::uint64_t>(ms));
  }
  std::int64_t PerformanceCounter() override {
    return std::chrono::steady_clock::now().time_since_epoch().count();
  }
  std::int64_t PerformanceFrequency() override {
    return std::chrono::steady_clock::period::den / std::chrono::steady_clock::period::num;
  }

 private:
  std::chrono::steady_clock::time_point base_ = std::chrono::steady_clock::now();
};

TEST_F(TraceRoute, HopTimeIsRightAcrossTheTickCountWrap) {
  Install(RouteOf({TSimHop::Router(HopAddress(1), 500)}));  // answers after the wrap
  WrappingClock clock;
  SetClockForTesting(&clock);
  MakeForm(TargetName, "1", "3000");
  form_->StartTrace();
  const bool idle = RunUntilIdle();
  const THopEntry hop = Hop(1);
  form_.reset();  // no worker may read the clock after this test
  SetClockForTesting(nullptr);
  ASSERT_TRUE(idle);
  ASSERT_TRUE(hop.Filled);
  EXPECT_EQ(hop.Address, HopAddress(1));
  // Waited for the 500 ms answer; a time computed without the wrap would be
  // near 2^32.
  EXPECT_GE(hop.Time, 500u);
  EXPECT_LT(hop.Time, 60000u);
}

// ---- the same rules over an IPv6 route ----

std::string HopAddress6(int position) {
  return "2001:db8:0:" + std::to_string(position) + "::1";
}
constexpr const char* kTarget6 = "2001:db8:9::9";

// A dual-stack name: its IPv4 route as RouteTo builds it, and an IPv6 route of
// the hops given, which the name also resolves to under -6.
TSimConfig DualStack(std::vector<TSimHop> hops6) {
  TSimConfig config = RouteTo(2);
  config.OtherRoutes[kTarget6] = std::move(hops6);
  config.ForwardNames["six.test"] = TSimForward::To(kTarget6);
  return config;
}

std::vector<TSimHop> Routers6(int from, int to) {
  std::vector<TSimHop> hops;
  for (int p = from; p <= to; ++p) hops.push_back(TSimHop::Router(HopAddress6(p)));
  return hops;
}

TEST_F(TraceRoute, OverIPv6TheTargetsEchoReplyEndsTheRouteAndEveryProbeIsIcmpv6) {
  std::vector<TSimHop> hops = Routers6(1, 3);
  hops.push_back(TSimHop::Destination(kTarget6, 30));
  TSimNetwork& net = Install(DualStack(hops));
  // As the program's command line gives it: -6 is taken out, never a host.
  form_ = std::make_unique<TTraceRouteForm>(&view_, Files());
  form_->FormCreate({"-6", "six.test"});
  TTraceRouteForm& form = *form_;
  EXPECT_EQ(form.IPVersion, TIdIPVersion::ivIPv6);
  EXPECT_EQ(form.Host.Text, "six.test");
  EXPECT_EQ(form.TargetAddress, kTarget6);
  ASSERT_TRUE(RunUntilIdle());
  ASSERT_TRUE(DrainWorkers());
  EXPECT_EQ(form.RouteLength, 4);
  for (int n = 1; n <= 3; ++n) EXPECT_EQ(Hop(n).Address, HopAddress6(n)) << n;
  EXPECT_EQ(Hop(4).Address, kTarget6);
  EXPECT_EQ(Hop(4).HostName, std::string(kTarget6) + "[no DNS]");
  for (const auto& sent : net.Sent()) {
    EXPECT_EQ(sent.Address, kTarget6);
    ASSERT_EQ(sent.Bytes.size(), 12U);
    EXPECT_EQ(sent.Bytes[0], 128);
  }
}

TEST_F(TraceRoute, OverIPv6FourSilentHopsAndAnUnreachableRouterKeepTheirRules) {
  std::vector<TSimHop> hops = Routers6(1, 2);
  for (int p = 3; p <= 6; ++p) hops.push_back(TSimHop::Silent(HopAddress6(p)));
  hops.push_back(TSimHop::Router(HopAddress6(7)));
  for (int p = 8; p <= 20; ++p) hops.push_back(TSimHop::Silent(HopAddress6(p)));
  TSimNetwork& net = Install(DualStack(hops));
  auto& form = MakeForm(kTarget6, "30", "150");
  form.StartTrace();
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_EQ(form.RouteLength, 2);
  for (int n = 3; n <= 6; ++n) EXPECT_EQ(Hop(n).Address, "Unknown Ip") << n;
  EXPECT_FALSE(Hop(7).Filled);
  ASSERT_TRUE(DrainWorkers());
  EXPECT_EQ(SentWithTtl(net, 3), 3);

  // A router that rejects the probe is tried three times and shown at every
  // hop beyond it, up to the hop limit, as over IPv4.
  hops = Routers6(1, 1);
  hops.push_back(TSimHop::Unreachable(HopAddress6(2), 20));
  Install(DualStack(hops));
  MakeForm(kTarget6, "3", "2000").StartTrace();
  ASSERT_TRUE(RunUntilIdle());
  ASSERT_TRUE(DrainWorkers());
  EXPECT_EQ(SentWithTtl(net, 2), 3);
  EXPECT_EQ(form_->RouteLength, 3);
  EXPECT_EQ(Hop(2).Address, HopAddress6(2));
  EXPECT_EQ(Hop(3).Address, HopAddress6(2));
}

// ---- the same rules for every probe method ----

// Hop 2 drops the echo requests it forwards and passes UDP and TCP: ICMP ends
// at it, while UDP and TCP show every hop and end at the target, whose answer
// (a port unreachable, a connect) counts as its echo reply.
TEST_F(TraceRoute, EveryMethodKeepsTheRulesPastAFilterThatDropsEchoRequests) {
  using enum TProbeMethod;
  const struct {
    std::vector<std::string> Words;
    TProbeMethod Method;
    bool V6;
    int RouteLength;
    int Port, Step;  // of the probe for TTL 1, and from one TTL to the next (0: ICMP)
  } rows[] = {
      {{"-w", "150", "target.test"}, pmIcmp, false, 2, 0, 0},
      {{"--udp", "-w", "150", "target.test"}, pmUdp, false, 4, 33434, 1},
      {{"--tcp", "-w", "150", "target.test"}, pmTcp, false, 4, 80, 0},
      {{"--udp", "--port", "53", "-w", "150", "target.test"}, pmUdp, false, 4, 53, 0},
      {{"--udp", "-6", "-w", "150", "six.test"}, pmUdp, true, 4, 33434, 1},
      {{"--tcp", "--port=443", "-6", "-w", "150", "six.test"}, pmTcp, true, 4, 443, 0},
  };
  for (const auto& row : rows) {
    const std::string name = ::testing::PrintToString(row.Words);
    view_.Messages.clear();
    TSimConfig config = RouteTo(3);
    config.Route[1].DropsEcho = true;
    std::vector<TSimHop> hops6 = Routers6(1, 3);
    hops6[1].DropsEcho = true;
    hops6.push_back(TSimHop::Destination(kTarget6));
    config.OtherRoutes[kTarget6] = hops6;
    config.ForwardNames["six.test"] = TSimForward::To(kTarget6);
    TSimNetwork& net = Install(config);
    form_ = std::make_unique<TTraceRouteForm>(&view_, Files());
    form_->FormCreate(row.Words);
    const std::string refusal =
        ProbeMethodRefusal(row.Method, row.V6 ? TIdIPVersion::ivIPv6 : TIdIPVersion::ivIPv4);
    if (!refusal.empty()) {
      // A method this platform cannot probe with is refused at Start, as a
      // target would be, before any probe.
      EXPECT_EQ(view_.Messages,
                std::vector<std::string>{EIdInvalidTarget(row.Words.back(), refusal).what()})
          << name;
      EXPECT_TRUE(net.Sent().empty()) << name;
      EXPECT_FALSE(form_->Running) << name;
      continue;
    }
    ASSERT_TRUE(RunUntilIdle()) << name;
    ASSERT_TRUE(DrainWorkers()) << name;
    EXPECT_TRUE(view_.Messages.empty()) << name;
    EXPECT_EQ(form_->RouteLength, row.RouteLength) << name;
    for (int n = 1; n <= row.RouteLength; ++n) {
      const std::string expected = n == 4 ? (row.V6 ? kTarget6 : TargetAddressText)
                                          : (row.V6 ? HopAddress6(n) : HopAddress(n));
      EXPECT_EQ(Hop(n).Address, expected) << name << " hop " << n;
    }
    int ported = 0;
    for (const auto& sent : net.Sent()) {
      if (row.Port == 0 || sent.Ttl > 4) continue;
      EXPECT_EQ(sent.Port, row.Port + row.Step * (sent.Ttl - 1)) << name << " TTL " << sent.Ttl;
      ++ported;
    }
    EXPECT_EQ(ported == 0, row.Port == 0) << name << ": UDP and TCP probes are no echoes";
  }
}

// ---- the same rows for every number of probes in flight ----

// The probes under way as the socket stack sees them: from a probe's first
// request until its worker closes its socket(s), just before it reports; one
// socket, or one per attempt when they go together. With Hold set, a probe
// waits at that close, its result known, until its TTL is released.
struct TProbeLedger {
  std::mutex Lock;
  std::condition_variable Released;
  std::map<TIdStackSocketHandle, int> UnderWay;  // socket -> TTL
  std::map<int, int> SocketsOfTtl;               // every socket that sent with it
  std::set<int> ReleasedTtls;
  bool Hold = false;
  int Peak = 0;  // TTLs under way at once

  int TtlsUnderWay() const {
    std::set<int> ttls;
    for (const auto& entry : UnderWay) ttls.insert(entry.second);
    return static_cast<int>(ttls.size());
  }
  void Reset(bool hold) {
    const std::lock_guard lock(Lock);
    UnderWay.clear();
    SocketsOfTtl.clear();
    ReleasedTtls.clear();
    Hold = hold;
    Peak = 0;
    Released.notify_all();
  }
} Ledger;

class TLedgerStack : public TSimulatedStack {
 public:
  int SockSendTo(TIdStackSocketHandle socket, const void* buffer, int length, int flags,
                 const std::string& address, int port) override {
    const int ttl = TSimNetwork::Instance().SocketTtl(socket);
    {
      const std::lock_guard lock(Ledger.Lock);
      if (!Ledger.UnderWay.contains(socket)) {  // not a later attempt on the same socket
        ++Ledger.SocketsOfTtl[ttl];
        Ledger.UnderWay[socket] = ttl;
        Ledger.Peak = std::max(Ledger.Peak, Ledger.TtlsUnderWay());
      }
    }
    return TSimulatedStack::SockSendTo(socket, buffer, length, flags, address, port);
  }
  int SockClose(TIdStackSocketHandle socket) override {
    std::unique_lock lock(Ledger.Lock);
    if (const auto probe = Ledger.UnderWay.find(socket); probe != Ledger.UnderWay.end()) {
      const int ttl = probe->second;
      Ledger.Released.wait(lock, [&] { return !Ledger.Hold || Ledger.ReleasedTtls.contains(ttl); });
      Ledger.UnderWay.erase(socket);
    }
    lock.unlock();
    return TSimulatedStack::SockClose(socket);
  }
};

constexpr int HopLimitOfTable = 8;

class InFlightTable : public TraceTest {
 protected:
  void TearDown() override {
    Ledger.Reset(false);
    TraceTest::TearDown();
  }

  // The trace as the command line starts it (inFlight 0: without the option),
  // over a stack recording every probe; in reverse, once every probe the Start
  // launched is under way, the highest TTL is released first, each in turn.
  void Trace(const TSimConfig& config, int inFlight, bool reverse) {
    Ledger.Reset(false);  // no worker of the last run may stay held
    form_.reset();
    Install(config);
    GSocketStackClass = [] { return std::unique_ptr<TIdStack>(std::make_unique<TLedgerStack>()); };
    Ledger.Reset(reverse);
    std::vector<std::string> options{"-h", std::to_string(HopLimitOfTable), "-w", "60", TargetName};
    if (inFlight > 0) options.insert(options.begin(), {"--in-flight", std::to_string(inFlight)});
    form_ = std::make_unique<TTraceRouteForm>(&view_, Files());
    form_->FormCreate(options);
    if (reverse) {
      const int together = std::min(inFlight, HopLimitOfTable);
      ASSERT_TRUE(PumpUntil([&] {
        const std::lock_guard lock(Ledger.Lock);
        return Ledger.TtlsUnderWay() >= together;
      }));
    }
    for (int ttl; reverse && (ttl = HighestUnderWay()) > 0;) {
      {
        const std::lock_guard lock(Ledger.Lock);
        Ledger.ReleasedTtls.insert(ttl);
        Ledger.Released.notify_all();
      }
      ASSERT_TRUE(PumpUntil([&] { return HighestUnderWay() != ttl; }));
    }
    ASSERT_TRUE(RunUntilIdle());
    ASSERT_TRUE(DrainWorkers());
  }

  int HighestUnderWay() const {
    int highest = 0;
    for (const auto& slot : form_->ProbeSlots) highest = std::max(highest, slot ? slot->Ttl : 0);
    return highest;
  }

  // What a user reads of every row: its number, address, name and TTL.
  std::vector<std::string> Rows(std::initializer_list<int> cols = {0, 1, 2, 4}) const {
    std::vector<std::string> rows;
    for (int row = 1; row < form_->OutGrid.RowCount(); ++row) {
      rows.emplace_back();
      for (const int col : cols)
        rows.back() += form_->OutGrid.Cell(col, row) + (cols.size() > 1 ? "|" : "");
    }
    return rows;
  }
};

TEST_F(InFlightTable, EveryNumberInFlightAndReverseOrderGiveTheDefaultsRows) {
  const std::string h1 = HopAddress(1), h2 = HopAddress(2), target = TargetAddressText;
  const std::string unknown = "Unknown Ip";
  const auto silentTo = [&](int last) {
    TSimConfig config = RouteOf({TSimHop::Router(h1)});
    AppendSilent(config, 2, last);
    config.Route.push_back(TSimHop::Destination(target));
    return config;
  };
  TSimConfig dropsEcho = RouteTo(2);
  dropsEcho.Route.back() = TSimHop::Silent(target);
  std::vector<std::string> toLimit(HopLimitOfTable, h2);
  toLimit[0] = h1;
  // Each topology with the addresses of its rows, as one probe at a time finds them.
  const std::tuple<const char*, TSimConfig, std::vector<std::string>> topologies[] = {
      {"plain", RouteTo(3), {h1, h2, HopAddress(3), target}},
      {"silent routers", silentTo(3), {h1, unknown, unknown, target}},
      // The fourth silent hop in TTL order ends it, though the target answers first.
      {"four silent routers", silentTo(5), {h1}},
      {"target reached early", RouteTo(1), {h1, target}},
      {"unreachable router", RouteOf({TSimHop::Router(h1), TSimHop::Unreachable(h2)}), toLimit},
      {"target drops echo", dropsEcho, {h1, h2}},
  };
  for (const auto& [name, config, addresses] : topologies) {
    SCOPED_TRACE(name);
    Trace(config, 0, false);
    const std::vector<std::string> defaults = Rows();
    EXPECT_EQ(Rows({1}), addresses);
    // With one in flight the order is always the TTLs'.
    for (const auto& [inFlight, reverse] :
         {std::pair{1, false}, {16, false}, {64, false}, {5, true}, {16, true}, {64, true}}) {
      SCOPED_TRACE(std::to_string(inFlight) +
                   (reverse ? " in flight, reverse order" : " in flight"));
      Trace(config, inFlight, reverse);
      EXPECT_EQ(Rows(), defaults);
      const std::lock_guard lock(Ledger.Lock);
      EXPECT_LE(Ledger.Peak, inFlight);
      // One probe per TTL; beyond the default in flight its attempts go at
      // once, each on a socket of its own, so a silent hop costs one wait.
      EXPECT_EQ(Ledger.SocketsOfTtl[1], inFlight > TProbesInFlight::Default ? 3 : 1)
          << "hop 1 answers at once";
      EXPECT_LE(std::ranges::max(Ledger.SocketsOfTtl | std::views::values), ProbeAttempts)
          << "no TTL probed twice";
      // Held back, every probe the Start launched was under way together.
      if (reverse) {
        EXPECT_EQ(Ledger.Peak, std::min(inFlight, HopLimitOfTable));
      }
    }
  }
}

}  // namespace
}  // namespace quillon::testing
