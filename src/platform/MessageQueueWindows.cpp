// The window-message queue on Windows is the thread's own message queue: every
// registered window is a message-only window of the thread that registered it,
// posts go through PostMessageA, and messages are dispatched to its window
// procedure by whatever loop runs on that thread (ours below, or a native
// window's GetMessage/DispatchMessage loop). A message carries only its number,
// wParam and lParam; the Tag waits in posting order in a side table and is
// matched back when the message is dispatched.
#include "platform/MessageQueue.h"

#include <windows.h>
#undef PostMessage

#include <algorithm>
#include <mutex>

// Inside the namespace HWND names the engine's window number.
static const ::HWND kMessageOnlyParent = HWND_MESSAGE;

namespace quillon {
namespace {

constexpr const char* kWindowClass = "QuillonMessageWindow";

// User handles have 32 significant bits on 64-bit Windows, so the native handle
// is the window's number as well.
::HWND NativeOf(HWND window) {
  return reinterpret_cast<::HWND>(static_cast<std::intptr_t>(static_cast<std::int32_t>(window)));
}
HWND NumberOf(::HWND window) {
  return static_cast<HWND>(reinterpret_cast<std::uintptr_t>(window) & 0xFFFFFFFFu);
}

}  // namespace

// Reached from the window procedure; a friend in all but name.
class TMessageQueueDispatch {
 public:
  static void Deliver(TMessageQueue& queue, const TMessage& posted) {
    TMessage message = posted;
    TMessageQueue::THandler handler;
    {
      std::lock_guard lock(queue.lock_);
      auto it = queue.windows_.find(message.Window);
      if (it == queue.windows_.end()) return;  // forgotten meanwhile
      const auto entry =
          std::find_if(queue.queue_.begin(), queue.queue_.end(), [&](const TMessage& m) {
            return m.Window == message.Window && m.Msg == message.Msg &&
                   m.WParam == message.WParam && m.LParam == message.LParam;
          });
      if (entry != queue.queue_.end()) {
        message.Tag = entry->Tag;
        queue.queue_.erase(entry);
      }
      handler = it->second;  // a copy: the handler may unregister its own window
    }
    handler(message);
  }
};

namespace {

LRESULT CALLBACK MessageWindowProc(::HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg >= WM_USER && msg < 0xC000) {
    auto* queue = reinterpret_cast<TMessageQueue*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (queue != nullptr) {
      try {
        TMessageQueueDispatch::Deliver(*queue, TMessage{NumberOf(window), msg, wParam, lParam, 0});
      } catch (...) {
        KeepHandlerError(std::current_exception());
      }
      return 0;
    }
  }
  return DefWindowProcA(window, msg, wParam, lParam);
}

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&MessageWindowProc), &module);
  return module;
}

void RegisterWindowClass() {
  static std::once_flag once;
  std::call_once(once, [] {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &MessageWindowProc;
    windowClass.hInstance = ThisModule();
    windowClass.lpszClassName = kWindowClass;
    RegisterClassExA(&windowClass);
  });
}

}  // namespace

HWND TMessageQueue::RegisterWindow(THandler handler) {
  RegisterWindowClass();
  const ::HWND native = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, kMessageOnlyParent,
                                        nullptr, ThisModule(), nullptr);
  if (native == nullptr) return 0;
  SetWindowLongPtrA(native, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  const HWND window = NumberOf(native);
  std::lock_guard lock(lock_);
  windows_.emplace(window, std::move(handler));
  return window;
}

void TMessageQueue::UnregisterWindow(HWND window) {
  {
    std::lock_guard lock(lock_);
    if (windows_.erase(window) == 0) return;
    std::erase_if(queue_, [window](const TMessage& m) { return m.Window == window; });
  }
  // Only the creating thread can destroy it; elsewhere it stays, inert.
  DestroyWindow(NativeOf(window));
}

bool TMessageQueue::PostMessage(HWND window, std::uint32_t msg, WPARAM wParam, LPARAM lParam,
                                std::uint64_t tag) {
  std::function<void()> wake;
  {
    // Posted under the lock, so that the side table is in the thread queue's order.
    std::lock_guard lock(lock_);
    if (windows_.find(window) == windows_.end()) return false;
    queue_.push_back(TMessage{window, msg, wParam, lParam, tag});
    if (!PostMessageA(NativeOf(window), msg, wParam, lParam)) {
      queue_.pop_back();  // the thread's queue is full
      return false;
    }
    wake = wake_;
  }
  if (wake) wake();
  return true;
}

bool TMessageQueue::ProcessOneMessage() {
  MSG message{};
  if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) return false;
  if (message.message == WM_QUIT) {
    // Not ours to take: left for the loop that asked for it.
    PostQuitMessage(static_cast<int>(message.wParam));
    return false;
  }
  if (preTranslate_ && preTranslate_(&message)) return true;
  TranslateMessage(&message);
  DispatchMessageA(&message);
  RethrowHandlerError();
  return true;
}

bool TMessageQueue::WaitMessage(int timeoutMs) {
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    MSG message{};
    if (PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE)) return true;
    DWORD wait = INFINITE;
    if (timeoutMs >= 0) {
      const ULONGLONG passed = GetTickCount64() - start;
      if (passed >= static_cast<ULONGLONG>(timeoutMs)) return false;
      wait = static_cast<DWORD>(static_cast<ULONGLONG>(timeoutMs) - passed);
    }
    if (MsgWaitForMultipleObjectsEx(0, nullptr, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE) ==
        WAIT_FAILED) {
      return false;
    }
  }
}

}  // namespace quillon
