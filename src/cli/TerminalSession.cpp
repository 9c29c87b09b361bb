#include "cli/TerminalSession.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

#include "cli/TerminalText.h"
#include "net/IdException.h"
#include "net/IdStackConsts.h"
#include "platform/ExecutablePath.h"
#include "platform/Text.h"
#include "trace/StateFiles.h"

namespace quillon {
namespace {

constexpr const char* DefaultHost = "localhost";

std::string WithUnixLineEnds(std::string text) {
  for (std::size_t pos; (pos = text.find("\r\n")) != std::string::npos;) text.erase(pos, 1);
  return text;
}

bool IsPrivilegeFailure(const std::exception& error) {
  if (dynamic_cast<const EIdInvalidSocket*>(&error) != nullptr) return true;
  const auto* socketError = dynamic_cast<const EIdSocketError*>(&error);
  return socketError != nullptr && socketError->ErrorCode == Id_WSAEACCES;
}

void WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a closed pipe or a full disk: nothing more to do
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

winsize WindowSize() {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) size = {};
  return size;
}

// Signals arrive through a signalfd read by a thread of its own, so nothing runs
// in signal context; the thread hands each one to the session as a message.
class TSignalWatcher {
 public:
  TSignalWatcher(const sigset_t& signals, std::function<void(int)> onSignal)
      : onSignal_(std::move(onSignal)) {
    signalFd_ = signalfd(-1, &signals, SFD_CLOEXEC);
    if (pipe2(stopPipe_, O_CLOEXEC) != 0) stopPipe_[0] = stopPipe_[1] = -1;
    if (signalFd_ >= 0 && stopPipe_[0] >= 0) thread_ = std::thread([this] { Watch(); });
  }
  ~TSignalWatcher() {
    if (thread_.joinable()) {
      const char stop = 0;
      while (write(stopPipe_[1], &stop, 1) < 0 && errno == EINTR) {
      }
      thread_.join();
    }
    for (int fd : {signalFd_, stopPipe_[0], stopPipe_[1]}) {
      if (fd >= 0) close(fd);
    }
  }
  TSignalWatcher(const TSignalWatcher&) = delete;
  TSignalWatcher& operator=(const TSignalWatcher&) = delete;

 private:
  void Watch() {
    for (;;) {
      pollfd fds[2] = {{signalFd_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[1].revents != 0) return;
      signalfd_siginfo info{};
      if (read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        onSignal_(static_cast<int>(info.ssi_signo));
      }
    }
  }

  std::function<void(int)> onSignal_;
  int signalFd_ = -1;
  int stopPipe_[2] = {-1, -1};
  std::thread thread_;
};

}  // namespace

std::string PrivilegeHint(const std::string& programPath) {
  return "Tracing needs the right to open ICMP sockets: run it as root, or grant it with "
         "'setcap cap_net_raw+ep " +
         programPath +
         "', or allow ICMP datagram sockets for your group with the sysctl "
         "net.ipv4.ping_group_range.";
}

TTerminalSession::TTerminalSession(TTerminalIo io, TFormFiles files, bool json)
    : io_(std::move(io)), files_(std::move(files)), json_(json), view_(io_) {
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

bool TTerminalSession::WorkersBusy() const {
  return form_ && form_->WorkersUnderWay();
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
  if (json_) {
    io_.Out(RenderJson(SnapshotOf(*form_)));
  } else if (io_.Live) {
    view_.Finish();
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

int RunTerminal(const std::vector<std::string>& parameters, bool json) {
  sigset_t signals;
  sigemptyset(&signals);
  for (int signo : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, signo);
  // Blocked before any worker exists, so every thread inherits the mask and the
  // watcher alone receives them.
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  // A closed pipe on the output must not end the program before the cache is saved.
  std::signal(SIGPIPE, SIG_IGN);

  TTerminalIo io;
  io.Out = [](std::string_view text) { WriteAll(STDOUT_FILENO, text); };
  io.Err = [](std::string_view text) { WriteAll(STDERR_FILENO, text); };
  const char* term = std::getenv("TERM");
  io.Live = !json && isatty(STDOUT_FILENO) == 1 && term != nullptr && *term != '\0' &&
            std::string_view(term) != "dumb";
  io.Color = io.Live && std::getenv("NO_COLOR") == nullptr;
  io.Columns = [] {
    const winsize size = WindowSize();
    return size.ws_col > 0 ? static_cast<int>(size.ws_col) : 80;
  };
  io.Rows = [] {
    const winsize size = WindowSize();
    return size.ws_row > 0 ? static_cast<int>(size.ws_row) : 24;
  };

  TTerminalSession session(io, DefaultFormFiles(), json);
  const std::string path = ExecutablePath();
  if (!path.empty()) session.SetProgramPath(path);
  int status = ExitFailure;
  {
    TSignalWatcher watcher(signals, [&session](int signo) { session.Signal(signo); });
    status = session.Run(parameters);
  }
  if (session.WorkersBusy()) {
    // Probes beyond the route's end or lookups still under way: their results
    // are of no use any more, and waiting for them could take seconds.
    std::fflush(nullptr);
    std::_Exit(status);
  }
  return status;
}

}  // namespace quillon
