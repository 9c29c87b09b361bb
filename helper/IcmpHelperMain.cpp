// quillon-icmp-helper sends ICMP echo requests for the Quillon process that
// started it and tells it about their answers. It is the one part of Quillon
// given CAP_NET_RAW (or setuid root where the file system keeps no
// capabilities), so it opens its one raw socket, gives up every privilege, and
// from then on keeps the socket to itself: the caller names a destination, a
// TTL and echo data (IcmpHelperRequest.h), the helper builds the request with
// its own identifier and sequence number, and of all the raw socket sees it
// passes on only the answers to that caller's probes, as text.
//
// Structure: one poll over standard input and the socket, bounded by the
// soonest deadline of the probe table (a time-out, or the rate's next send);
// no thread per probe. It serves until standard input closes or its output
// hangs up, and then ends at once: outstanding probes are no one's any more.
#include <linux/capability.h>
#include <linux/filter.h>
#include <linux/icmp.h>
#include <linux/seccomp.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "IcmpHelperFilter.h"
#include "IcmpHelperRequest.h"

namespace {

using namespace quillon;
using enum TIcmpHelperAnswerKind;

// Datagrams read per wake-up, so that a flood on the socket cannot starve the caller.
constexpr int kReadsPerWake = 256;
// The largest answer a probe can get: an echo reply with the most data behind
// an IPv4 header with every option.
constexpr int kLargestAnswer = 60 + 8 + static_cast<int>(IcmpHelperMaxData);

int Fail(int status, const std::string& message) {
  const std::string line = "quillon-icmp-helper: " + message + "\n";
  [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, line.data(), line.size());
  return status;
}

// Gives up the root identity of a setuid run and every capability, for good,
// and checks that none is left; then no exec may regain any, and no one but
// root may read its memory or take its descriptors through /proc.
bool DropPrivileges() {
  const gid_t gid = getgid();
  const uid_t uid = getuid();
  if (setresgid(gid, gid, gid) != 0 || setresuid(uid, uid, uid) != 0) return false;
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct caps[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capset, &header, caps) != 0) return false;
  if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0) return false;
  if (syscall(SYS_capget, &header, caps) != 0) return false;
  for (const auto& part : caps) {
    if (part.effective != 0 || part.permitted != 0 || part.inheritable != 0) return false;
  }
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;  // the sanitizers' runtimes make calls of their own
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// The system calls the service loop makes, with the arguments it passes, and
// no other: anything else ends the process (IcmpHelperFilter.h).
bool RestrictSystemCalls(TIcmpHelperFamily family, int socket) {
  if (kSanitized) return true;
  const std::vector<sock_filter> program = IcmpHelperSystemCallFilter(family, socket);
  if (program.empty()) return false;
  const sock_fprog filter{static_cast<unsigned short>(program.size()),
                          const_cast<sock_filter*>(program.data())};
  return prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter, 0, 0) == 0;
}

// Only the answers a probe can get pass the kernel's filters: by type, and
// then only those that carry this helper's identifier (IcmpHelperAnswerFilter),
// locked on the socket; its receive buffer holds what 128 probes can get back.
// What arrived before the filter was in place is dropped.
bool FilterAnswers(int socket, TIcmpHelperFamily family, std::uint16_t identifier) {
  const TIcmpHelperTypes types = IcmpHelperTypes(family);
  int set = 0;
  if (family == TIcmpHelperFamily::Ip6) {
    icmp6_filter filter;
    ICMP6_FILTER_SETBLOCKALL(&filter);
    ICMP6_FILTER_SETPASS(types.EchoReply, &filter);
    ICMP6_FILTER_SETPASS(types.Unreachable, &filter);
    ICMP6_FILTER_SETPASS(types.TimeExceeded, &filter);
    const int on = 1;
    set |= setsockopt(socket, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter) |
           setsockopt(socket, IPPROTO_IPV6, IPV6_RECVHOPLIMIT, &on, sizeof on);
  } else {
    icmp_filter filter{
        ~((1u << types.EchoReply) | (1u << types.Unreachable) | (1u << types.TimeExceeded))};
    set |= setsockopt(socket, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
  }
  const std::vector<sock_filter> program = IcmpHelperAnswerFilter(family, identifier);
  const sock_fprog answers{static_cast<unsigned short>(program.size()),
                           const_cast<sock_filter*>(program.data())};
  const int on = 1;
  // The kernel doubles the size asked for, for its bookkeeping.
  const int buffer = IcmpHelperMaxOutstanding * kLargestAnswer;
  set |= setsockopt(socket, SOL_SOCKET, SO_ATTACH_FILTER, &answers, sizeof answers) |
         setsockopt(socket, SOL_SOCKET, SO_LOCK_FILTER, &on, sizeof on) |
         setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
  std::uint8_t discard[64];
  while (recv(socket, discard, sizeof discard, MSG_DONTWAIT) >= 0) {
  }
  return set == 0;
}

std::int64_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1'000'000;
}

std::uint16_t Get16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>(at[0] << 8 | at[1]);
}
void Put16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 8);
  at[1] = static_cast<std::uint8_t>(value & 0xFF);
}

std::uint16_t Checksum(const std::vector<std::uint8_t>& bytes) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < bytes.size(); i += 2)
    sum += static_cast<std::uint32_t>(bytes[i] << 8 | (i + 1 < bytes.size() ? bytes[i + 1] : 0));
  while ((sum >> 16) != 0) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

struct TProbe {
  TIcmpHelperRequest Request;
  std::uint16_t Sequence = 0;
  bool Sent = false;
  std::int64_t Deadline = 0;  // once sent
};

class TService {
 public:
  TService(int socket, TIcmpHelperFamily family, std::uint16_t identifier, std::uint16_t sequence)
      : socket_(socket), family_(family), identifier_(identifier), nextSequence_(sequence) {}

  int Run();

 private:
  bool V6() const { return family_ == TIcmpHelperFamily::Ip6; }
  void Answer(const TIcmpHelperAnswer& answer);
  void ReadInput();
  void Handle(std::string_view line);
  std::string_view Support(std::string_view feature) const;
  void SendDue(std::int64_t now);
  void Send(TProbe& probe, std::int64_t now);
  void ExpireDue(std::int64_t now);
  int WaitMs(std::int64_t now) const;
  void ReadAnswers();
  void Match(const std::uint8_t* message, std::size_t length, const TIcmpHelperAddress& from,
             std::uint8_t ttl);
  std::vector<TProbe>::iterator FindSent(std::uint16_t sequence, const std::uint8_t* destination);

  int socket_;
  TIcmpHelperFamily family_;
  std::uint16_t identifier_;
  std::uint16_t nextSequence_;
  std::vector<TProbe> probes_;  // the probe table, in the order asked
  double tokens_ = IcmpHelperRateBurst;
  std::int64_t refilled_ = NowMs();
  std::string input_;
  bool skipping_ = false;  // the rest of an overlong line
  bool inputClosed_ = false;
  bool outputClosed_ = false;  // hung up, or a write failed
};

void TService::Answer(const TIcmpHelperAnswer& answer) {
  const std::string line = FormatIcmpHelperAnswer(answer) + "\n";
  for (std::size_t done = 0; done < line.size() && !outputClosed_;) {
    const ssize_t n = write(STDOUT_FILENO, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      outputClosed_ = true;  // the caller is gone: nothing left to serve
    else
      done += static_cast<std::size_t>(n);
  }
}

std::string_view TService::Support(std::string_view feature) const {
  static const std::string version = std::to_string(IcmpHelperProtocolVersion);
  if (feature == "version") return version;
  if (feature == "send-probe" || feature == "cancel-probe") return "ok";
  if (feature == IcmpHelperFamilyWord(family_)) return "ok";
  return "no";
}

void TService::Handle(std::string_view line) {
  const TIcmpHelperParsedRequest parsed = ParseIcmpHelperRequest(line);
  const TIcmpHelperRequest& request = parsed.Request;
  if (parsed.Error != TIcmpHelperError::None) {
    Answer(IcmpHelperRefusal(request.Token, parsed.Error));
    return;
  }
  const auto same = [&request](const TProbe& probe) {
    return probe.Request.Token == request.Token;
  };
  switch (request.Command) {
    case TIcmpHelperCommand::CheckSupport: {
      TIcmpHelperAnswer answer;
      answer.Token = request.Token;
      answer.Kind = FeatureSupport;
      SetIcmpHelperWord(answer.Support, Support(IcmpHelperWord(request.Feature)));
      Answer(answer);
      return;
    }
    case TIcmpHelperCommand::CancelProbe:
      // Its answer, if one comes, is no one's any more.
      std::erase_if(probes_, same);
      return;
    case TIcmpHelperCommand::SendProbe:
      break;
  }
  if (request.Destination.Family != family_ || std::any_of(probes_.begin(), probes_.end(), same)) {
    Answer(IcmpHelperRefusal(request.Token, TIcmpHelperError::InvalidArgument));
    return;
  }
  if (probes_.size() >= static_cast<std::size_t>(IcmpHelperMaxOutstanding)) {
    Answer(IcmpHelperRefusal(request.Token, TIcmpHelperError::ProbesExhausted));
    return;
  }
  TProbe probe;
  probe.Request = request;
  // A sequence number no outstanding probe holds, so that every answer names one probe.
  do {
    probe.Sequence = nextSequence_++;
  } while (std::any_of(probes_.begin(), probes_.end(),
                       [&probe](const TProbe& p) { return p.Sequence == probe.Sequence; }));
  probes_.push_back(probe);
}

void TService::ReadInput() {
  char buffer[4096];
  const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (n <= 0) {
    inputClosed_ = true;
    return;
  }
  input_.append(buffer, static_cast<std::size_t>(n));
  for (std::size_t end; (end = input_.find('\n')) != std::string::npos;) {
    if (end > IcmpHelperMaxLine && !skipping_) {
      Answer(IcmpHelperRefusal(0, TIcmpHelperError::InvalidArgument));
    } else if (!skipping_) {
      Handle(std::string_view(input_).substr(0, end));
    }
    skipping_ = false;
    input_.erase(0, end + 1);
  }
  if (input_.size() > IcmpHelperMaxLine) {
    // No request is that long: refused once, and skipped to its end.
    if (!skipping_) Answer(IcmpHelperRefusal(0, TIcmpHelperError::InvalidArgument));
    skipping_ = true;
    input_.clear();
  }
}

void TService::Send(TProbe& probe, std::int64_t now) {
  const TIcmpHelperRequest& request = probe.Request;
  std::vector<std::uint8_t> message(8 + request.Data.Length);
  message[0] = IcmpHelperTypes(family_).Echo;
  Put16(&message[4], identifier_);
  Put16(&message[6], probe.Sequence);
  std::copy_n(request.Data.Bytes.begin(), request.Data.Length, message.begin() + 8);
  // The kernel fills in ICMPv6's checksum, whose pseudo-header holds our address.
  if (!V6()) Put16(&message[2], Checksum(message));

  const int ttl = request.Ttl;
  sockaddr_storage target{};
  socklen_t targetLength = 0;
  int set = 0;
  if (V6()) {
    set = setsockopt(socket_, IPPROTO_IPV6, IPV6_UNICAST_HOPS, &ttl, sizeof ttl);
    auto* to = reinterpret_cast<sockaddr_in6*>(&target);
    to->sin6_family = AF_INET6;
    std::memcpy(&to->sin6_addr, request.Destination.Bytes.data(), 16);
    to->sin6_scope_id = request.ScopeId;
    targetLength = sizeof(sockaddr_in6);
  } else {
    set = setsockopt(socket_, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);
    auto* to = reinterpret_cast<sockaddr_in*>(&target);
    to->sin_family = AF_INET;
    std::memcpy(&to->sin_addr, request.Destination.Bytes.data(), 4);
    targetLength = sizeof(sockaddr_in);
  }
  if (set == 0 && sendto(socket_, message.data(), message.size(), 0,
                         reinterpret_cast<const sockaddr*>(&target), targetLength) >= 0) {
    probe.Sent = true;
    probe.Deadline = now + request.TimeoutMs;
    return;
  }
  TIcmpHelperAnswer failed;
  failed.Token = request.Token;
  failed.Kind = SendFailed;
  failed.Errno = errno != 0 ? errno : EIO;
  Answer(failed);
  probe.Request.Token = 0;  // removed by the caller
}

// Probes go in the order asked, as fast as the rate allows.
void TService::SendDue(std::int64_t now) {
  tokens_ = std::min<double>(IcmpHelperRateBurst, tokens_ + static_cast<double>(now - refilled_) *
                                                                IcmpHelperRatePerSecond / 1000.0);
  refilled_ = now;
  for (TProbe& probe : probes_) {
    if (probe.Sent) continue;
    if (tokens_ < 1.0) break;
    tokens_ -= 1.0;
    Send(probe, now);
  }
  std::erase_if(probes_, [](const TProbe& probe) { return probe.Request.Token == 0; });
}

void TService::ExpireDue(std::int64_t now) {
  std::erase_if(probes_, [this, now](const TProbe& probe) {
    if (!probe.Sent || probe.Deadline > now) return false;
    TIcmpHelperAnswer answer;
    answer.Token = probe.Request.Token;
    answer.Kind = NoReply;
    Answer(answer);
    return true;
  });
}

int TService::WaitMs(std::int64_t now) const {
  std::int64_t wait = -1;
  for (const TProbe& probe : probes_) {
    // A probe still waiting for the rate can go once a token has grown back.
    const std::int64_t due = probe.Sent ? probe.Deadline - now : 1 + 1000 / IcmpHelperRatePerSecond;
    wait = wait < 0 ? due : std::min(wait, due);
  }
  return wait < 0 ? -1 : static_cast<int>(std::max<std::int64_t>(wait, 0));
}

std::vector<TProbe>::iterator TService::FindSent(std::uint16_t sequence,
                                                 const std::uint8_t* destination) {
  const std::size_t size = V6() ? 16 : 4;
  return std::find_if(probes_.begin(), probes_.end(), [&](const TProbe& probe) {
    return probe.Sent && probe.Sequence == sequence &&
           std::memcmp(probe.Request.Destination.Bytes.data(), destination, size) == 0;
  });
}

// message: the ICMP or ICMPv6 message. An echo reply is ours when it comes
// from a probe's destination with our identifier, that probe's sequence number
// and its very data (anyone can guess the numbers: 16 bits each, and a caller
// moves the sequence at will); an unreachable or time-exceeded message when the
// request it quotes is one of our probes, to that probe's destination. Anything
// else this raw socket sees is someone else's and goes no further.
void TService::Match(const std::uint8_t* message, std::size_t length,
                     const TIcmpHelperAddress& from, std::uint8_t ttl) {
  if (length < 8) return;
  const TIcmpHelperTypes types = IcmpHelperTypes(family_);
  const std::uint8_t type = message[0];
  TIcmpHelperAnswer answer;
  answer.From = from;
  answer.Ttl = ttl;
  std::vector<TProbe>::iterator probe = probes_.end();
  if (type == types.EchoReply) {
    if (message[1] != 0 || Get16(message + 4) != identifier_) return;
    probe = FindSent(Get16(message + 6), from.Bytes.data());
    if (probe == probes_.end()) return;
    const TIcmpHelperData& data = probe->Request.Data;
    if (length - 8 != data.Length || !std::equal(message + 8, message + length, data.Bytes.begin()))
      return;
    answer.Kind = EchoReply;
    answer.Data = data;
  } else if (types.IsError(type)) {
    const std::uint8_t* quoted = message + 8;
    const std::size_t quotedLength = length - 8;
    const std::uint8_t* request = nullptr;
    const std::uint8_t* destination = nullptr;
    if (V6()) {
      if (quotedLength < 48 || (quoted[0] >> 4) != 6 || quoted[6] != IPPROTO_ICMPV6) return;
      destination = quoted + 24;
      request = quoted + 40;
    } else {
      const std::size_t header = (quoted[0] & 0x0F) * 4u;
      if (quotedLength < 28 || (quoted[0] >> 4) != 4 || header < 20 || quotedLength < header + 8 ||
          quoted[9] != IPPROTO_ICMP)
        return;
      destination = quoted + 16;
      request = quoted + header;
    }
    if (request[0] != types.Echo || Get16(request + 4) != identifier_) return;
    probe = FindSent(Get16(request + 6), destination);
    answer.Kind = IcmpError;
    answer.Type = type;
    answer.Code = message[1];
  } else {
    return;
  }
  if (probe == probes_.end()) return;
  answer.Token = probe->Request.Token;
  probes_.erase(probe);
  Answer(answer);
}

void TService::ReadAnswers() {
  for (int i = 0; i < kReadsPerWake; ++i) {
    std::uint8_t datagram[2048];
    alignas(cmsghdr) std::uint8_t control[128];
    sockaddr_in6 peer{};
    iovec part{datagram, sizeof datagram};
    msghdr header{};
    header.msg_name = &peer;
    header.msg_namelen = sizeof peer;
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(socket_, &header, MSG_DONTWAIT);
    if (n < 0) return;  // EAGAIN, or an error report: nothing of ours
    const auto length = std::min(static_cast<std::size_t>(n), sizeof datagram);
    TIcmpHelperAddress from;
    from.Family = family_;
    if (V6()) {
      std::memcpy(from.Bytes.data(), &peer.sin6_addr, 16);
      std::uint8_t hopLimit = 64;  // when the kernel did not say
      for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
        if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_HOPLIMIT) {
          int value = 0;
          std::memcpy(&value, CMSG_DATA(c), sizeof value);
          hopLimit = static_cast<std::uint8_t>(value);
        }
      }
      Match(datagram, length, from, hopLimit);
    } else {
      // A raw IPv4 socket hands over the IP header too.
      const std::size_t header4 = (datagram[0] & 0x0F) * 4u;
      if (length < 20 || header4 < 20 || length < header4) continue;
      std::memcpy(from.Bytes.data(), datagram + 12, 4);
      Match(datagram + header4, length - header4, from, datagram[8]);
    }
  }
}

int TService::Run() {
  for (;;) {
    const std::int64_t now = NowMs();
    SendDue(now);
    ExpireDue(now);
    if (outputClosed_ || inputClosed_) return 0;
    // The output is watched too: a caller that has gone may leave the input
    // open in another process, but no one reads the answers any more.
    pollfd ready[3] = {{socket_, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}, {STDOUT_FILENO, 0, 0}};
    if (poll(ready, 3, WaitMs(now)) < 0) {
      if (errno == EINTR) continue;
      return Fail(IcmpHelperExitFailed, std::string("poll: ") + std::strerror(errno));
    }
    if ((ready[2].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) outputClosed_ = true;
    if ((ready[0].revents & (POLLIN | POLLERR)) != 0) ReadAnswers();
    if ((ready[1].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0) ReadInput();
  }
}

}  // namespace

int main(int argc, char** argv) {
  TIcmpHelperFamily family{};
  if (argc != 2 || !ParseIcmpHelperFamily(argv[1], family)) {
    DropPrivileges();
    return Fail(IcmpHelperExitBadRequest,
                "refused: expected one word, ip-4 or ip-6\n"
                "usage: quillon-icmp-helper ip-4|ip-6, serving probe requests on standard input");
  }
  if (!kSanitized && !IcmpHelperHasSystemCallList()) {
    DropPrivileges();
    return Fail(IcmpHelperExitFailed, "refused: no system-call list for this architecture");
  }
  const bool v6 = family == TIcmpHelperFamily::Ip6;
  const int socket =
      ::socket(v6 ? AF_INET6 : AF_INET, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK,
               v6 ? static_cast<int>(IPPROTO_ICMPV6) : static_cast<int>(IPPROTO_ICMP));
  if (socket < 0) {
    const int error = errno;
    DropPrivileges();
    return Fail(
        error == EPERM || error == EACCES ? IcmpHelperExitNotPermitted : IcmpHelperExitFailed,
        std::string("cannot open a raw ICMP socket: ") + std::strerror(error));
  }
  std::uint16_t seeds[2] = {};
  if (getrandom(seeds, sizeof seeds, 0) != sizeof seeds) {
    DropPrivileges();
    return Fail(IcmpHelperExitFailed, "no random identifier");
  }
  if (!FilterAnswers(socket, family, seeds[0])) {
    DropPrivileges();
    return Fail(IcmpHelperExitFailed, "cannot filter the socket's messages");
  }
  if (!DropPrivileges()) return Fail(IcmpHelperExitFailed, "cannot give up its privileges");
  // A caller that has gone away ends the service through a failed write.
  std::signal(SIGPIPE, SIG_IGN);
  if (!RestrictSystemCalls(family, socket)) {
    return Fail(IcmpHelperExitFailed, "cannot restrict its system calls");
  }
  return TService(socket, family, seeds[0], seeds[1]).Run();
}
