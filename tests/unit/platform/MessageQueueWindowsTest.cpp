// On Windows the queue is the thread's own message queue: a native window's
// ordinary GetMessage/DispatchMessage loop hands the engine's messages, tags
// included, to their handlers.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/MessageQueue.h"
// After our header: it defines WM_USER and PostMessage as macros.
#include <windows.h>
#undef PostMessage

namespace quillon {
namespace {

TEST(MessageQueueWindows, ANativeMessageLoopDispatchesPostedMessagesWithTheirTags) {
  TMessageQueue queue;
  std::vector<TMessage> seen;
  const HWND window = queue.RegisterWindow([&](const TMessage& m) {
    seen.push_back(m);
    if (seen.size() == 3) PostQuitMessage(0);
  });
  ASSERT_NE(window, 0u);
  std::thread poster([&] {
    queue.PostMessage(window, 1042, 1, 29999, 7);
    queue.PostMessage(window, 1051, 50, 12, 8);
    queue.PostMessage(window, 1042, 1, 29999, 9);  // the same message with another tag
  });
  poster.join();

  MSG message{};
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].Msg, 1042u);
  EXPECT_EQ(seen[0].WParam, 1u);
  EXPECT_EQ(seen[0].LParam, 29999);
  EXPECT_EQ(seen[0].Tag, 7u);
  EXPECT_EQ(seen[1].Msg, 1051u);
  EXPECT_EQ(seen[1].Tag, 8u);
  EXPECT_EQ(seen[2].Tag, 9u);
  EXPECT_EQ(queue.PendingCount(), 0u);
  queue.UnregisterWindow(window);
}

}  // namespace
}  // namespace quillon
