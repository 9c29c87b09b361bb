// quillon_delaylink: a point-to-point link with a fixed one-way delay between two
// network namespaces, for the lab (the kernel's own delay queue is not available
// on our test machines).
//
// It creates a TUN device in each namespace and copies every packet read from one
// to the other once the delay has passed, in both directions. The devices belong
// to this process: when it ends, however it ends, the kernel removes them, so the
// link goes away with it. Packets leave in arrival order; a direction holding
// kMaxQueued packets drops new ones, as a full link would.
//
//   quillon_delaylink --ns-a NS --dev-a NAME --ns-b NS --dev-b NAME --delay MS
//                     [--ready FILE] [--watch-pid PID]
//
// NS is a name under /run/netns (as made by `ip netns add`) or a path. --ready
// names a file written once both devices exist; --watch-pid ends the link when
// that process is gone, so a lab whose owner died does not keep running.
#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxQueued = 4096;
constexpr std::size_t kMaxPacket = 65536;
constexpr auto kWatchInterval = std::chrono::milliseconds(500);

struct Options {
  std::string NamespaceA, DeviceA, NamespaceB, DeviceB, ReadyFile;
  int DelayMs = -1;
  pid_t WatchPid = 0;
};

[[noreturn]] void Usage(const std::string& why) {
  std::fprintf(stderr,
               "quillon_delaylink: %s\n"
               "usage: quillon_delaylink --ns-a NS --dev-a NAME --ns-b NS --dev-b NAME "
               "--delay MS [--ready FILE] [--watch-pid PID]\n",
               why.c_str());
  std::exit(2);
}

int ParseNumber(const std::string& text, const char* what, long low, long high) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high) {
    Usage(std::string("bad ") + what + ": '" + text + "'");
  }
  return static_cast<int>(value);
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (i + 1 >= argc) Usage("missing value after " + name);
    const std::string value = argv[++i];
    if (name == "--ns-a") {
      options.NamespaceA = value;
    } else if (name == "--dev-a") {
      options.DeviceA = value;
    } else if (name == "--ns-b") {
      options.NamespaceB = value;
    } else if (name == "--dev-b") {
      options.DeviceB = value;
    } else if (name == "--delay") {
      options.DelayMs = ParseNumber(value, "delay", 0, 60000);
    } else if (name == "--ready") {
      options.ReadyFile = value;
    } else if (name == "--watch-pid") {
      options.WatchPid = ParseNumber(value, "pid", 1, 0x3fffffff);
    } else {
      Usage("unknown option " + name);
    }
  }
  if (options.NamespaceA.empty() || options.NamespaceB.empty()) Usage("both namespaces needed");
  for (const auto* device : {&options.DeviceA, &options.DeviceB}) {
    if (device->empty() || device->size() >= IFNAMSIZ) Usage("bad device name '" + *device + "'");
  }
  if (options.DelayMs < 0) Usage("--delay needed");
  return options;
}

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

void EnterNamespace(const std::string& name) {
  const std::string path = name.find('/') == std::string::npos ? "/run/netns/" + name : name;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Fail("open " + path);
  const int result = ::setns(fd, CLONE_NEWNET);
  ::close(fd);
  if (result != 0) Fail("setns " + path);
}

// A TUN device (IP packets, no extra header) in the namespace this thread is in.
int OpenTun(const std::string& device) {
  const int fd = ::open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) Fail("open /dev/net/tun");
  ifreq request{};
  request.ifr_flags = IFF_TUN | IFF_NO_PI;
  std::strncpy(request.ifr_name, device.c_str(), IFNAMSIZ - 1);
  if (::ioctl(fd, TUNSETIFF, &request) != 0) Fail("create TUN device " + device);
  return fd;
}

struct Packet {
  Clock::time_point Due;
  std::vector<std::uint8_t> Bytes;
};

// One direction of the link: what is read from `From` goes to `To` after the delay.
struct Direction {
  int From = -1;
  int To = -1;
  std::deque<Packet> Queue;
  std::uint64_t Dropped = 0;

  void ReadAll(Clock::time_point due, std::vector<std::uint8_t>& buffer) {
    for (;;) {
      const ssize_t count = ::read(From, buffer.data(), buffer.size());
      if (count < 0) {
        if (errno == EAGAIN || errno == EINTR) return;
        Fail("read");
      }
      if (Queue.size() >= kMaxQueued) {
        ++Dropped;
        continue;
      }
      Queue.push_back({due, {buffer.begin(), buffer.begin() + count}});
    }
  }

  void SendDue(Clock::time_point now) {
    while (!Queue.empty() && Queue.front().Due <= now) {
      const auto& bytes = Queue.front().Bytes;
      // A TUN write takes the whole packet or fails (device down, malformed
      // packet); a failed one is lost, as on a real link.
      if (::write(To, bytes.data(), bytes.size()) < 0) ++Dropped;
      Queue.pop_front();
    }
  }
};

volatile sig_atomic_t gStop = 0;
void OnStopSignal(int) {
  gStop = 1;
}

bool WatchedProcessGone(pid_t pid) {
  return pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH;
}

int Run(const Options& options) {
  EnterNamespace(options.NamespaceA);
  const int tunA = OpenTun(options.DeviceA);
  EnterNamespace(options.NamespaceB);
  const int tunB = OpenTun(options.DeviceB);
  if (!options.ReadyFile.empty()) {
    std::ofstream(options.ReadyFile) << "ready " << ::getpid() << '\n';
  }

  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGHUP, &action, nullptr);

  const auto delay = std::chrono::milliseconds(options.DelayMs);
  Direction forward{tunA, tunB, {}, 0};
  Direction backward{tunB, tunA, {}, 0};
  std::vector<std::uint8_t> buffer(kMaxPacket);
  auto nextWatch = Clock::now() + kWatchInterval;

  while (gStop == 0) {
    auto now = Clock::now();
    if (now >= nextWatch) {
      if (WatchedProcessGone(options.WatchPid)) break;
      nextWatch = now + kWatchInterval;
    }
    Clock::time_point wake = nextWatch;
    for (const auto* direction : {&forward, &backward}) {
      if (!direction->Queue.empty() && direction->Queue.front().Due < wake) {
        wake = direction->Queue.front().Due;
      }
    }
    const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(
        wake > now ? wake - now : Clock::duration::zero());
    timespec timeout{static_cast<time_t>(wait.count() / 1000000000),
                     static_cast<long>(wait.count() % 1000000000)};
    pollfd fds[2] = {{tunA, POLLIN, 0}, {tunB, POLLIN, 0}};
    const int ready = ::ppoll(fds, 2, &timeout, nullptr);
    if (ready < 0 && errno != EINTR) Fail("ppoll");
    now = Clock::now();
    if (ready > 0) {
      if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 ||
          (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
        throw std::runtime_error("a TUN device went away");
      }
      if ((fds[0].revents & POLLIN) != 0) forward.ReadAll(now + delay, buffer);
      if ((fds[1].revents & POLLIN) != 0) backward.ReadAll(now + delay, buffer);
    }
    forward.SendDue(now);
    backward.SendDue(now);
  }
  if (forward.Dropped + backward.Dropped > 0) {
    std::fprintf(stderr, "quillon_delaylink: %llu packets lost (full queue or failed write)\n",
                 static_cast<unsigned long long>(forward.Dropped + backward.Dropped));
  }
  ::close(tunA);
  ::close(tunB);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  try {
    return Run(options);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "quillon_delaylink: %s\n", error.what());
    return 1;
  }
}
