#include "winui/DesktopAppWindows.h"

#include "winui/Win32.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

#include "platform/ConsoleWindows.h"
#include "platform/MessageQueue.h"
#include "trace/StateFiles.h"
#include "winui/AboutFormWindows.h"
#include "winui/MainWindowWindows.h"
#include "winui/ShellWindows.h"

#include "winui/HelpFile.h"  // generated: QUILLON_HELP_FILE

namespace quillon {

namespace {

// A console made for this program alone (it was started by a double-click) is
// not wanted behind the window; one it shares with the shell it was started
// from stays.
void LeaveOwnConsole() {
  DWORD processes[2];
  if (GetConsoleWindow() != nullptr && GetConsoleProcessList(processes, 2) == 1) FreeConsole();
}

// The window whose close a console's close becomes (none: the default handling).
std::atomic<::HWND> gConsoleOwner{nullptr};

// The wheel goes to the focused control, the Host box say, unless the user's
// "scroll inactive windows" setting sends it on: it belongs to the control of
// this window under the pointer.
bool RouteWheel(const MSG& message, ::HWND main) {
  if (message.message != WM_MOUSEWHEEL && message.message != WM_MOUSEHWHEEL) return false;
  // Screen coordinates, signed: a second monitor may lie left of or above the first.
  const POINT at{static_cast<short>(LOWORD(message.lParam)),
                 static_cast<short>(HIWORD(message.lParam))};
  const ::HWND under = WindowFromPoint(at);
  if (under == nullptr || under == message.hwnd || !IsChild(main, under) ||
      GetWindowThreadProcessId(under, nullptr) != GetCurrentThreadId()) {
    return false;
  }
  SendMessageA(under, message.message, message.wParam, message.lParam);
  return true;
}

}  // namespace

void CloseWithConsole(::HWND window) {
  gConsoleOwner.store(window);
  SetConsoleCtrlHandler(&OnWindowConsoleControl, window != nullptr ? TRUE : FALSE);
}

BOOL WINAPI OnWindowConsoleControl(DWORD event) {
  const ::HWND window = gConsoleOwner.load();
  if (window == nullptr) return FALSE;
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      return TRUE;  // keys typed into the console are not for the window
    case CTRL_CLOSE_EVENT:
      // The system ends the process once this returns: the window closes as
      // by its own close button, and the save is waited for.
      PostMessageW(window, WM_CLOSE, 0, 0);
      AwaitStateSaved();
      return TRUE;
    default:
      return FALSE;  // logoff and shutdown reach the window as WM_ENDSESSION
  }
}

int RunDesktop(const std::vector<std::string>& parameters) {
  LeaveOwnConsole();
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_STANDARD_CLASSES;
  InitCommonControlsEx(&controls);
  SetHelpFile(QUILLON_HELP_FILE);

  std::unique_ptr<TWinMainWindow> created;
  try {
    created = std::make_unique<TWinMainWindow>(DefaultFormFiles(), parameters);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quillon: %s\n", e.what());
    return 1;
  }
  TWinMainWindow& window = *created;
  TWinAboutFrm about(window.Handle());
  window.SetAboutForm(&about);
  ShowWindow(window.Handle(), SW_SHOW);
  UpdateWindow(window.Handle());
  // Started from a console, which it shares: Ctrl+C there or its close must
  // not end the window unsaved.
  if (GetConsoleWindow() != nullptr) CloseWithConsole(window.Handle());

  // The engine's worker messages arrive in this same queue (they are posted
  // to its own message-only window) and are dispatched here too. The engine's
  // own one-message pump navigates the dialog keys as this loop does.
  const auto dialogKeys = [&window](const void* native) {
    MSG* message = static_cast<MSG*>(const_cast<void*>(native));
    return window.Handle() &&
           (RouteWheel(*message, window.Handle()) || IsDialogMessageA(window.Handle(), message));
  };
  TMessageQueue::Main().SetPreTranslate(dialogKeys);
  MSG message{};
  int code = 0;
  for (;;) {
    const BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == 0) {
      code = static_cast<int>(message.wParam);
      break;
    }
    if (got < 0) break;
    if (dialogKeys(&message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
    try {
      RethrowHandlerError();
    } catch (const std::exception& e) {
      // An error that left a handler (a worker's report among them) is shown
      // like any other, and the loop goes on.
      window.ShowError(e.what());
      window.ControlsChanged();
    } catch (...) {
      window.ShowError("Unknown error.");
    }
    // Once the window is gone (the names saved), the workers' reports still
    // queued are not handled: they would start probes after the save.
    if (!window.Handle()) break;
  }

  TMessageQueue::Main().SetPreTranslate(nullptr);
  CloseWithConsole(nullptr);
  // Closing does not wait for workers; the name cache is already saved.
  return ExitWithoutWaitingForWorkers(&window.Form(), code);
}

}  // namespace quillon
