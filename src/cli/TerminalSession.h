// A trace in the terminal: the same engine as the window, its window thread
// being the calling thread. The session creates the main window's state with a
// terminal view, lets FormCreate read the command line, traces the Host box's
// text when the command line named no host, runs the message loop until the form
// is idle, prints the result and saves the name cache.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/TerminalView.h"
#include "platform/MessageQueue.h"
#include "trace/TraceRouteForm.h"

namespace quillon {

// Exit statuses of the terminal front end.
constexpr int ExitTraceEnded = 0;
constexpr int ExitFailure = 1;
constexpr int ExitHostNotFound = 2;
constexpr int ExitNoSocket = 3;
constexpr int ExitSignalBase = 128;  // plus the signal that made the program quit

// The message a signal becomes on the window thread (wParam: the signal number).
constexpr std::uint32_t WM_TERMINAL_SIGNAL = WM_USER + 300;

class TTerminalSession {
 public:
  // Runs on the window thread. The options say what to print (a table, JSON,
  // CSV, the statistics report) and how many rounds to trace at what interval.
  TTerminalSession(TTerminalIo io, TFormFiles files, TCliOptions options);
  // json: print the result as JSON instead of a table; one round.
  TTerminalSession(TTerminalIo io, TFormFiles files, bool json);
  ~TTerminalSession();
  TTerminalSession(const TTerminalSession&) = delete;
  TTerminalSession& operator=(const TTerminalSession&) = delete;

  // The whole run; returns the exit status. Call once.
  int Run(const std::vector<std::string>& parameters);

  // Any thread, also while Run waits: the first SIGINT stops the trace (as the
  // Stop button does), a second one or any other signal quits at once.
  void Signal(int signo);

  // Window thread, while Run waits: logoff or shutdown. Stops the trace (no
  // probe may start after the save), saves the names and lets Run end as on
  // a quit.
  void EndSession();
  // Called once the names are saved (before the result is written, which may
  // block on a console being closed).
  void OnNamesSaved(std::function<void()> saved) { namesSaved_ = std::move(saved); }

  // The engine's window (after Run has created it).
  TTraceRouteForm* Form() { return form_.get(); }
  // Executable path for the privilege hint ("quillon" when unknown).
  void SetProgramPath(std::string path) { programPath_ = std::move(path); }

 private:
  void OnSignal(int signo);
  // Saves the name cache once (nothing before the form exists).
  void SaveNames();
  int Failure(const std::exception& error);
  int ReportMessages();
  void PrintResult();
  // After the run: lets the AS answers still due arrive, within bounds.
  void WaitForAsAnswers();

  TTerminalIo io_;
  TFormFiles files_;
  TCliOptions options_;
  TTerminalView view_;
  std::unique_ptr<TTraceRouteForm> form_;
  HWND window_ = 0;
  int interrupts_ = 0;
  int quitSignal_ = 0;
  bool saved_ = false;
  std::function<void()> namesSaved_;
  std::string programPath_ = "quillon";
};

// The program's terminal front end on the real standard output and error, with
// Ctrl-C handling and the state files in their default places. Blocks the
// signals it handles in the calling thread first: call it on the main thread
// before any other thread exists. Returns the exit status; when workers are still
// under way at the end it flushes and ends the process itself rather than wait.
int RunTerminal(const TCliOptions& options);

}  // namespace quillon
