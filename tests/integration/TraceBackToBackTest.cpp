// Many runs started back to back while probes and name lookups of the earlier
// runs are still under way: each run's table holds only its own results, and
// every worker is released (run under ThreadSanitizer and LeakSanitizer too).
#include <gtest/gtest.h>

#include <array>

#include "TraceFixture.h"

namespace quillon::testing {
namespace {

using TraceBackToBack = TraceTest;

TEST_F(TraceBackToBack, EachRunSeesOnlyItsOwnResults) {
  // The target answers later than the router, so probes beyond the route end
  // are still waiting when the run ends and the next one starts.
  TSimConfig config = RouteTo(1, 30);
  config.ReverseNames[HopAddress(1)] = TSimReverse::Name("gw.test", 20);
  config.ReverseNames[TargetAddressText] = TSimReverse::Name(TargetName, 5);
  Install(config);
  auto& form = MakeForm();

  for (int run = 0; run < 20; ++run) {
    SCOPED_TRACE(run);
    // Every other run changes the route, so a stray result of the previous
    // run would show in the wrong place.
    const bool longRoute = run % 2 == 1;
    TSimNetwork::Instance().Update([&](TSimConfig& c) {
      c = RouteTo(longRoute ? 3 : 1, 30);
      c.ReverseNames[HopAddress(1)] = TSimReverse::Name("gw.test", 20);
      c.ReverseNames[TargetAddressText] = TSimReverse::Name(TargetName, 5);
    });
    // The slots are sized anew for each run's number in flight while the
    // workers of the earlier run, in slots of another size, are still out.
    form.InFlight = *TProbesInFlight::Of(std::array{5, 64, 1, 16}[static_cast<std::size_t>(run % 4)]);
    form.StartTrace();
    ASSERT_TRUE(form.Running);
    ASSERT_TRUE(RunUntilIdle());

    const int length = longRoute ? 4 : 2;
    ASSERT_EQ(form.RouteLength, length);
    EXPECT_EQ(Hop(1).HostName, "gw.test");
    EXPECT_EQ(Hop(length).Address, TargetAddressText);
    EXPECT_EQ(Hop(length).HostName, TargetName);
    for (int n = 2; n < length; ++n) EXPECT_EQ(Hop(n).Address, HopAddress(n)) << n;
    EXPECT_EQ(form.OutGrid.RowCount(), length + 1);
  }
  // The stragglers of every run report too; the window then holds no worker.
  ASSERT_TRUE(PumpUntil([&] {
    return !form.ProbeSlotBusy() && !form.ResolverSlotBusy() && form.DroppedProbeCount() == 0 &&
           form.DroppedResolverCount() == 0;
  }));
}

TEST_F(TraceBackToBack, ClosingTheWindowWithWorkersUnderWayReleasesThemAll) {
  TSimConfig config = RouteTo(6);
  for (auto& hop : config.Route) hop.DelayMs = 50;
  config.ReverseNames[HopAddress(1)] = TSimReverse::Name("gw.test", 100);
  Install(config);
  auto& form = MakeForm();
  for (int run = 0; run < 3; ++run) {
    form.StartTrace();
    // Let a few results in, then start over while the rest are under way.
    ASSERT_TRUE(PumpUntil([&] { return form.Hops[1].Filled; }));
  }
  form_.reset();  // waits for every worker, the dropped ones included
  EXPECT_EQ(TSimNetwork::Instance().Counters().OpenSockets, 0);
}

}  // namespace
}  // namespace quillon::testing
