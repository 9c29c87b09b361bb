#include "cli/TerminalSession.h"

#include <csignal>
#include <filesystem>

#include "cli/TerminalText.h"
#include "net/IdException.h"
#include "platform/Clock.h"
#include "platform/Text.h"
#include "trace/AsThread.h"
#include "trace/SocketRights.h"

namespace quillon {
namespace {

constexpr const char* DefaultHost = "localhost";

std::string WithUnixLineEnds(std::string text) {
  for (std::size_t pos; (pos = text.find("\r\n")) != std::string::npos;) text.erase(pos, 1);
  return text;
}

// A message of several lines (a socket error's text has two), each made safe
// for the terminal on its own, ending in a line break.
std::string MessageLines(const std::string& message) {
  const std::string text = WithUnixLineEnds(message);
  std::string lines;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find('\n', start);
    lines += SanitizeForTerminal(std::string_view(text).substr(start, end - start)) + "\n";
    if (end == std::string::npos) return lines;
    start = end + 1;
  }
}

}  // namespace

TTerminalSession::TTerminalSession(TTerminalIo io, TFormFiles files, bool json)
    : TTerminalSession(std::move(io), std::move(files), [json] {
        TCliOptions options;
        options.Json = json;
        return options;
      }()) {}

TTerminalSession::TTerminalSession(TTerminalIo io, TFormFiles files, TCliOptions options)
    : io_(std::move(io)), files_(std::move(files)), options_(std::move(options)), view_(io_) {
  window_ = TMessageQueue::Main().RegisterWindow([this](const TMessage& message) {
    if (message.Msg == WM_TERMINAL_SIGNAL) OnSignal(static_cast<int>(message.WParam));
  });
}

TTerminalSession::~TTerminalSession() {
  TMessageQueue::Main().UnregisterWindow(window_);
  view_.Attach(nullptr);
}

void TTerminalSession::Signal(int signo) {
  TMessageQueue::Main().PostMessage(window_, WM_TERMINAL_SIGNAL, static_cast<WPARAM>(signo), 0);
}

void TTerminalSession::OnSignal(int signo) {
  if (signo == SIGINT && interrupts_++ == 0 && form_ && form_->Running) {
    // As the Stop button: no further probes; the run ends once its workers report.
    form_->Button2Click();
    return;
  }
  quitSignal_ = signo;
  view_.SetInterrupted();
}

void TTerminalSession::EndSession() {
  if (form_ && form_->Running && !form_->StopRequested) form_->Button2Click();
  SaveNames();
  quitSignal_ = SIGTERM;
  view_.SetInterrupted();
}

void TTerminalSession::SaveNames() {
  if (!form_ || saved_) return;
  saved_ = true;
  form_->FormClose();
  if (namesSaved_) namesSaved_();
}

int TTerminalSession::Failure(const std::exception& error) {
  SaveNames();
  view_.Discard();
  const std::string text = MessageLines(error.what());
  if (IsPrivilegeFailure(error)) {
    io_.Err(text + PrivilegeHint(programPath_) + "\n");
    return ExitNoSocket;
  }
  io_.Err(text);
  return ExitFailure;
}

int TTerminalSession::ReportMessages() {
  SaveNames();
  view_.Discard();
  int status = ExitFailure;
  for (const std::string& message : view_.Messages()) {
    io_.Err(MessageLines(message));
    if (message.rfind("Host not found: ", 0) == 0 || message.rfind(Id_CANNOT_TRACE, 0) == 0)
      status = ExitHostNotFound;
  }
  return status;
}

void TTerminalSession::WaitForAsAnswers() {
  // AS answers still due are waited for no longer than one of their
  // questions may take: the run itself never waits for them.
  TMessageQueue& queue = TMessageQueue::Main();
  const std::uint32_t start = GetTickCount();
  while (form_->AsSlotBusy() && quitSignal_ == 0) {
    const std::uint32_t waited = GetTickCount() - start;
    if (waited >= static_cast<std::uint32_t>(AsQueryTimeoutMs)) return;
    if (!queue.WaitMessage(static_cast<int>(AsQueryTimeoutMs - waited))) continue;
    try {
      queue.ProcessOneMessage();
    } catch (const std::exception& error) {
      io_.Err(MessageLines(error.what()));
    }
  }
}

void TTerminalSession::PrintResult() {
  if (options_.Json) {
    io_.Out(RenderJson(form_->Report()));
  } else if (options_.Csv) {
    io_.Out(RenderCsv(form_->Report()));
  } else if (io_.Live) {
    view_.Finish();
  } else if (form_->RunRounds != 1) {
    const TReportSnapshot report = form_->Report();
    std::string table = SanitizeForTerminal(RunSummary(report)) + "\n";
    for (const std::string& line : RenderStatisticsLines(report, 0)) table += line + "\n";
    io_.Out(table);
  } else {
    io_.Out(RenderPlainTable(SnapshotOf(*form_)));
  }
}

int TTerminalSession::Run(const std::vector<std::string>& parameters) {
  try {
    form_ = std::make_unique<TTraceRouteForm>(&view_, files_);
  } catch (const std::exception& error) {
    return Failure(error);
  }
  view_.Attach(form_.get());
  // The terminal's tables show the AS in a column of their own.
  form_->AsInHostCell = false;

  // The cache is written back whatever happens once it has been read.
  struct TCloser {
    TTerminalSession& session;
    ~TCloser() { session.SaveNames(); }
  } closer{*this};

  try {
    form_->Rounds = options_.RoundCount();
    if (options_.IntervalMs) form_->IntervalMs = *options_.IntervalMs;
    form_->FormCreate(parameters);
    if (view_.Messages().empty() && !form_->Running) {
      // No host on the command line: trace what the Host box holds, and say so.
      const bool remembered =
          !Trim(form_->Host.Text).empty() && std::filesystem::exists(files_.HistoryPath);
      if (Trim(form_->Host.Text).empty()) form_->Host.Text = DefaultHost;
      io_.Err("No host given; tracing " + SanitizeForTerminal(Trim(form_->Host.Text)) +
              (remembered ? " (the last host traced)" : "") + "\n");
      form_->Button1Click();
    }
    if (!view_.Messages().empty()) return ReportMessages();
  } catch (const std::exception& error) {
    return Failure(error);
  }

  TMessageQueue& queue = TMessageQueue::Main();
  while (form_->Running && quitSignal_ == 0) {
    // The wait is bounded only so that a run can never hang the terminal for good.
    if (!queue.WaitMessage(1000)) continue;
    try {
      queue.ProcessOneMessage();
    } catch (const std::exception& error) {
      // Shown as the window would show it; the run goes on.
      io_.Err(MessageLines(error.what()));
    }
  }
  WaitForAsAnswers();
  // Saved before anything is written: a console being closed may end the
  // process at any write.
  SaveNames();
  PrintResult();
  if (quitSignal_ != 0) return ExitSignalBase + quitSignal_;
  // A probe that could not be sent stopped the run: why comes after the table.
  for (const std::string& message : view_.Messages()) io_.Err(MessageLines(message));
  return view_.Messages().empty() ? ExitTraceEnded : ExitFailure;
}

}  // namespace quillon
