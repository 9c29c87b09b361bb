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

std::uint32_t CounterMilliseconds(std::int64_t count, std::int64_t frequency) {
  if (count < 0 || frequency <= 0) return 0;
  // Whole seconds and the rest apart, so that no product overflows.
  const auto seconds = static_cast<std::uint64_t>(count / frequency);
  const auto rest = static_cast<std::uint64_t>(count % frequency);
  return static_cast<std::uint32_t>(seconds * 1000 +
                                    rest * 1000 / static_cast<std::uint64_t>(frequency));
}

void SetClockForTesting(TClock* clock) {
  gClock.store(clock, std::memory_order_release);
}

}  // namespace quillon
