// Starting a trace run: the input checks, the target lookup, the first five
// launches, the keys and buttons that start it, and a Start that cannot open
// the window's raw socket.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TraceFixture.h"
#include "net/IdException.h"
#include "trace/PingThread.h"

namespace quillon::testing {
namespace {

using TraceStart = TraceTest;

struct BoxCase {
  std::string Typed;
  std::int32_t Used;
  std::string Shown;
};

// Starts with each typed text (the host is unknown, so no probe goes out) and
// checks the value used and the text the box shows afterwards.
void CheckBox(TTraceRouteForm& form, TEditState& box, const std::int32_t& used,
              const std::vector<BoxCase>& cases) {
  for (const BoxCase& c : cases) {
    box.Text = c.Typed;
    form.StartTrace();
    EXPECT_EQ(used, c.Used) << "typed '" << c.Typed << "'";
    EXPECT_EQ(box.Text, c.Shown) << "typed '" << c.Typed << "'";
  }
}

TEST_F(TraceStart, TimeOutBoxIsCheckedAndCorrected) {
  Install(RouteTo(2));
  auto& form = MakeForm("nohost.test");
  CheckBox(form, form.TimeOut, form.TimeOutMs,
           {{"0", 5000, "5000"},
            {"1", 1, "1"},
            {"9000", 9000, "9000"},
            {"9001", 5000, "5000"},
            {"-3", 5000, "5000"},
            {"abc", 9000, "9000"},
            {"", 9000, "9000"},
            {"$10", 16, "$10"}});
}

TEST_F(TraceStart, HopBoxIsCheckedAndCorrected) {
  Install(RouteTo(2));
  auto& form = MakeForm("nohost.test");
  CheckBox(form, form.Hoops, form.MaxHops,
           {{"100", 100, "100"},
            {"1", 1, "1"},
            {"101", 30, "30"},
            {"0", 30, "30"},
            {"-5", 30, "30"},
            {"ten", 30, "30"},
            {" 12", 12, " 12"}});
}

TEST_F(TraceStart, ThreeHopsLaunchThreeProbesButRequestFive) {
  TSimNetwork& net = Install(RouteTo(6));
  auto& form = MakeForm(TargetName, "3");
  form.StartTrace();

  EXPECT_TRUE(form.Running);
  EXPECT_EQ(form.LastRequestedTtl, 5);
  for (int slot = 1; slot <= 3; ++slot) {
    ASSERT_NE(form.ProbeSlots[static_cast<std::size_t>(slot)], nullptr) << slot;
    EXPECT_EQ(form.ProbeSlots[static_cast<std::size_t>(slot)]->Ttl, slot);
    EXPECT_EQ(form.ProbeSlots[static_cast<std::size_t>(slot)]->SlotIndex, slot);
    EXPECT_EQ(form.ProbeSlots[static_cast<std::size_t>(slot)]->TargetAddress, TargetAddressText);
    EXPECT_EQ(form.ProbeSlots[static_cast<std::size_t>(slot)]->TimeOutMs, 2000);
  }
  EXPECT_EQ(form.ProbeSlots[4], nullptr);
  EXPECT_EQ(form.ProbeSlots[5], nullptr);
  EXPECT_FALSE(form.Button1.Visible);
  EXPECT_TRUE(form.Button2.Visible);
  EXPECT_TRUE(form.Button2.Enabled);

  ASSERT_TRUE(RunUntilIdle());
  EXPECT_TRUE(form.RouteEndFound);
  EXPECT_EQ(form.RouteLength, 3);
  std::vector<int> ttls = SentTtls(net);
  std::sort(ttls.begin(), ttls.end());
  EXPECT_EQ(ttls, (std::vector<int>{1, 2, 3}));
  for (int n = 1; n <= 3; ++n) {
    EXPECT_TRUE(Hop(n).Filled);
    EXPECT_EQ(Hop(n).Address, HopAddress(n));
    EXPECT_EQ(Hop(n).HopNo, n);
  }
  EXPECT_TRUE(ShowsIdle());
}

TEST_F(TraceStart, ProbesCarryTheRunAndTheirOwnSerial) {
  TSimNetwork& net = Install(RouteTo(1));
  auto& form = MakeForm(TargetName, "2");
  form.StartTrace();
  const std::uint32_t runId = form.RunId;
  EXPECT_LT(runId, 30000u);
  ASSERT_NE(form.ProbeSlots[1], nullptr);
  EXPECT_EQ(form.ProbeSlots[1]->RunId, runId);
  EXPECT_EQ(form.ProbeSlots[1]->Window, form.Handle());
  EXPECT_NE(form.ProbeSlots[1]->Serial, form.ProbeSlots[2]->Serial);
  ASSERT_TRUE(RunUntilIdle());
  ASSERT_TRUE(DrainWorkers());
  ASSERT_EQ(net.Sent().size(), 2u);
  for (const auto& datagram : net.Sent()) {
    EXPECT_EQ(datagram.Address, TargetAddressText);
    EXPECT_LT(datagram.Sequence, 65000);
  }
}

TEST_F(TraceStart, BlankHostDoesNothingAtAll) {
  TSimNetwork& net = Install(RouteTo(2));
  auto& form = MakeForm("  \t ");
  const auto itemsBefore = form.Host.Items;
  const int controlChanges = view_.ControlChanges;
  const int gridChanges = view_.GridChanges;
  form.StartTrace();
  form.Button1Click();
  char enter = 13;
  form.HostKeyPress(enter);

  EXPECT_TRUE(ShowsIdle());
  EXPECT_EQ(form.Host.Items, itemsBefore);
  EXPECT_EQ(form.Host.Text, "  \t ");
  EXPECT_EQ(view_.ControlChanges, controlChanges);
  EXPECT_EQ(view_.GridChanges, gridChanges);
  EXPECT_FALSE(std::filesystem::exists(Files().HistoryPath));
  EXPECT_EQ(net.Counters().DatagramsSent, 0);
  EXPECT_TRUE(net.Lookups().empty());
}

TEST_F(TraceStart, UnknownHostIsReportedAndTheWindowIsIdleAgain) {
  TSimNetwork& net = Install(RouteTo(2));
  auto& form = MakeForm("  nohost.test ");
  form.StartTrace();

  ASSERT_EQ(view_.Messages, std::vector<std::string>{"Host not found: nohost.test"});
  EXPECT_TRUE(ShowsIdle());
  EXPECT_EQ(form.TargetHost, "nohost.test");
  EXPECT_EQ(form.TargetAddress, "");
  EXPECT_FALSE(form.ProbeSlotBusy());
  EXPECT_EQ(net.Counters().DatagramsSent, 0);
  // The grid is as the reset left it.
  EXPECT_EQ(form.OutGrid.RowCount(), 2);
  EXPECT_EQ(form.OutGrid.Cell(0, 0), "No");

  // The next Start works.
  form.Host.Text = TargetName;
  form.Button1Click();
  EXPECT_TRUE(form.Running);
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_EQ(form.RouteLength, 3);
  EXPECT_EQ(Hop(3).Address, TargetAddressText);
}

TEST_F(TraceStart, NumericAddressNeedsNoName) {
  Install(RouteTo(1));
  auto& form = MakeForm(TargetAddressText);
  form.StartTrace();
  EXPECT_EQ(form.TargetAddress, TargetAddressText);
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_EQ(form.RouteLength, 2);
}

TEST_F(TraceStart, EnterStartsOnlyWhenIdleAndOtherKeysNever) {
  TSimNetwork& net = Install(RouteTo(3, 200));
  auto& form = MakeForm();
  char key = 'a';
  form.HostKeyPress(key);
  EXPECT_EQ(key, 'a');
  EXPECT_FALSE(form.Running);

  key = 13;
  form.HostKeyPress(key);
  EXPECT_EQ(key, 13);
  ASSERT_TRUE(form.Running);
  const std::uint64_t firstSerial = form.ProbeSlots[1]->Serial;

  // While the run is active neither Enter nor the (hidden) Start button starts another.
  form.HostKeyPress(key);
  form.Button1Click();
  EXPECT_EQ(form.ProbeSlots[1]->Serial, firstSerial);
  EXPECT_EQ(form.LastRequestedTtl, 5);
  ASSERT_TRUE(net.WaitForSent(5, 5000));
  EXPECT_EQ(net.Lookups().front().Query, TargetName);
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_EQ(form.RouteLength, 4);
}

TEST_F(TraceStart, NoRightToRawSocketsFailsTheStartButNotTheWindow) {
  TSimConfig config = RouteTo(1);
  config.OpenFailure = TSimFailure{Id_WSAEACCES};
  TSimNetwork& net = Install(config);
  auto& form = MakeForm();

  try {
    form.StartTrace();
    FAIL() << "Start went on without a raw socket";
  } catch (const EIdInvalidSocket& error) {
    EXPECT_STREQ(error.what(), "Cannot allocate socket.");
  }
  EXPECT_TRUE(ShowsIdle());
  EXPECT_FALSE(form.ProbeSlotBusy());
  EXPECT_EQ(net.Counters().DatagramsSent, 0);

  net.Update([](TSimConfig& c) { c.OpenFailure = TSimFailure{}; });
  form.Button1Click();
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_EQ(form.RouteLength, 2);
  EXPECT_EQ(Hop(2).Address, TargetAddressText);
}

TEST_F(TraceStart, FailedStartDropsTheEarlierRunsProbesAndGoesIdleAtOnce) {
  // One router, then silence: the run ends at the fourth silent result while
  // later probes are still waiting for their answers.
  TSimConfig config = RouteOf({TSimHop::Router(HopAddress(1))});
  AppendSilent(config, 2, 12);
  TSimNetwork& net = Install(config);
  auto& form = MakeForm(TargetName, "30", "150");
  form.StartTrace();
  ASSERT_TRUE(RunUntilIdle());
  ASSERT_EQ(form.RouteLength, 1);
  ASSERT_TRUE(form.ProbeSlotBusy()) << "the earlier run's probes must still be under way";
  const std::int32_t lastRequested = form.LastRequestedTtl;

  // The window's socket is open already; setting its TTL fails now.
  net.Update([](TSimConfig& c) { c.SetOptionFailure = TSimFailure{Id_WSAEACCES}; });
  EXPECT_THROW(form.StartTrace(), EIdSocketError);
  EXPECT_FALSE(form.Running);
  EXPECT_TRUE(ShowsIdle());
  EXPECT_FALSE(form.ProbeSlotBusy());
  EXPECT_GT(form.DroppedProbeCount(), 0u) << "the earlier run's probes are still under way";

  ASSERT_TRUE(PumpUntil([&] { return form.DroppedProbeCount() == 0; }));
  EXPECT_TRUE(ShowsIdle());
  // Their results belonged to the earlier run: nothing recorded, nothing launched.
  for (int n = 1; n <= 30; ++n) EXPECT_FALSE(Hop(n).Filled) << n;
  EXPECT_EQ(form.LastRequestedTtl, lastRequested);

  net.Update([](TSimConfig& c) { c.SetOptionFailure = TSimFailure{}; });
  form.StartTrace();
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_EQ(form.RouteLength, 1);
  EXPECT_EQ(Hop(1).Address, HopAddress(1));
}

}  // namespace
}  // namespace quillon::testing
