#include "platform/Thread.h"

namespace quillon {

TThread::~TThread() { WaitFor(); }

void TThread::Start() {
  if (started_) return;
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
