#include "platform/Clock.h"

#include <ctime>

namespace quillon {
namespace {

std::int64_t MonotonicNanos() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

class TMonotonicClock : public TClock {
 public:
  std::uint32_t TickCount() override {
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(MonotonicNanos() / 1'000'000));
  }
  std::int64_t PerformanceCounter() override { return MonotonicNanos(); }
  std::int64_t PerformanceFrequency() override { return 1'000'000'000; }
};

}  // namespace

bool LocalTime(std::time_t moment, std::tm& local) {
  return localtime_r(&moment, &local) != nullptr;
}

TClock& SystemClock() {
  static TMonotonicClock clock;
  return clock;
}

}  // namespace quillon
