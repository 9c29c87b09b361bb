// The terminal front end on Linux: the standard descriptors, the terminal's
// size, and signals read from a signalfd.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <thread>

#include "cli/TerminalSession.h"
#include "platform/ExecutablePath.h"
#include "trace/StateFiles.h"

namespace quillon {
namespace {

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

int RunTerminal(const TCliOptions& options) {
  const bool json = options.Json || options.Csv;
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
  io.Live = !json && !options.Report && isatty(STDOUT_FILENO) == 1 && term != nullptr &&
            *term != '\0' && std::string_view(term) != "dumb";
  io.Color = io.Live && std::getenv("NO_COLOR") == nullptr;
  io.Columns = [] {
    const winsize size = WindowSize();
    return size.ws_col > 0 ? static_cast<int>(size.ws_col) : 80;
  };
  io.Rows = [] {
    const winsize size = WindowSize();
    return size.ws_row > 0 ? static_cast<int>(size.ws_row) : 24;
  };

  TTerminalSession session(io, DefaultFormFiles(), options);
  const std::string path = ExecutablePath();
  if (!path.empty()) session.SetProgramPath(path);
  int status = ExitFailure;
  {
    TSignalWatcher watcher(signals, [&session](int signo) { session.Signal(signo); });
    status = session.Run(options.Parameters);
  }
  // Probes beyond the route's end or lookups may still be under way.
  return ExitWithoutWaitingForWorkers(session.Form(), status);
}

}  // namespace quillon
