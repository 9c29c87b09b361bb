#include "trace/RoundTimer.h"

namespace quillon {

TRoundTimer::TRoundTimer(HWND window, std::uint32_t msg, std::int32_t delayMs, std::uint64_t tag)
    : window_(window), msg_(msg), delay_(delayMs), tag_(tag) {}

TRoundTimer::~TRoundTimer() {
  Cancel();
  WaitFor();
}

void TRoundTimer::Cancel() {
  {
    std::lock_guard guard(lock_);
    cancel_ = true;
  }
  cancelled_.notify_all();
}

void TRoundTimer::Execute() {
  {
    std::unique_lock guard(lock_);
    if (cancelled_.wait_for(guard, delay_, [this] { return cancel_; })) return;
  }
  TMessageQueue::Main().PostMessage(window_, msg_, 0, 0, tag_);
}

}  // namespace quillon
