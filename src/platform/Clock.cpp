#include "platform/Clock.h"

#include <atomic>
#include <ctime>

namespace quillon {
namespace {

std::atomic<TClock*> gClock{nullptr};

std::int64_t MonotonicNanos() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

}  // namespace

std::uint32_t GetTickCount() {
  if (TClock* c = gClock.load(std::memory_order_acquire)) return c->TickCount();
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(MonotonicNanos() / 1'000'000));
}

std::int64_t QueryPerformanceCounter() {
  if (TClock* c = gClock.load(std::memory_order_acquire)) return c->PerformanceCounter();
  return MonotonicNanos();
}

std::int64_t QueryPerformanceFrequency() {
  if (TClock* c = gClock.load(std::memory_order_acquire)) return c->PerformanceFrequency();
  return 1'000'000'000;
}

void SetClockForTesting(TClock* clock) { gClock.store(clock, std::memory_order_release); }

}  // namespace quillon
