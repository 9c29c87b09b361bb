#include "platform/MessageQueue.h"

#include <chrono>

namespace quillon {

HWND TMessageQueue::RegisterWindow(THandler handler) {
  std::lock_guard lock(lock_);
  const HWND window = nextWindow_++;
  windows_.emplace(window, std::move(handler));
  return window;
}

void TMessageQueue::UnregisterWindow(HWND window) {
  std::lock_guard lock(lock_);
  windows_.erase(window);
  std::erase_if(queue_, [window](const TMessage& m) { return m.Window == window; });
}

bool TMessageQueue::PostMessage(HWND window, std::uint32_t msg, WPARAM wParam, LPARAM lParam,
                                std::uint64_t tag) {
  std::function<void()> wake;
  {
    std::lock_guard lock(lock_);
    if (windows_.find(window) == windows_.end()) return false;
    queue_.push_back(TMessage{window, msg, wParam, lParam, tag});
    wake = wake_;
  }
  posted_.notify_all();
  if (wake) wake();
  return true;
}

bool TMessageQueue::ProcessOneMessage() {
  TMessage message;
  THandler handler;
  {
    std::lock_guard lock(lock_);
    if (queue_.empty()) return false;
    message = queue_.front();
    queue_.pop_front();
    auto it = windows_.find(message.Window);
    if (it == windows_.end()) return true;
    handler = it->second;  // a copy: the handler may unregister its own window
  }
  handler(message);
  return true;
}

bool TMessageQueue::WaitMessage(int timeoutMs) {
  std::unique_lock lock(lock_);
  const auto ready = [this] { return !queue_.empty(); };
  if (timeoutMs < 0) {
    posted_.wait(lock, ready);
    return true;
  }
  return posted_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
}

}  // namespace quillon
