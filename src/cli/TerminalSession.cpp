#include "cli/TerminalSession.h"

#include <csignal>
#include <filesystem>

#include "cli/TerminalText.h"
#include "platform/Text.h"
#include "trace/SocketRights.h"

namespace quillon {
namespace {

constexpr const char* DefaultHost = "localhost";

std::string WithUnixLineEnds(std::string text) {
  for (std::size_t pos; (pos = text.find("\r\n")) != std::string::npos;) text.erase(pos, 1);
  return text;
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

int TTerminalSession::Failure(const std::exception& error) {
  view_.Discard();
  std::string text = SanitizeForTerminal(WithUnixLineEnds(error.what()));
  if (IsPrivilegeFailure(error)) {
    io_.Err(text + "\n" + PrivilegeHint(programPath_) + "\n");
    return ExitNoSocket;
  }
  io_.Err(text + "\n");
  return ExitFailure;
}

int TTerminalSession::ReportMessages() {
  view_.Discard();
  int status = ExitFailure;
  for (const std::string& message : view_.Messages()) {
    io_.Err(SanitizeForTerminal(message) + "\n");
    if (message.rfind("Host not found: ", 0) == 0) status = ExitHostNotFound;
  }
  return status;
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

  // The cache is written back whatever happens once it has been read.
  struct TCloser {
    TTraceRouteForm& form;
    ~TCloser() { form.FormClose(); }
  } closer{*form_};

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
      io_.Err(SanitizeForTerminal(WithUnixLineEnds(error.what())) + "\n");
    }
  }
  PrintResult();
  return quitSignal_ != 0 ? ExitSignalBase + quitSignal_ : ExitTraceEnded;
}

}  // namespace quillon
