// The window-message queue: any thread posts, the window thread dispatches.
// On Linux it stands in for the desktop's message queue so that the trace engine
// runs the same way under the Qt window, in the terminal and in tests; on Windows
// it is the window thread's own message queue, so that a native window's message
// loop dispatches the engine's messages as well.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <mutex>

namespace quillon {

using HWND = std::uint32_t;  // 0 is no window
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;

constexpr std::uint32_t WM_USER = 1024;  // first application-defined message number

struct TMessage {
  HWND Window = 0;
  std::uint32_t Msg = 0;
  WPARAM WParam = 0;
  LPARAM LParam = 0;
  // Who posted it, beyond slot and run id (for example a worker's serial number).
  std::uint64_t Tag = 0;
};

class TMessageQueue {
 public:
  using THandler = std::function<void(const TMessage&)>;

  // The queue of the program's window thread.
  static TMessageQueue& Main();

  TMessageQueue() = default;
  TMessageQueue(const TMessageQueue&) = delete;
  TMessageQueue& operator=(const TMessageQueue&) = delete;

  // Window thread: gives a window its handle; messages posted to it reach the handler
  // (on Windows the handle of a message-only window of the calling thread).
  HWND RegisterWindow(THandler handler);
  // Window thread: forgets the window; its waiting and later messages are dropped.
  void UnregisterWindow(HWND window);

  // Any thread. False when no such window exists (the poster ignores it).
  bool PostMessage(HWND window, std::uint32_t msg, WPARAM wParam, LPARAM lParam,
                   std::uint64_t tag = 0);

  // Window thread: dispatches the oldest waiting message if there is one; never blocks.
  bool ProcessOneMessage();
  // Window thread: dispatches every message that is waiting, and those posted meanwhile.
  void ProcessMessages();
  // Blocks until a message is waiting or the time has passed (-1: no limit).
  // Leaves the message in the queue. True when one is waiting.
  bool WaitMessage(int timeoutMs);
  std::size_t PendingCount() const;

  // Called on the posting thread after every post, so that an event loop (Qt's)
  // can wake up and dispatch. Set it on the window thread before workers run.
  void SetWakeHandler(std::function<void()> wake);

  // Windows: what the native message loop does with an input message before it
  // dispatches it (the main window's dialog keys), given the MSG; true when that
  // handled it. ProcessOneMessage, which dispatches within handlers, does the same.
  void SetPreTranslate(std::function<bool(const void* nativeMessage)> filter);

 private:
  friend class TMessageQueueDispatch;  // the Windows window procedure

  mutable std::mutex lock_;
  std::condition_variable posted_;
  // Waiting messages in posting order (on Windows: their tags, until dispatched).
  std::deque<TMessage> queue_;
  std::map<HWND, THandler> windows_;
  HWND nextWindow_ = 1;
  std::function<void()> wake_;
  std::function<bool(const void*)> preTranslate_;  // window thread only
};

// An exception may not cross the system's dispatch of a message (Windows): a
// window procedure keeps what its handler raised, and the loop that dispatched
// the message raises it again once the dispatch has returned.
void KeepHandlerError(std::exception_ptr error);
// Raises the kept error of this thread, if any, once.
void RethrowHandlerError();

}  // namespace quillon
