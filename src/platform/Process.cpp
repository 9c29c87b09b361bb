#include "platform/Process.h"

#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace quillon {
namespace {

std::mutex gMainLock;
std::thread::id gMainThread;  // guarded by gMainLock
bool gMainKnown = false;      // guarded by gMainLock

}  // namespace

std::uint32_t GetCurrentProcessId() { return static_cast<std::uint32_t>(getpid()); }

void MarkMainThread() {
  std::lock_guard lock(gMainLock);
  gMainThread = std::this_thread::get_id();
  gMainKnown = true;
}

bool IsMainThread() {
  std::lock_guard lock(gMainLock);
  if (!gMainKnown) {
    gMainThread = std::this_thread::get_id();
    gMainKnown = true;
  }
  return gMainThread == std::this_thread::get_id();
}

}  // namespace quillon
