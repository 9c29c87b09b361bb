// The tick count taken from the high-resolution counter: whole milliseconds,
// wrapping at 2^32 as the classic tick count does.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/Clock.h"

namespace quillon {
namespace {

TEST(Clock, CounterGivesWholeMillisecondsThatWrapAt32Bits) {
  struct TCase {
    std::int64_t Count;
    std::int64_t Frequency;
    std::uint32_t Ms;
  };
  constexpr std::int64_t kTenMHz = 10'000'000;
  const TCase cases[] = {
      {30'000, kTenMHz, 3},  // a 3 ms hop is 3, not 0 or 16
      {29'999, kTenMHz, 2},  // cut, not rounded
      {10'000'000, kTenMHz, 1000},
      {3'000, 1'000, 3000},  // a counter slower than the clock
      // 2^32 ms and 5 more: the count wraps as GetTickCount's does.
      {(std::int64_t{1} << 32) * 10'000 + 50'000, kTenMHz, 5},
      // 3e9 s at 3 GHz: count * 1000 would overflow; 3e12 ms modulo 2^32.
      {9'000'000'000'000'000'000, 3'000'000'000, 2'112'827'392},
      {-1, kTenMHz, 0},
      {1'000, 0, 0},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(CounterMilliseconds(c.Count, c.Frequency), c.Ms) << c.Count << " / " << c.Frequency;
  }
}

}  // namespace
}  // namespace quillon
