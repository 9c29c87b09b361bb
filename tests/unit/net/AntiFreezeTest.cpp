#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

#include "net/IdAntiFreeze.h"
#include "platform/MessageQueue.h"
#include "platform/Process.h"
#include "unit/net/SocketHandleRecordingStack.h"

namespace quillon {
namespace {

using rawtest::TCountingAntiFreeze;

class AntiFreezeTest : public ::testing::Test {
 protected:
  void SetUp() override { MarkMainThread(); }
};

TEST_F(AntiFreezeTest, ConstructionRegistersAndDestructionClears) {
  EXPECT_EQ(GCurrentAntiFreeze.load(), nullptr);
  EXPECT_FALSE(AntiFreezeApplies());
  AntiFreezeStep(true, true);  // nothing in force: nothing to call

  {
    TCountingAntiFreeze first;
    EXPECT_EQ(GCurrentAntiFreeze.load(), &first);
    EXPECT_TRUE(first.Active);
    EXPECT_TRUE(first.ApplicationHasPriority);
    EXPECT_TRUE(first.OnlyWhenIdle);
    EXPECT_EQ(first.IdleTimeOut(), 250);
    EXPECT_TRUE(AntiFreezeApplies());
    {
      TCountingAntiFreeze second;
      EXPECT_EQ(GCurrentAntiFreeze.load(), &second);
    }
    // Freeing the newer one leaves none in force, not a dangling older one.
    EXPECT_EQ(GCurrentAntiFreeze.load(), nullptr);
    EXPECT_FALSE(AntiFreezeApplies());
  }
  EXPECT_EQ(GCurrentAntiFreeze.load(), nullptr);
}

TEST_F(AntiFreezeTest, IdleTimeOutOfZeroOrLessIsRefused) {
  TCountingAntiFreeze antiFreeze;
  antiFreeze.SetIdleTimeOut(50);
  for (const int bad : {0, -1, -2, -2147483647 - 1}) {
    try {
      antiFreeze.SetIdleTimeOut(bad);
      ADD_FAILURE() << bad << " was accepted";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find("IdleTimeOut must be above 0"), std::string::npos);
    }
    EXPECT_EQ(antiFreeze.IdleTimeOut(), 50) << "a refused value must not be kept";
  }
  antiFreeze.SetIdleTimeOut(1);
  EXPECT_EQ(antiFreeze.IdleTimeOut(), 1);
}

TEST_F(AntiFreezeTest, StepOnTheMainThreadFollowsIdleOverrideAndOnlyWhenIdle) {
  TCountingAntiFreeze antiFreeze;
  struct Case {
    bool onlyWhenIdle, idle, overrideIdle, active;
    bool pumps;
  };
  const std::vector<Case> cases = {
      {false, false, false, true, true},  // the window's setting: after every slice
      {true, false, false, true, false}, {true, true, false, true, true},
      {true, false, true, true, true},   {false, true, true, false, false},
      {true, true, true, false, false},
  };
  for (const Case& c : cases) {
    antiFreeze.Pumps = 0;
    antiFreeze.OnlyWhenIdle = c.onlyWhenIdle;
    antiFreeze.Active = c.active;
    EXPECT_EQ(AntiFreezeApplies(), c.active);
    AntiFreezeStep(c.idle, c.overrideIdle);
    EXPECT_EQ(antiFreeze.Pumps, c.pumps ? 1 : 0)
        << "onlyWhenIdle=" << c.onlyWhenIdle << " idle=" << c.idle << " override=" << c.overrideIdle
        << " active=" << c.active;
  }
}

TEST_F(AntiFreezeTest, StepOnAWorkerThreadNeverPumps) {
  TCountingAntiFreeze antiFreeze;
  antiFreeze.OnlyWhenIdle = false;
  bool appliesOnWorker = true;
  std::thread worker([&appliesOnWorker] {
    appliesOnWorker = AntiFreezeApplies();
    for (const bool idle : {false, true}) {
      for (const bool overrideIdle : {false, true}) AntiFreezeStep(idle, overrideIdle);
    }
  });
  worker.join();
  EXPECT_FALSE(appliesOnWorker);
  EXPECT_EQ(antiFreeze.Pumps, 0);
  EXPECT_TRUE(IsMainThread()) << "the worker must not have become the main thread";
}

// The real anti-freeze pumps the program's window-message queue.
class AntiFreezePumpTest : public AntiFreezeTest {
 protected:
  void SetUp() override {
    AntiFreezeTest::SetUp();
    window_ = TMessageQueue::Main().RegisterWindow(
        [this](const TMessage& message) { handled_.push_back(message.WParam); });
  }
  void TearDown() override { TMessageQueue::Main().UnregisterWindow(window_); }
  void Post(WPARAM value) {
    ASSERT_TRUE(TMessageQueue::Main().PostMessage(window_, WM_USER, value, 0));
  }

  HWND window_ = 0;
  std::vector<WPARAM> handled_;
};

TEST_F(AntiFreezePumpTest, ApplicationPriorityProcessesEveryWaitingMessage) {
  TIdAntiFreeze antiFreeze;
  Post(1);
  Post(2);
  Post(3);
  antiFreeze.PumpMessages();
  EXPECT_EQ(handled_, (std::vector<WPARAM>{1, 2, 3}));
  EXPECT_EQ(TMessageQueue::Main().PendingCount(), 0U);
}

TEST_F(AntiFreezePumpTest, WithoutPriorityOneMessageAtATimeAndNoWaitWhenEmpty) {
  TIdAntiFreeze antiFreeze;
  antiFreeze.ApplicationHasPriority = false;
  antiFreeze.PumpMessages();  // an empty queue: returns at once
  EXPECT_TRUE(handled_.empty());
  Post(7);
  Post(8);
  antiFreeze.PumpMessages();
  EXPECT_EQ(handled_, (std::vector<WPARAM>{7}));
  antiFreeze.PumpMessages();
  EXPECT_EQ(handled_, (std::vector<WPARAM>{7, 8}));
}

TEST_F(AntiFreezePumpTest, StepOnAWorkerLeavesTheQueueAlone) {
  TIdAntiFreeze antiFreeze;
  antiFreeze.OnlyWhenIdle = false;
  Post(5);
  std::thread worker([] { AntiFreezeStep(true, true); });
  worker.join();
  EXPECT_TRUE(handled_.empty());
  EXPECT_EQ(TMessageQueue::Main().PendingCount(), 1U);
  AntiFreezeStep(false, false);  // the main thread does let it through
  EXPECT_EQ(handled_, (std::vector<WPARAM>{5}));
}

}  // namespace
}  // namespace quillon
