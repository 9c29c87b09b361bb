// Stop: with the route end known the run ends as usual; without it the window
// goes back to Idle once every probe still under way has reported.
#include <gtest/gtest.h>

#include "TraceFixture.h"

namespace quillon::testing {
namespace {

using TraceStop = TraceTest;

TEST_F(TraceStop, BeforeTheRouteEndIsKnownTheRunEndsWhenTheProbesHaveReported) {
  TSimConfig config = RouteTo(10);
  for (auto& hop : config.Route) hop.DelayMs = 100;
  TSimNetwork& net = Install(config);
  auto& form = MakeForm();
  form.StartTrace();
  form.Button2Click();
  EXPECT_TRUE(form.StopRequested);
  EXPECT_TRUE(form.Button2.Visible);
  EXPECT_FALSE(form.Button2.Enabled);
  EXPECT_FALSE(form.Button1.Visible);
  EXPECT_TRUE(form.Running);

  ASSERT_TRUE(RunUntilIdle());
  EXPECT_TRUE(ShowsIdle());
  EXPECT_FALSE(form.RouteEndFound);
  EXPECT_FALSE(form.ProbeSlotBusy());
  EXPECT_EQ(form.LastRequestedTtl, 5) << "no TTL is requested after Stop";
  EXPECT_EQ(net.Counters().DatagramsSent, 5);
  // Results after Stop are recorded with the reply address in both columns.
  for (int n = 1; n <= 5; ++n) {
    EXPECT_TRUE(Hop(n).Filled) << n;
    EXPECT_EQ(Hop(n).Address, HopAddress(n));
    EXPECT_EQ(Hop(n).HostName, HopAddress(n));
  }
  EXPECT_FALSE(form.ResolverSlotBusy());
  EXPECT_EQ(form.OutGrid.RowCount(), 6);

  // Start works again, and the new run is not stopped.
  form.Button1Click();
  EXPECT_FALSE(form.StopRequested);
  EXPECT_TRUE(form.Button2.Enabled);
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_EQ(form.RouteLength, 11);
  EXPECT_EQ(Hop(11).Address, TargetAddressText);
}

TEST_F(TraceStop, WithTheRouteEndKnownTheRunEndsOnceTheNamesAreIn) {
  TSimConfig config = RouteTo(1);
  config.ReverseNames[HopAddress(1)] = TSimReverse::HeldName("gw.test");
  config.ReverseNames[TargetAddressText] = TSimReverse::Name(TargetName);
  TSimNetwork& net = Install(config);
  auto& form = MakeForm();
  form.StartTrace();
  ASSERT_TRUE(PumpUntil([&] { return form.RouteEndFound && !form.ProbeSlotBusy(); }));
  ASSERT_TRUE(form.Running) << "the name of hop 1 is still being looked up";
  EXPECT_EQ(form.RouteLength, 2);

  form.Button2Click();
  EXPECT_TRUE(form.Running);
  EXPECT_FALSE(form.Button2.Enabled);

  net.ReleaseHeldLookups();
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_TRUE(ShowsIdle());
  EXPECT_EQ(Hop(1).HostName, "gw.test");
  EXPECT_EQ(Hop(2).HostName, TargetName);
}

TEST_F(TraceStop, StopWithNothingUnderWayEndsTheRunAtOnce) {
  Install(RouteTo(1));
  auto& form = MakeForm();
  // A run left without any worker (as after a failed launch).
  form.Running = true;
  form.Button1.Visible = false;
  form.Button2.Visible = true;
  form.Button2Click();
  EXPECT_TRUE(ShowsIdle());
}

}  // namespace
}  // namespace quillon::testing
