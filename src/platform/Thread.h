// A worker thread object in the classic shape: created suspended, given its
// inputs, started, and waited for by whoever releases it. It never frees itself.
#pragma once

#include <atomic>
#include <thread>

namespace quillon {

enum class TThreadPriority { tpNormal };

class TThread {
 public:
  TThread() = default;  // created suspended
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;
  // Waits for a started thread to end. A derived class whose Execute reads its own
  // members must call WaitFor() in its own destructor, before those members go.
  virtual ~TThread();

  void SetPriority(TThreadPriority) {}  // every worker runs at normal priority
  // Runs Execute on a new thread; a second call does nothing.
  void Start();
  // Blocks until the thread body has returned (at once when it never started).
  void WaitFor();
  bool Started() const { return started_; }
  bool Finished() const { return finished_.load(std::memory_order_acquire); }

 protected:
  // The thread body. Exceptions that escape it are swallowed.
  virtual void Execute() = 0;

 private:
  std::thread thread_;
  bool started_ = false;
  std::atomic<bool> finished_{false};
};

// While set, every Start fails as when the system has no thread to give
// (std::system_error), for tests of what callers do then.
void FailThreadStartsForTesting(bool fail);

}  // namespace quillon
