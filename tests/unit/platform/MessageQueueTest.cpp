// The window-message queue: posting from any thread, dispatching on the
// window's thread in posting order, and forgetting a window's messages.
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>
#include <vector>

#include "platform/MessageQueue.h"

namespace quillon {
namespace {

TEST(MessageQueueTest, PostedMessagesReachTheirWindowInOrderWithEveryField) {
  TMessageQueue queue;
  std::vector<TMessage> first;
  std::vector<TMessage> second;
  const HWND a = queue.RegisterWindow([&](const TMessage& m) { first.push_back(m); });
  const HWND b = queue.RegisterWindow([&](const TMessage& m) { second.push_back(m); });
  ASSERT_NE(a, 0u);
  ASSERT_NE(a, b);

  EXPECT_TRUE(queue.PostMessage(a, WM_USER + 18, 3, 29999, 77));
  EXPECT_TRUE(queue.PostMessage(b, WM_USER + 27, 50, -1));
  EXPECT_TRUE(queue.PostMessage(a, WM_USER + 27, 1, 5));
  EXPECT_EQ(queue.PendingCount(), 3u);
  EXPECT_TRUE(first.empty()) << "posting must not dispatch";

  EXPECT_TRUE(queue.ProcessOneMessage());
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].Window, a);
  EXPECT_EQ(first[0].Msg, 1042u);
  EXPECT_EQ(first[0].WParam, 3u);
  EXPECT_EQ(first[0].LParam, 29999);
  EXPECT_EQ(first[0].Tag, 77u);
  EXPECT_TRUE(second.empty());

  queue.ProcessMessages();
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(second[0].Msg, 1051u);
  EXPECT_EQ(second[0].LParam, -1);
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first[1].WParam, 1u);
  EXPECT_FALSE(queue.ProcessOneMessage());
  EXPECT_EQ(queue.PendingCount(), 0u);
}

TEST(MessageQueueTest, PostingToAnUnknownWindowIsRefused) {
  TMessageQueue queue;
  EXPECT_FALSE(queue.PostMessage(0, WM_USER, 0, 0));
  EXPECT_FALSE(queue.PostMessage(12345, WM_USER, 0, 0));
  EXPECT_EQ(queue.PendingCount(), 0u);
}

TEST(MessageQueueTest, UnregisteringDropsOnlyThatWindowsMessages) {
  TMessageQueue queue;
  int toGone = 0;
  int toKept = 0;
  const HWND gone = queue.RegisterWindow([&](const TMessage&) { ++toGone; });
  const HWND kept = queue.RegisterWindow([&](const TMessage&) { ++toKept; });
  queue.PostMessage(gone, WM_USER, 0, 0);
  queue.PostMessage(kept, WM_USER, 0, 0);
  queue.PostMessage(gone, WM_USER, 0, 0);

  queue.UnregisterWindow(gone);
  EXPECT_EQ(queue.PendingCount(), 1u);
  EXPECT_FALSE(queue.PostMessage(gone, WM_USER, 0, 0));
  queue.ProcessMessages();
  EXPECT_EQ(toGone, 0);
  EXPECT_EQ(toKept, 1);
}

TEST(MessageQueueTest, AHandlerMayUnregisterItsWindowAndPostFurtherMessages) {
  TMessageQueue queue;
  std::vector<WPARAM> seen;
  HWND window = 0;
  window = queue.RegisterWindow([&](const TMessage& m) {
    seen.push_back(m.WParam);
    if (m.WParam == 1) queue.PostMessage(window, WM_USER, 2, 0);  // posted meanwhile
    if (m.WParam == 2) {
      queue.PostMessage(window, WM_USER, 3, 0);
      queue.UnregisterWindow(window);  // drops 3
    }
  });
  queue.PostMessage(window, WM_USER, 1, 0);
  queue.ProcessMessages();
  EXPECT_EQ(seen, (std::vector<WPARAM>{1, 2}));
  EXPECT_EQ(queue.PendingCount(), 0u);
}

TEST(MessageQueueTest, MessagesFromManyThreadsAllArriveInEachPostersOrder) {
  TMessageQueue queue;
  constexpr int kThreads = 8;
  constexpr int kEach = 500;
  std::vector<std::vector<LPARAM>> byPoster(kThreads);
  const HWND window = queue.RegisterWindow(
      [&](const TMessage& m) { byPoster[static_cast<std::size_t>(m.WParam)].push_back(m.LParam); });
  std::atomic<int> wakes{0};
  queue.SetWakeHandler([&] { wakes.fetch_add(1); });

  std::latch start(kThreads);
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int i = 0; i < kEach; ++i) {
        queue.PostMessage(window, WM_USER, static_cast<WPARAM>(t), i);
      }
    });
  }
  // Dispatch on this thread while the posters run.
  int dispatched = 0;
  while (dispatched < kThreads * kEach) {
    if (queue.WaitMessage(-1) && queue.ProcessOneMessage()) ++dispatched;
  }
  for (std::thread& poster : posters) poster.join();

  EXPECT_EQ(wakes.load(), kThreads * kEach);
  for (int t = 0; t < kThreads; ++t) {
    const auto& values = byPoster[static_cast<std::size_t>(t)];
    ASSERT_EQ(values.size(), static_cast<std::size_t>(kEach));
    for (int i = 0; i < kEach; ++i) EXPECT_EQ(values[static_cast<std::size_t>(i)], i);
  }
}

TEST(MessageQueueTest, WaitingLeavesTheMessageInTheQueue) {
  TMessageQueue queue;
  int handled = 0;
  const HWND window = queue.RegisterWindow([&](const TMessage&) { ++handled; });
  EXPECT_FALSE(queue.WaitMessage(0));
  queue.PostMessage(window, WM_USER, 0, 0);
  EXPECT_TRUE(queue.WaitMessage(0));
  EXPECT_TRUE(queue.WaitMessage(-1));
  EXPECT_EQ(queue.PendingCount(), 1u);
  EXPECT_EQ(handled, 0);
  EXPECT_TRUE(queue.ProcessOneMessage());
  EXPECT_EQ(handled, 1);
}

}  // namespace
}  // namespace quillon
