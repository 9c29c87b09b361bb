#include "net/IcmpHelperPosix.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "net/IcmpDatagram.h"
#include "net/IdStackPosix.h"
#include "platform/ExecutablePath.h"

namespace quillon {
namespace {

// The helper answers its version check at once; a wedged one must not hang the trace.
constexpr int kStartWaitMs = 5000;
// Token 1 is the version check's; probes count on from here.
constexpr std::uint32_t kFirstProbeToken = 2;
constexpr std::uint32_t kLastToken = 0x7FFFFFFF;

// A socket handle of the stack that the helper serves.
struct TChannel {
  TChannel(int event, bool v6) : Event(event), V6(v6) {}
  ~TChannel() { ::close(Event); }
  TChannel(const TChannel&) = delete;
  TChannel& operator=(const TChannel&) = delete;

  // A rebuilt datagram to read, or with an empty one the socket error a read reports.
  void Deliver(std::vector<std::uint8_t> datagram, std::int32_t error) {
    const std::lock_guard guard(Lock);
    Ready.emplace_back(std::move(datagram), error);
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(Event, &one, sizeof one);
  }
  bool Take(std::vector<std::uint8_t>& datagram, std::int32_t& error) {
    const std::lock_guard guard(Lock);
    if (Ready.empty()) return false;
    datagram = std::move(Ready.front().first);
    error = Ready.front().second;
    Ready.pop_front();
    std::uint64_t count = 0;  // a semaphore: one read, one answer fewer
    [[maybe_unused]] const ssize_t n = ::read(Event, &count, sizeof count);
    return true;
  }

  const int Event;  // the handle; EFD_SEMAPHORE, counting the answers waiting
  const bool V6;
  std::atomic<std::uint8_t> Ttl{128};
  std::mutex Lock;
  std::deque<std::pair<std::vector<std::uint8_t>, std::int32_t>> Ready;  // guarded by Lock
};

// A probe the helper was asked for: whose it is, and what to rebuild its answer from.
struct TPending {
  std::weak_ptr<TChannel> Channel;
  std::vector<std::uint8_t> Request;
  TIcmpHelperAddress Destination;
};

std::vector<std::uint8_t> Rebuild(const TIcmpHelperAnswer& answer, const TPending& probe) {
  const bool reply = answer.Kind == TIcmpHelperAnswerKind::EchoReply;
  const std::span<const std::uint8_t> data(answer.Data.Bytes.data(), answer.Data.Length);
  if (probe.Destination.Family == TIcmpHelperFamily::Ip6) {
    TEcho6Answer echo{reply, answer.Type, answer.Code, {}, answer.Ttl, data};
    TIdIPv6Bytes destination{};
    std::copy_n(answer.From.Bytes.begin(), echo.From.size(), echo.From.begin());
    std::copy_n(probe.Destination.Bytes.begin(), destination.size(), destination.begin());
    return RebuildEchoAnswer(echo, probe.Request, destination);
  }
  TEchoAnswer echo{reply, answer.Type, answer.Code, {}, answer.Ttl, data};
  TIdIPv4Bytes destination{};
  std::copy_n(answer.From.Bytes.begin(), echo.From.size(), echo.From.begin());
  std::copy_n(probe.Destination.Bytes.begin(), destination.size(), destination.begin());
  return RebuildEchoAnswer(echo, probe.Request, destination);
}

// The socket error a read reports for an answer that is no datagram.
std::int32_t AnswerError(const TIcmpHelperAnswer& answer) {
  switch (answer.Kind) {
    case TIcmpHelperAnswerKind::SendFailed:
      return SocketErrorFromErrno(answer.Errno);
    case TIcmpHelperAnswerKind::ProbesExhausted:
      return SocketErrorFromErrno(ENOBUFS);
    default:
      return Id_WSAEINVAL;
  }
}

// The helper of one family for the whole process, and the probes it was asked for.
class THelperClient {
 public:
  explicit THelperClient(TIcmpHelperFamily family) : family_(family) {}

  // A helper runs when this returns true; else errno says why.
  bool Ensure() {
    const std::lock_guard guard(lock_);
    return StartLocked();
  }

  void SetPath(const std::filesystem::path& helper) {
    const std::lock_guard guard(lock_);
    if (process_ != nullptr) process_->Shut();
    process_.reset();
    pending_.clear();
    tokens_.clear();
    path_ = helper;
  }

  int Send(const std::shared_ptr<TChannel>& channel, std::span<const std::uint8_t> request,
           const TIcmpHelperAddress& destination, std::uint32_t scopeId, std::int32_t& error) {
    const std::uint8_t echo = channel->V6 ? Id_ICMPV6_ECHO : Id_ICMP_ECHO;
    // The helper builds the request itself: only its data goes over.
    if (request.size() < static_cast<std::size_t>(Id_ICMP_HEADER_SIZE) || request[0] != echo) {
      error = Id_WSAEINVAL;
      return Id_SOCKET_ERROR;
    }
    const std::span<const std::uint8_t> data = request.subspan(Id_ICMP_HEADER_SIZE);
    if (data.size() > IcmpHelperMaxData) {
      error = Id_WSAEMSGSIZE;
      return Id_SOCKET_ERROR;
    }
    auto asked = std::make_unique<TIcmpHelperRequest>();
    asked->Destination = destination;
    asked->Ttl = channel->Ttl.load();
    asked->ScopeId = scopeId;
    asked->Data.Length = static_cast<std::uint16_t>(data.size());
    std::copy(data.begin(), data.end(), asked->Data.Bytes.begin());

    std::shared_ptr<TIcmpHelperProcess> process;
    {
      const std::lock_guard guard(lock_);
      if (!StartLocked()) {
        error = SocketErrorFromErrno(ENETDOWN);
        return Id_SOCKET_ERROR;
      }
      process = process_;
      asked->Token = nextToken_;
      nextToken_ = nextToken_ == kLastToken ? kFirstProbeToken : nextToken_ + 1;
      pending_[asked->Token] = {channel, {request.begin(), request.end()}, destination};
      tokens_.emplace(channel.get(), asked->Token);
    }
    // Written outside the tables' lock, so that the reader never waits behind
    // a writer that waits for the helper to read.
    if (!Write(*process, FormatIcmpHelperRequest(*asked))) {
      const std::lock_guard guard(lock_);
      pending_.erase(asked->Token);
      EraseToken(channel.get(), asked->Token);
      error = SocketErrorFromErrno(ENETDOWN);
      return Id_SOCKET_ERROR;
    }
    return static_cast<int>(request.size());
  }

  // The channel's probes still out are of no use to anyone now.
  void Cancel(const TChannel& channel) {
    std::vector<std::uint32_t> cancelled;
    std::shared_ptr<TIcmpHelperProcess> process;
    {
      const std::lock_guard guard(lock_);
      const auto [first, last] = tokens_.equal_range(&channel);
      for (auto it = first; it != last; ++it) {
        if (pending_.erase(it->second) == 1) cancelled.push_back(it->second);
      }
      tokens_.erase(first, last);
      process = process_;
    }
    if (process == nullptr) return;
    for (const std::uint32_t token : cancelled)
      Write(*process, std::to_string(token) + " cancel-probe");
  }

 private:
  bool StartLocked() {
    if (process_ != nullptr) return true;
    // Root that may not open a raw socket has been denied it on purpose (a
    // container's bounding set): the helper's capability is not its way round.
    if (path_.empty() && ::geteuid() == 0) {
      errno = EPERM;
      return false;
    }
    const std::filesystem::path helper = path_.empty() ? IcmpHelperPath(ExecutablePath()) : path_;
    if (helper.empty()) {
      errno = EACCES;  // no program path, so no helper we could trust
      return false;
    }
    if (::access(helper.c_str(), X_OK) != 0) return false;  // not installed: errno says why
    int status = -1;
    std::shared_ptr<TIcmpHelperProcess> process =
        TIcmpHelperProcess::Start(helper, family_, status);
    if (process == nullptr) {
      errno = status == IcmpHelperExitNotPermitted ? EPERM : EACCES;
      return false;
    }
    process_ = process;
    std::thread([this, process] { Read(process); }).detach();
    return true;
  }

  // The reader of one helper's answers, on a thread of its own until the helper ends.
  void Read(const std::shared_ptr<TIcmpHelperProcess>& process) {
    std::string line;
    TIcmpHelperAnswer answer;
    while (process->ReadLine(line, -1)) {
      if (!ParseIcmpHelperAnswer(line, answer)) continue;
      TPending probe;
      {
        const std::lock_guard guard(lock_);
        const auto it = pending_.find(answer.Token);
        if (it == pending_.end()) continue;  // cancelled, or no probe of ours
        probe = std::move(it->second);
        pending_.erase(it);
        if (const auto channel = probe.Channel.lock()) EraseToken(channel.get(), answer.Token);
      }
      const std::shared_ptr<TChannel> channel = probe.Channel.lock();
      if (channel == nullptr || answer.Kind == TIcmpHelperAnswerKind::NoReply) continue;
      if (answer.Kind == TIcmpHelperAnswerKind::EchoReply ||
          answer.Kind == TIcmpHelperAnswerKind::IcmpError) {
        if (answer.From.Family == probe.Destination.Family)
          channel->Deliver(Rebuild(answer, probe), 0);
      } else {
        channel->Deliver({}, AnswerError(answer));
      }
    }
    // The helper has gone: its probes will get no answer, and the next one starts another.
    const std::lock_guard guard(lock_);
    if (process_ == process) {
      process_.reset();
      pending_.clear();
      tokens_.clear();
    }
  }

  // One line at a time from all threads: a stream socket would interleave them.
  bool Write(TIcmpHelperProcess& process, const std::string& line) {
    const std::lock_guard guard(writeLock_);
    return process.WriteLine(line);
  }

  void EraseToken(const TChannel* channel, std::uint32_t token) {
    const auto [first, last] = tokens_.equal_range(channel);
    for (auto it = first; it != last; ++it) {
      if (it->second == token) {
        tokens_.erase(it);
        return;
      }
    }
  }

  const TIcmpHelperFamily family_;
  std::mutex writeLock_;  // taken alone, never with lock_
  std::mutex lock_;
  std::filesystem::path path_;                   // guarded by lock_; empty: the installed one
  std::shared_ptr<TIcmpHelperProcess> process_;  // guarded by lock_
  std::map<std::uint32_t, TPending> pending_;    // guarded by lock_
  std::multimap<const TChannel*, std::uint32_t> tokens_;  // guarded by lock_
  std::uint32_t nextToken_ = kFirstProbeToken;            // guarded by lock_
};

// Made once and never freed: their reader threads may outlive main.
THelperClient& Client(bool v6) {
  static THelperClient* const clients[2] = {new THelperClient(TIcmpHelperFamily::Ip4),
                                            new THelperClient(TIcmpHelperFamily::Ip6)};
  return *clients[v6 ? 1 : 0];
}

std::mutex gChannelsLock;
std::map<TIdStackSocketHandle, std::shared_ptr<TChannel>> gChannels;  // guarded by gChannelsLock

std::shared_ptr<TChannel> Find(TIdStackSocketHandle socket) {
  const std::lock_guard guard(gChannelsLock);
  const auto it = gChannels.find(socket);
  return it == gChannels.end() ? nullptr : it->second;
}

template <typename TAddressBytes>
int SendEcho(TIdStackSocketHandle socket, std::span<const std::uint8_t> request,
             const TAddressBytes& destination, std::uint32_t scopeId, std::int32_t& error) {
  const bool v6 = destination.size() == 16;
  const std::shared_ptr<TChannel> channel = Find(socket);
  if (channel == nullptr || channel->V6 != v6) {
    error =
        channel == nullptr ? SocketErrorFromErrno(ENOTSOCK) : SocketErrorFromErrno(EAFNOSUPPORT);
    return Id_SOCKET_ERROR;
  }
  TIcmpHelperAddress address;
  address.Family = v6 ? TIcmpHelperFamily::Ip6 : TIcmpHelperFamily::Ip4;
  std::copy(destination.begin(), destination.end(), address.Bytes.begin());
  return Client(v6).Send(channel, request, address, scopeId, error);
}

}  // namespace

std::filesystem::path IcmpHelperPath(const std::filesystem::path& program) {
  // An installed program trusts only the helper its package installed.
  if (QUILLON_ICMP_HELPER_FIXED) return QUILLON_ICMP_HELPER_INSTALLED;
  // Never a path relative to the current directory, which anyone may have chosen.
  if (!program.is_absolute()) return {};
  return (program.parent_path() / QUILLON_ICMP_HELPER).lexically_normal();
}

std::filesystem::path IcmpHelperHintPath(const std::filesystem::path& program) {
  const std::filesystem::path helper = IcmpHelperPath(program);
  return helper.empty() ? std::filesystem::path(QUILLON_ICMP_HELPER_INSTALLED) : helper;
}

std::unique_ptr<TIcmpHelperProcess> TIcmpHelperProcess::Start(const std::filesystem::path& helper,
                                                              TIcmpHelperFamily family,
                                                              int& status) {
  status = -1;
  int ends[2] = {-1, -1};
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return nullptr;
  // Its standard input and output are its end of the channel; it gets no
  // environment, and its own messages are for a person running it by hand.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[1], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  const std::string path = helper.string();
  std::string word(IcmpHelperFamilyWord(family));
  char* argv[] = {const_cast<char*>(path.c_str()), word.data(), nullptr};
  char* noEnvironment[] = {nullptr};
  pid_t child = -1;
  const int spawned = posix_spawn(&child, path.c_str(), &actions, nullptr, argv, noEnvironment);
  posix_spawn_file_actions_destroy(&actions);
  ::close(ends[1]);
  if (spawned != 0) {
    ::close(ends[0]);
    return nullptr;
  }
  std::unique_ptr<TIcmpHelperProcess> process(new TIcmpHelperProcess(child, ends[0]));
  TIcmpHelperRequest check;
  check.Token = 1;
  check.Command = TIcmpHelperCommand::CheckSupport;
  SetIcmpHelperWord(check.Feature, "version");
  std::string line;
  TIcmpHelperAnswer answer;
  if (process->WriteLine(FormatIcmpHelperRequest(check)) && process->ReadLine(line, kStartWaitMs) &&
      ParseIcmpHelperAnswer(line, answer) && answer.Token == 1 &&
      answer.Kind == TIcmpHelperAnswerKind::FeatureSupport &&
      IcmpHelperWord(answer.Support) == std::to_string(IcmpHelperProtocolVersion)) {
    return process;
  }
  // Another version, or it ended: its status tells which.
  process->Shut();
  int waited = 0;
  pollfd ended{ends[0], POLLIN, 0};
  poll(&ended, 1, 100);
  if (waitpid(child, &waited, WNOHANG) == child) {
    status = WIFEXITED(waited) ? WEXITSTATUS(waited) : -1;
    process->pid_ = -1;
  }
  return nullptr;
}

TIcmpHelperProcess::~TIcmpHelperProcess() {
  Shut();
  ::close(channel_);
  if (pid_ <= 0) return;
  // It would serve its last probes to no one.
  ::kill(pid_, SIGKILL);
  while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
}

void TIcmpHelperProcess::Shut() {
  ::shutdown(channel_, SHUT_RDWR);
}

bool TIcmpHelperProcess::WriteLine(const std::string& line) {
  const std::string whole = line + "\n";
  for (std::size_t done = 0; done < whole.size();) {
    const ssize_t n = ::send(channel_, whole.data() + done, whole.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool TIcmpHelperProcess::ReadLine(std::string& line, int waitMs) {
  for (;;) {
    const std::size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      line.assign(pending_, 0, end);
      pending_.erase(0, end + 1);
      return true;
    }
    if (pending_.size() > IcmpHelperMaxLine) return false;  // no answer is that long
    pollfd ready{channel_, POLLIN, 0};
    const int polled = poll(&ready, 1, waitMs);
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) return false;
    std::array<char, 4096> buffer;
    const ssize_t n = ::recv(channel_, buffer.data(), buffer.size(), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    pending_.append(buffer.data(), static_cast<std::size_t>(n));
  }
}

TIdStackSocketHandle OpenIcmpHelperChannel(int family) {
  if (family != AF_INET && family != AF_INET6) {
    errno = EAFNOSUPPORT;
    return -1;
  }
  const bool v6 = family == AF_INET6;
  if (!Client(v6).Ensure()) return -1;
  const int event = eventfd(0, EFD_SEMAPHORE | EFD_NONBLOCK | EFD_CLOEXEC);
  if (event < 0) return -1;
  const std::lock_guard guard(gChannelsLock);
  gChannels[event] = std::make_shared<TChannel>(event, v6);
  return event;
}

bool IsIcmpHelperChannel(TIdStackSocketHandle socket) {
  return Find(socket) != nullptr;
}

int CloseIcmpHelperChannel(TIdStackSocketHandle socket) {
  std::shared_ptr<TChannel> channel;
  {
    const std::lock_guard guard(gChannelsLock);
    const auto it = gChannels.find(socket);
    if (it == gChannels.end()) return Id_SOCKET_ERROR;
    channel = std::move(it->second);
    gChannels.erase(it);
  }
  Client(channel->V6).Cancel(*channel);
  return 0;  // the handle closes with the last reference
}

void SetIcmpHelperChannelTtl(TIdStackSocketHandle socket, std::uint8_t ttl) {
  if (const auto channel = Find(socket)) channel->Ttl.store(ttl);
}

int SendIcmpHelperEcho(TIdStackSocketHandle socket, std::span<const std::uint8_t> request,
                       const TIdIPv4Bytes& destination, std::int32_t& error) {
  return SendEcho(socket, request, destination, 0, error);
}

int SendIcmpHelperEcho(TIdStackSocketHandle socket, std::span<const std::uint8_t> request,
                       const TIdIPv6Bytes& destination, std::uint32_t scopeId,
                       std::int32_t& error) {
  return SendEcho(socket, request, destination, scopeId, error);
}

int ReceiveIcmpHelper(TIdStackSocketHandle socket, std::span<std::uint8_t> out,
                      std::int32_t& error) {
  const std::shared_ptr<TChannel> channel = Find(socket);
  std::vector<std::uint8_t> datagram;
  std::int32_t failure = 0;
  if (channel == nullptr || !channel->Take(datagram, failure)) {
    error = channel == nullptr ? SocketErrorFromErrno(ENOTSOCK) : Id_WSAEWOULDBLOCK;
    return Id_SOCKET_ERROR;
  }
  if (failure != 0) {
    error = failure;
    return Id_SOCKET_ERROR;
  }
  const std::size_t count = std::min(datagram.size(), out.size());
  std::copy_n(datagram.begin(), count, out.begin());
  return static_cast<int>(count);
}

void SetIcmpHelperForTesting(int family, const std::filesystem::path& helper) {
  Client(family == AF_INET6).SetPath(helper);
}

}  // namespace quillon
