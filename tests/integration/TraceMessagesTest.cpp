// The window's handling of WM_PROBE_DONE: which messages are recorded, which
// only release their worker, which are ignored, and the one further message it
// lets through before returning.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "TraceFixture.h"
#include "trace/PingThread.h"

namespace quillon::testing {
namespace {

using ProbeMessages = TraceTest;

// Slow routers: the five probes stay under way while the test posts its own messages.
TSimConfig SlowRoute() {
  TSimConfig config = RouteTo(8);
  for (auto& hop : config.Route) hop.DelayMs = 300;
  return config;
}

bool AnyFilled(const TTraceRouteForm& form) {
  for (int n = 1; n <= MaxHopEntries; ++n) {
    if (form.Hops[static_cast<std::size_t>(n)].Filled) return true;
  }
  return false;
}

void Deliver(const TTraceRouteForm& form, WPARAM slot, LPARAM runId, std::uint64_t tag) {
  ASSERT_TRUE(TMessageQueue::Main().PostMessage(form.Handle(), WM_PROBE_DONE, slot, runId, tag));
  ASSERT_TRUE(TMessageQueue::Main().ProcessOneMessage());
}

TEST_F(ProbeMessages, MessagesThatAreNotTheSlotWorkersReportChangeNothing) {
  Install(SlowRoute());
  auto& form = MakeForm(TargetName, "3", "3000");
  form.StartTrace();
  ASSERT_TRUE(form.ProbeSlots[1] && form.ProbeSlots[2] && form.ProbeSlots[3]);
  const LPARAM runId = form.RunId;
  const std::uint64_t serial1 = form.ProbeSlots[1]->Serial;

  Deliver(form, 0, runId, serial1);  // no slot 0
  Deliver(form, 6, runId, serial1);  // beyond the slots
  Deliver(form, 4, runId, 0);        // an empty slot (the hop limit left it free)
  Deliver(form, 1, runId, 0);        // the right slot and run, but not its worker
  Deliver(form, 1, runId, serial1 + 1000);

  EXPECT_FALSE(AnyFilled(form));
  EXPECT_EQ(form.LastRequestedTtl, 5);
  EXPECT_TRUE(form.ProbeSlots[1] && form.ProbeSlots[2] && form.ProbeSlots[3]);
  EXPECT_EQ(form.ProbeSlots[1]->Serial, serial1);
  EXPECT_TRUE(form.Running);

  ASSERT_TRUE(RunUntilIdle());
  EXPECT_EQ(form.RouteLength, 3);
  for (int n = 1; n <= 3; ++n) EXPECT_EQ(Hop(n).Address, HopAddress(n));
}

TEST_F(ProbeMessages, TheSlotWorkerWithAnOldRunIdIsReleasedUnrecorded) {
  // Hop 2 answers well before the others, so that releasing its worker (which
  // waits for its thread) lets no other result in.
  TSimConfig config = SlowRoute();
  for (auto& hop : config.Route) hop.DelayMs = 1500;
  config.Route[1].DelayMs = 50;
  Install(config);
  auto& form = MakeForm(TargetName, "3", "3000");
  form.StartTrace();
  const std::uint64_t serial2 = form.ProbeSlots[2]->Serial;
  const LPARAM oldRun = (form.RunId + 1) % 30000;

  Deliver(form, 2, oldRun, serial2);
  EXPECT_EQ(form.ProbeSlots[2], nullptr);
  EXPECT_FALSE(AnyFilled(form));
  EXPECT_EQ(form.LastRequestedTtl, 5) << "no probe launched for it";

  // Its own report arrives later and finds nothing to release.
  ASSERT_TRUE(DrainWorkers());
  EXPECT_FALSE(Hop(2).Filled);
  EXPECT_TRUE(Hop(1).Filled);
  EXPECT_TRUE(Hop(3).Filled);
  // The route end (hop 3) is known but hop 2 never comes: the window must not
  // stay busy for ever.
  EXPECT_TRUE(ShowsIdle());
}

TEST_F(ProbeMessages, IgnoredMessagesStillRunTheCompletionCheck) {
  Install(SlowRoute());
  auto& form = MakeForm(TargetName, "3", "3000");
  form.StartTrace();
  form.RouteEndFound = true;
  form.RouteLength = 0;
  Deliver(form, 0, form.RunId, 0);
  EXPECT_TRUE(ShowsIdle());
}

TEST_F(ProbeMessages, HandlerLetsOneWaitingMessageThroughAndNeverWaits) {
  Install(RouteTo(1));
  auto& form = MakeForm();
  auto& queue = TMessageQueue::Main();
  int other = 0;
  const HWND otherWindow = queue.RegisterWindow([&other](const TMessage&) { ++other; });

  ASSERT_TRUE(queue.PostMessage(otherWindow, WM_USER, 0, 0));
  ASSERT_TRUE(queue.PostMessage(otherWindow, WM_USER, 0, 0));
  form.WMProbeDone(TMessage{form.Handle(), WM_PROBE_DONE, 9, 0, 0});
  EXPECT_EQ(other, 1) << "exactly one further message";
  EXPECT_EQ(queue.PendingCount(), 1u);
  queue.ProcessMessages();

  // With nothing waiting it returns at once. Should it wait for a message, the
  // watchdog's post ends the wait and the test fails instead of hanging.
  std::atomic<bool> returned{false};
  std::atomic<bool> watchdogPosted{false};
  std::thread watchdog([&] {
    for (int i = 0; i < 100 && !returned.load(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!returned.load()) {
      watchdogPosted.store(true);
      queue.PostMessage(otherWindow, WM_USER, 0, 0);
    }
  });
  form.WMProbeDone(TMessage{form.Handle(), WM_PROBE_DONE, 9, 0, 0});
  returned.store(true);
  watchdog.join();
  EXPECT_FALSE(watchdogPosted.load()) << "the handler waited for a message";
  EXPECT_EQ(other, 2);
  queue.ProcessMessages();
  queue.UnregisterWindow(otherWindow);
}

}  // namespace
}  // namespace quillon::testing
