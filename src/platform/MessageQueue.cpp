#include "platform/MessageQueue.h"

#include <utility>

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

namespace {
thread_local std::exception_ptr tHandlerError;
}  // namespace

void KeepHandlerError(std::exception_ptr error) {
  if (!tHandlerError) tHandlerError = std::move(error);  // the first one counts
}

void RethrowHandlerError() {
  if (std::exception_ptr error = std::exchange(tHandlerError, nullptr))
    std::rethrow_exception(error);
}

void TMessageQueue::SetPreTranslate(std::function<bool(const void*)> filter) {
  preTranslate_ = std::move(filter);
}

void TMessageQueue::SetWakeHandler(std::function<void()> wake) {
  std::lock_guard lock(lock_);
  wake_ = std::move(wake);
}

}  // namespace quillon
