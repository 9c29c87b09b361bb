// Time sources of the platform: a 32-bit millisecond tick count that wraps like
// the classic GetTickCount, and a high-resolution counter with its frequency.
// Tests can put a clock of their own in place of the system's.
#pragma once

#include <cstdint>
#include <ctime>

namespace quillon {

class TClock {
 public:
  virtual ~TClock() = default;
  virtual std::uint32_t TickCount() = 0;
  virtual std::int64_t PerformanceCounter() = 0;
  virtual std::int64_t PerformanceFrequency() = 0;
};

// Milliseconds since an arbitrary start, modulo 2^32.
std::uint32_t GetTickCount();
// Counts of the high-resolution counter and how many of them make a second.
std::int64_t QueryPerformanceCounter();
std::int64_t QueryPerformanceFrequency();

// A high-resolution counter's count in whole milliseconds, modulo 2^32: the
// tick count of a clock that resolves a millisecond (Windows's own tick count
// moves in steps of 10 to 16 ms).
std::uint32_t CounterMilliseconds(std::int64_t count, std::int64_t frequency);

// The local calendar time of a moment; false when the system cannot tell.
bool LocalTime(std::time_t moment, std::tm& local);

// The system's own clock.
TClock& SystemClock();

// Replaces the clock for the whole process (nullptr: the system's clock again).
// Set it before any worker thread runs.
void SetClockForTesting(TClock* clock);

}  // namespace quillon
