// The wait between two rounds: a thread that posts one message to the window
// once the time has passed, unless it is cancelled first. Releasing it cancels
// it and waits for its thread, which then ends at once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/MessageQueue.h"
#include "platform/Thread.h"

namespace quillon {

class TRoundTimer : public TThread {
 public:
  // Posts msg to the window after delayMs, with the tag in the message.
  TRoundTimer(HWND window, std::uint32_t msg, std::int32_t delayMs, std::uint64_t tag);
  ~TRoundTimer() override;
  void Cancel();

 protected:
  void Execute() override;

 private:
  const HWND window_;
  const std::uint32_t msg_;
  const std::chrono::milliseconds delay_;
  const std::uint64_t tag_;
  std::mutex lock_;
  std::condition_variable cancelled_;
  bool cancel_ = false;  // guarded by lock_
};

}  // namespace quillon
