#include "platform/Clock.h"

#include <atomic>

namespace quillon {
namespace {

std::atomic<TClock*> gClock{nullptr};

TClock& CurrentClock() {
  TClock* c = gClock.load(std::memory_order_acquire);
  return c != nullptr ? *c : SystemClock();
}

}  // namespace

std::uint32_t GetTickCount() {
  return CurrentClock().TickCount();
}

std::int64_t QueryPerformanceCounter() {
  return CurrentClock().PerformanceCounter();
}

std::int64_t QueryPerformanceFrequency() {
  return CurrentClock().PerformanceFrequency();
}

void SetClockForTesting(TClock* clock) {
  gClock.store(clock, std::memory_order_release);
}

}  // namespace quillon
