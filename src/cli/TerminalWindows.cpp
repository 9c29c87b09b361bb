// The terminal front end on Windows: the standard handles, a console's size and
// virtual-terminal mode, Ctrl-C and the console's close from its control
// handler, and logoff and shutdown from a hidden window.
#include "cli/ConsoleControlWindows.h"
#include "cli/TerminalSession.h"

#include <windows.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <mutex>

#include "net/IdStackWindows.h"
#include "platform/ConsoleWindows.h"
#include "platform/ExecutablePath.h"
#include "trace/StateFiles.h"

namespace quillon {
namespace {

void WriteAll(HANDLE handle, std::string_view text) {
  while (!text.empty()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1u << 20));
    // A closed pipe or a full disk: nothing more to do.
    if (!WriteFile(handle, text.data(), chunk, &written, nullptr) || written == 0) return;
    text.remove_prefix(written);
  }
}

CONSOLE_SCREEN_BUFFER_INFO ScreenInfo(HANDLE console) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(console, &info)) info = {};
  return info;
}

// Switches a console output to escape sequences and UTF-8 for the session's
// time, and back afterwards.
class TConsoleMode {
 public:
  explicit TConsoleMode(HANDLE output) : output_(output) {
    isConsole_ = GetConsoleMode(output_, &oldMode_) != FALSE;
    if (!isConsole_) return;
    escapes_ = SetConsoleMode(output_, oldMode_ | ENABLE_PROCESSED_OUTPUT |
                                           ENABLE_VIRTUAL_TERMINAL_PROCESSING) != FALSE;
    oldCodePage_ = GetConsoleOutputCP();
    SetConsoleOutputCP(CP_UTF8);
  }
  ~TConsoleMode() { Restore(); }
  // The console as it was; also before an exit that runs no destructor.
  void Restore() {
    if (!isConsole_) return;
    isConsole_ = false;
    SetConsoleMode(output_, oldMode_);
    if (oldCodePage_ != 0) SetConsoleOutputCP(oldCodePage_);
  }
  TConsoleMode(const TConsoleMode&) = delete;
  TConsoleMode& operator=(const TConsoleMode&) = delete;

  bool IsConsole() const { return isConsole_; }
  // True when the console takes the escape sequences that redraw the table.
  bool TakesEscapes() const { return escapes_; }

 private:
  HANDLE output_;
  DWORD oldMode_ = 0;
  UINT oldCodePage_ = 0;
  bool isConsole_ = false;
  bool escapes_ = false;
};

// On request (for tests and bug reports) the way the probes went out: the
// service and a raw socket give the same rows, so nothing else tells them apart.
void ReportProbePath(const TTerminalIo& io) {
  const char* asked = std::getenv("QUILLON_SHOW_PROBE_PATH");
  if (asked == nullptr || *asked == '\0') return;
  switch (IcmpProbePathInUse()) {
    case TIcmpProbePath::IcmpService:
      io.Err("Probes went through the system's ICMP service.\n");
      break;
    case TIcmpProbePath::RawSocket:
      io.Err("Probes went through a raw socket.\n");
      break;
    case TIcmpProbePath::None:
      io.Err("No probe was sent.\n");
      break;
  }
}

// The session that the console's control handler speaks to. The handler runs
// on a thread of the system's; the lock keeps the session alive while it posts.
std::mutex gSessionLock;
TTerminalSession* gSession = nullptr;  // guarded by gSessionLock

// A program that links user32 gets no CTRL_LOGOFF_EVENT or CTRL_SHUTDOWN_EVENT
// (and the engine's message-only windows no WM_QUERYENDSESSION): one hidden
// top-level window of the session's thread hears of logoff and shutdown, and
// saves while the system waits for its answer. Its messages are dispatched by
// the session's own message loop.
class TEndSessionWindow {
 public:
  explicit TEndSessionWindow(TTerminalSession& session) {
    static const ATOM windowClass = [] {
      WNDCLASSEXW description{};
      description.cbSize = sizeof description;
      description.lpfnWndProc = &Procedure;
      description.hInstance = GetModuleHandleW(nullptr);
      description.lpszClassName = L"QuillonTerminal";
      return RegisterClassExW(&description);
    }();
    if (windowClass == 0) return;
    window_ = CreateWindowExW(0, L"QuillonTerminal", L"Quillon", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window_ != nullptr) {
      SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&session));
    }
  }
  ~TEndSessionWindow() {
    if (window_ != nullptr) DestroyWindow(window_);
  }
  TEndSessionWindow(const TEndSessionWindow&) = delete;
  TEndSessionWindow& operator=(const TEndSessionWindow&) = delete;

 private:
  static LRESULT CALLBACK Procedure(::HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* session = reinterpret_cast<TTerminalSession*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (msg == WM_QUERYENDSESSION) return TRUE;
    if (msg == WM_ENDSESSION) {
      // The system may end the process as soon as this returns.
      if (wParam != FALSE && session != nullptr) {
        try {
          session->EndSession();
        } catch (...) {
          // Nothing can be shown any more; the session ends all the same.
        }
      }
      return 0;
    }
    return DefWindowProcW(window, msg, wParam, lParam);
  }

  ::HWND window_ = nullptr;
};

}  // namespace

BOOL WINAPI OnConsoleControl(DWORD event) {
  {
    std::lock_guard lock(gSessionLock);
    if (gSession == nullptr) return FALSE;
    // Ctrl-C as the Stop button (a second one quits); the others quit at once.
    gSession->Signal(event == CTRL_C_EVENT ? SIGINT : SIGTERM);
  }
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    AwaitStateSaved();
  }
  return TRUE;
}

void ListenToConsole(TTerminalSession* session) {
  std::lock_guard lock(gSessionLock);
  gSession = session;
}

int RunTerminal(const TCliOptions& options) {
  const bool json = options.Json || options.Csv;
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  TConsoleMode console(out);

  TTerminalIo io;
  io.Out = [out](std::string_view text) { WriteAll(out, text); };
  io.Err = [err](std::string_view text) { WriteAll(err, text); };
  // Without escape sequences a console gets the plain table once, as a file does.
  io.Live = !json && !options.Report && console.TakesEscapes();
  io.Color = io.Live && std::getenv("NO_COLOR") == nullptr;
  io.Columns = [out] {
    const CONSOLE_SCREEN_BUFFER_INFO info = ScreenInfo(out);
    const int width = info.srWindow.Right - info.srWindow.Left + 1;
    return width > 1 ? width : 80;
  };
  io.Rows = [out] {
    const CONSOLE_SCREEN_BUFFER_INFO info = ScreenInfo(out);
    const int height = info.srWindow.Bottom - info.srWindow.Top + 1;
    return height > 1 ? height : 24;
  };

  TTerminalSession session(io, DefaultFormFiles(), options);
  const std::string path = ExecutablePath();
  if (!path.empty()) session.SetProgramPath(path);
  // Once the names are saved, a console being closed may end the process.
  session.OnNamesSaved(&MarkStateSaved);
  ListenToConsole(&session);
  SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
  int status = 0;
  {
    const TEndSessionWindow endSession(session);
    status = session.Run(options.Parameters);
  }
  ListenToConsole(nullptr);
  SetConsoleCtrlHandler(&OnConsoleControl, FALSE);
  ReportProbePath(io);
  console.Restore();

  // Probes beyond the route's end or lookups may still be under way.
  return ExitWithoutWaitingForWorkers(session.Form(), status);
}

}  // namespace quillon
