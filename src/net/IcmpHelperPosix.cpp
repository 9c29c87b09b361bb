#include "net/IcmpHelperPosix.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/ExecutablePath.h"

namespace quillon {
namespace {

// Sockets per run: a trace of 30 hops takes two or three runs, and the pool
// never holds so many idle raw sockets that the ICMP they copy weighs.
constexpr int PoolRefill = 16;
// The helper answers at once; a wedged one must not hang the trace.
constexpr int HandOverWaitMs = 5000;
// The helper's exit status when the system refused it the sockets.
constexpr int HelperNotPermitted = 3;

void CloseAll(std::vector<int>& sockets) {
  for (const int socket : sockets) ::close(socket);
  sockets.clear();
}

// True when every descriptor is a raw socket of the family asked for.
bool AllRawSocketsOf(const std::vector<int>& sockets, int family) {
  for (const int socket : sockets) {
    int domain = 0;
    int type = 0;
    socklen_t length = sizeof domain;
    if (getsockopt(socket, SOL_SOCKET, SO_DOMAIN, &domain, &length) != 0 || domain != family)
      return false;
    length = sizeof type;
    if (getsockopt(socket, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_RAW)
      return false;
  }
  return true;
}

std::vector<int> ReceiveSockets(int channel) {
  pollfd ready{channel, POLLIN, 0};
  if (poll(&ready, 1, HandOverWaitMs) <= 0) return {};
  char count = 0;
  iovec part{&count, 1};
  alignas(cmsghdr) std::array<unsigned char, CMSG_SPACE(sizeof(int) * IcmpHelperMaxSockets)>
      control{};
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  message.msg_control = control.data();
  message.msg_controllen = control.size();
  if (recvmsg(channel, &message, MSG_CMSG_CLOEXEC) != 1) return {};
  std::vector<int> sockets;
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
    const std::size_t n = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (std::size_t i = 0; i < n; ++i) {
      int socket = -1;
      std::memcpy(&socket, CMSG_DATA(c) + i * sizeof(int), sizeof socket);
      sockets.push_back(socket);
    }
  }
  if ((message.msg_flags & MSG_CTRUNC) != 0 || sockets.size() != static_cast<unsigned char>(count))
    CloseAll(sockets);
  return sockets;
}

// Packets that a pooled socket copied while it waited were meant for no one
// here: the socket starts as empty as a newly opened one.
void DropWaitingDatagrams(int socket) {
  std::array<unsigned char, 1> byte{};
  for (int i = 0; i < 1024 && recv(socket, byte.data(), byte.size(), MSG_DONTWAIT) >= 0; ++i) {
  }
}

}  // namespace

std::filesystem::path IcmpHelperPath(const std::filesystem::path& program) {
  return (program.parent_path() / QUILLON_ICMP_HELPER).lexically_normal();
}

TIcmpHelperRun RunIcmpHelper(const std::filesystem::path& helper, TIcmpSocketKind kind, int count) {
  TIcmpHelperRun run;
  int channel[2] = {-1, -1};
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, channel) != 0) return run;
  // Its standard input is its end of the channel; it gets no environment, and
  // its own messages are for a person running it by hand.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, channel[1], STDIN_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  const std::string path = helper.string();
  std::vector<std::string> words = IcmpHelperRequestWords(kind, count);
  std::vector<char*> argv = {const_cast<char*>(path.c_str())};
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  char* noEnvironment[] = {nullptr};
  pid_t child = -1;
  const int spawned =
      posix_spawn(&child, path.c_str(), &actions, nullptr, argv.data(), noEnvironment);
  posix_spawn_file_actions_destroy(&actions);
  ::close(channel[1]);
  if (spawned == 0) {
    run.Sockets = ReceiveSockets(channel[0]);
    int status = 0;
    if (run.Sockets.empty()) kill(child, SIGKILL);  // a no-op when it has already ended
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    run.ExitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (run.ExitStatus != 0) CloseAll(run.Sockets);
  }
  ::close(channel[0]);
  return run;
}

TIdStackSocketHandle OpenIcmpSocketFromHelper(int family) {
  if (family != AF_INET && family != AF_INET6) {
    errno = EAFNOSUPPORT;
    return -1;
  }
  static std::mutex lock;
  static std::array<std::vector<int>, 2> pools;
  const std::lock_guard<std::mutex> guard(lock);
  std::vector<int>& pool = pools[family == AF_INET6 ? 1 : 0];
  if (pool.empty()) {
    const std::filesystem::path helper = IcmpHelperPath(ExecutablePath());
    if (::access(helper.c_str(), X_OK) != 0) return -1;  // not installed: errno says why
    TIcmpHelperRun run = RunIcmpHelper(
        helper, family == AF_INET6 ? TIcmpSocketKind::Icmp6 : TIcmpSocketKind::Icmp4, PoolRefill);
    if (run.Sockets.empty() || !AllRawSocketsOf(run.Sockets, family)) {
      CloseAll(run.Sockets);
      errno = run.ExitStatus == HelperNotPermitted ? EPERM : EACCES;
      return -1;
    }
    pool = std::move(run.Sockets);
  }
  const int socket = pool.back();
  pool.pop_back();
  DropWaitingDatagrams(socket);
  return socket;
}

}  // namespace quillon
