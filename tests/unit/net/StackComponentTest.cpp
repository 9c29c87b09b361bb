// The process-wide stack's lifetime: made by the first component, released by
// the last, never two at once, also with components made and freed on many
// threads; a failed creation leaves nothing behind.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <latch>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "net/IdComponent.h"
#include "net/IdException.h"
#include "net/IdStack.h"
#include "net/IdWinSock2.h"

namespace quillon {
namespace {

std::atomic<int> gMade{0};
std::atomic<int> gLive{0};
std::atomic<int> gMostLive{0};

class TCountedStack : public TIdStack {
 public:
  TCountedStack() {
    gMade.fetch_add(1);
    const int live = gLive.fetch_add(1) + 1;
    int most = gMostLive.load();
    while (live > most && !gMostLive.compare_exchange_weak(most, live)) {
    }
  }
  ~TCountedStack() override { gLive.fetch_sub(1); }

  int SockClose(TIdStackSocketHandle) override { return 0; }
  int SockShutdown(TIdStackSocketHandle, int) override { return 0; }
  TIdStackSocketHandle SockOpen(int, int, int) override { return Id_INVALID_SOCKET; }
  int SockSetOption(TIdStackSocketHandle, int, int, const void*, int) override { return 0; }
  int SockRecv(TIdStackSocketHandle, void*, int, int) override { return -1; }
  int SockSendTo(TIdStackSocketHandle, const void*, int, int, const std::string&, int) override {
    return -1;
  }
  int SockSelect(TIdSocketList*, TIdSocketList*, TIdSocketList*, int) override { return 0; }
  std::int32_t GetSocketError() override { return 0; }
  std::string HostNameToAddr(const std::string&) override { return "127.0.0.1"; }
  std::string AddrToHostName(const std::string&) override { return "localhost"; }
};

std::unique_ptr<TIdStack> MakeCountedStack() {
  return std::make_unique<TCountedStack>();
}
std::unique_ptr<TIdStack> FailToMakeStack() {
  throw EIdStackInitializationFailed();
}

// Eight threads that start together and each make and free 300 components;
// counts the components that saw the stack fail the check.
int CountOnEightThreads(const std::function<bool()>& stackLooksWrong) {
  constexpr int kThreads = 8;
  std::latch start(kThreads);
  std::atomic<int> wrong{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&] {
      start.arrive_and_wait();
      for (int i = 0; i < 300; ++i) {
        TIdComponent component;
        if (stackLooksWrong()) wrong.fetch_add(1);
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  return wrong.load();
}

class StackComponentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(GSocketUserCount, 0) << "a component of another test is still alive";
    savedClass_ = GSocketStackClass;
    GSocketStackClass = &MakeCountedStack;
    gMade = 0;
    gLive = 0;
    gMostLive = 0;
  }
  void TearDown() override { GSocketStackClass = savedClass_; }

 private:
  TIdStackClass savedClass_ = nullptr;
};

TEST_F(StackComponentTest, FirstComponentMakesTheStackAndTheLastReleasesIt) {
  {
    TIdComponent first;
    EXPECT_EQ(GSocketUserCount, 1);
    ASSERT_NE(GSocketStack.load(), nullptr);
    EXPECT_NE(dynamic_cast<TCountedStack*>(&Stack()), nullptr);
    TIdStack* const made = GSocketStack.load();
    {
      TIdComponent second;
      EXPECT_EQ(GSocketUserCount, 2);
      EXPECT_EQ(GSocketStack.load(), made);
    }
    EXPECT_EQ(GSocketUserCount, 1);
    EXPECT_EQ(GSocketStack.load(), made);
    EXPECT_EQ(gMade.load(), 1);
  }
  EXPECT_EQ(GSocketUserCount, 0);
  EXPECT_EQ(GSocketStack.load(), nullptr);
  EXPECT_EQ(gLive.load(), 0);

  // A later component makes a new one.
  TIdComponent again;
  EXPECT_EQ(gMade.load(), 2);
}

TEST_F(StackComponentTest, WorkersNeverMakeASecondStackWhileTheWindowsClientLives) {
  TIdComponent windowClient;
  TIdStack* const made = GSocketStack.load();
  EXPECT_EQ(CountOnEightThreads([made] { return GSocketStack.load() != made; }), 0);
  EXPECT_EQ(gMade.load(), 1);
  EXPECT_EQ(GSocketUserCount, 1);
  EXPECT_EQ(GSocketStack.load(), made);
}

TEST_F(StackComponentTest, ComponentsComingAndGoingOnManyThreadsNeverHoldTwoStacks) {
  EXPECT_EQ(CountOnEightThreads([] { return GSocketStack.load() == nullptr; }), 0);
  EXPECT_EQ(gMostLive.load(), 1);
  EXPECT_EQ(gLive.load(), 0);
  EXPECT_EQ(GSocketUserCount, 0);
  EXPECT_EQ(GSocketStack.load(), nullptr);
}

TEST_F(StackComponentTest, FailedCreationLeavesNoStackNoCountAndAFreeLock) {
  GSocketStackClass = &FailToMakeStack;
  try {
    TIdComponent failing;
    FAIL() << "no exception";
  } catch (const EIdStackInitializationFailed& e) {
    EXPECT_EQ(e.Message(), "Winsock Initialization Error.");
  }
  EXPECT_EQ(GSocketUserCount, 0);
  EXPECT_EQ(GSocketStack.load(), nullptr);
  ASSERT_TRUE(GSocketStackLock.try_lock());
  GSocketStackLock.unlock();

  // The next component tries again and succeeds.
  GSocketStackClass = &MakeCountedStack;
  TIdComponent next;
  EXPECT_EQ(GSocketUserCount, 1);
  EXPECT_EQ(gMade.load(), 1);
}

TEST_F(StackComponentTest, TheProgramsStackStartsTheSystemsSocketLibrary) {
  GSocketStackClass = &CreateSystemStack;
  TIdComponent component;
  EXPECT_NE(SocketLibHandle(), nullptr);
  EXPECT_TRUE(GSocketStarted.load());
  EXPECT_EQ(Stack().HostToAddressText("LocalHost"), "127.0.0.1");
}

}  // namespace
}  // namespace quillon
