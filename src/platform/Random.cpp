#include "platform/Random.h"

#include <chrono>
#include <mutex>
#include <random>

namespace quillon {
namespace {

std::mutex gLock;
std::mt19937_64 gEngine;  // guarded by gLock

}  // namespace

void Randomize() {
  const auto now = std::chrono::high_resolution_clock::now().time_since_epoch().count();
  RandSeed(static_cast<std::uint64_t>(now));
}

void RandSeed(std::uint64_t seed) {
  std::lock_guard lock(gLock);
  gEngine.seed(seed);
}

std::int32_t Random(std::int32_t range) {
  if (range <= 0) return 0;
  std::uniform_int_distribution<std::int32_t> pick(0, range - 1);
  std::lock_guard lock(gLock);
  return pick(gEngine);
}

}  // namespace quillon
