#include "platform/Clock.h"

#include <windows.h>

namespace quillon {
namespace {

class TWindowsClock : public TClock {
 public:
  // From the high-resolution counter: a hop of 3 ms must not read as 0 or 16.
  std::uint32_t TickCount() override {
    return CounterMilliseconds(PerformanceCounter(), PerformanceFrequency());
  }
  std::int64_t PerformanceCounter() override {
    LARGE_INTEGER count{};
    ::QueryPerformanceCounter(&count);
    return count.QuadPart;
  }
  std::int64_t PerformanceFrequency() override {
    LARGE_INTEGER frequency{};
    ::QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
  }
};

}  // namespace

bool LocalTime(std::time_t moment, std::tm& local) {
  return localtime_s(&local, &moment) == 0;
}

TClock& SystemClock() {
  static TWindowsClock clock;
  return clock;
}

}  // namespace quillon
