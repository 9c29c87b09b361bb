#include "platform/MessageQueue.h"

namespace quillon {

TMessageQueue& TMessageQueue::Main() {
  static TMessageQueue queue;
  return queue;
}

void TMessageQueue::ProcessMessages() {
  while (ProcessOneMessage()) {
  }
}

std::size_t TMessageQueue::PendingCount() const {
  std::lock_guard lock(lock_);
  return queue_.size();
}

void TMessageQueue::SetWakeHandler(std::function<void()> wake) {
  std::lock_guard lock(lock_);
  wake_ = std::move(wake);
}

}  // namespace quillon
