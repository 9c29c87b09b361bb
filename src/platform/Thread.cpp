#include "platform/Thread.h"

#include <cerrno>
#include <system_error>

namespace quillon {
namespace {

std::atomic<bool> gFailStarts{false};

}  // namespace

void FailThreadStartsForTesting(bool fail) { gFailStarts.store(fail); }

TThread::~TThread() { WaitFor(); }

void TThread::Start() {
  if (started_) return;
  if (gFailStarts.load()) throw std::system_error(EAGAIN, std::generic_category());
  started_ = true;
  thread_ = std::thread([this] {
    try {
      Execute();
    } catch (...) {
      // A worker body reports through its message; nothing may escape a thread.
    }
    finished_.store(true, std::memory_order_release);
  });
}

void TThread::WaitFor() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace quillon
