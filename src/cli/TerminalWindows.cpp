// The terminal front end on Windows: the standard handles, a console's size and
// virtual-terminal mode, and Ctrl-C from the console's control handler.
#include "cli/ConsoleControlWindows.h"
#include "cli/TerminalSession.h"

#include <windows.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <mutex>

#include "net/IdStackWindows.h"
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
// Set once the session has ended and saved the name cache.
const HANDLE gSaved = CreateEventA(nullptr, TRUE, FALSE, nullptr);
// Closing the console, logoff and shutdown end the process once the handler
// returns, or after about five seconds: the wait for the save stays below that.
constexpr DWORD kSaveWaitMs = 4000;
}  // namespace

BOOL WINAPI OnConsoleControl(DWORD event) {
  {
    std::lock_guard lock(gSessionLock);
    if (gSession == nullptr) return FALSE;
    // Ctrl-C as the Stop button (a second one quits); the others quit at once.
    gSession->Signal(event == CTRL_C_EVENT ? SIGINT : SIGTERM);
  }
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    if (gSaved != nullptr) WaitForSingleObject(gSaved, kSaveWaitMs);
  }
  return TRUE;
}

void ListenToConsole(TTerminalSession* session) {
  std::lock_guard lock(gSessionLock);
  gSession = session;
}

void ConsoleSessionSaved() {
  if (gSaved != nullptr) SetEvent(gSaved);
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
  ListenToConsole(&session);
  SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
  const int status = session.Run(options.Parameters);
  // The names are saved: a console being closed may now end the process.
  ConsoleSessionSaved();
  ListenToConsole(nullptr);
  SetConsoleCtrlHandler(&OnConsoleControl, FALSE);
  ReportProbePath(io);
  console.Restore();

  // Probes beyond the route's end or lookups may still be under way.
  return ExitWithoutWaitingForWorkers(session.Form(), status);
}

}  // namespace quillon
