// The process's pseudo-random generator. The window thread draws run ids from it
// and every probe worker draws sequence numbers; a lock keeps that sound.
#pragma once

#include <cstdint>

namespace quillon {

// Seeds the generator from the clock (done once, when the main window is created).
void Randomize();
// Seeds it with a fixed value, for reproducible tests.
void RandSeed(std::uint64_t seed);
// A uniformly drawn integer n with 0 <= n < range (0 when range <= 0).
std::int32_t Random(std::int32_t range);

}  // namespace quillon
