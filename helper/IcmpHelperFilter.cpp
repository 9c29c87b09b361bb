#include "IcmpHelperFilter.h"

#include <linux/audit.h>
#include <linux/seccomp.h>
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/syscall.h>

#include <cstddef>
#include <initializer_list>

namespace quillon {
namespace {

// A classic BPF program with forward jumps to named places, resolved once
// the program is complete.
class TProgram {
 public:
  static constexpr int Next = -1;  // the instruction after the jump

  int Label() {
    places_.push_back(0);
    return static_cast<int>(places_.size()) - 1;
  }
  void Place(int label) { places_[static_cast<std::size_t>(label)] = code_.size(); }
  void Do(std::uint16_t code, std::uint32_t k) { code_.push_back(BPF_STMT(code, k)); }
  void JumpIf(std::uint16_t test, std::uint32_t k, int whenTrue, int whenFalse) {
    jumps_.push_back({code_.size(), whenTrue, whenFalse});
    code_.push_back(BPF_JUMP(BPF_JMP | test | BPF_K, k, 0, 0));
  }
  void Return(std::uint32_t k) { Do(BPF_RET | BPF_K, k); }

  std::vector<sock_filter> Finish() {
    for (const TJump& jump : jumps_) {
      const auto offset = [&](int label) {
        return static_cast<std::uint8_t>(
            label == Next ? 0 : places_[static_cast<std::size_t>(label)] - jump.At - 1);
      };
      code_[jump.At].jt = offset(jump.WhenTrue);
      code_[jump.At].jf = offset(jump.WhenFalse);
    }
    return code_;
  }

 private:
  struct TJump {
    std::size_t At;
    int WhenTrue, WhenFalse;
  };
  std::vector<sock_filter> code_;
  std::vector<std::size_t> places_;
  std::vector<TJump> jumps_;
};

constexpr std::uint32_t kPass = 0xFFFFFFFF;  // the whole datagram
constexpr std::uint32_t kDrop = 0;

}  // namespace

std::vector<sock_filter> IcmpHelperAnswerFilter(TIcmpHelperFamily family,
                                                std::uint16_t identifier) {
  const TIcmpHelperTypes types = IcmpHelperTypes(family);
  TProgram p;
  const int pass = p.Label(), drop = p.Label(), error = p.Label(), quoted = p.Label();
  // A load beyond the datagram's end drops it: a short one is no one's answer.
  // X: where the ICMP message starts, after the IP header and its options on
  // IPv4; an IPv6 raw socket hands up the message alone.
  const bool v6 = family == TIcmpHelperFamily::Ip6;
  p.Do(v6 ? BPF_LDX | BPF_W | BPF_IMM : BPF_LDX | BPF_B | BPF_MSH, 0);
  p.Do(BPF_LD | BPF_B | BPF_IND, 0);
  p.JumpIf(BPF_JEQ, types.EchoReply, TProgram::Next, error);
  p.Do(BPF_LD | BPF_H | BPF_IND, 4);
  p.JumpIf(BPF_JEQ, identifier, pass, drop);
  p.Place(error);
  p.JumpIf(BPF_JEQ, types.Unreachable, quoted, TProgram::Next);
  p.JumpIf(BPF_JEQ, types.TimeExceeded, TProgram::Next, drop);
  p.Place(quoted);
  // The quoted IP header follows the 8-byte ICMP header.
  if (v6) {
    // 40 bytes, with no extension header.
    p.Do(BPF_LD | BPF_B | BPF_IND, 8 + 6);
    p.JumpIf(BPF_JEQ, IPPROTO_ICMPV6, TProgram::Next, drop);
    p.Do(BPF_LDX | BPF_W | BPF_IMM, 40);
  } else {
    // Its own options too.
    p.Do(BPF_LD | BPF_B | BPF_IND, 8 + 9);
    p.JumpIf(BPF_JEQ, IPPROTO_ICMP, TProgram::Next, drop);
    p.Do(BPF_LD | BPF_B | BPF_IND, 8);
    p.Do(BPF_ALU | BPF_AND | BPF_K, 0x0F);
    p.Do(BPF_ALU | BPF_LSH | BPF_K, 2);
    p.Do(BPF_ALU | BPF_ADD | BPF_X, 0);
    p.Do(BPF_MISC | BPF_TAX, 0);
  }
  // X: both headers' lengths; the quoted echo request is at X + 8.
  p.Do(BPF_LD | BPF_B | BPF_IND, 8);
  p.JumpIf(BPF_JEQ, types.Echo, TProgram::Next, drop);
  p.Do(BPF_LD | BPF_H | BPF_IND, 8 + 4);
  p.JumpIf(BPF_JEQ, identifier, pass, drop);
  p.Place(drop);
  p.Return(kDrop);
  p.Place(pass);
  p.Return(kPass);
  return p.Finish();
}

#if defined(__x86_64__)
constexpr std::uint32_t kAuditArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr std::uint32_t kAuditArch = AUDIT_ARCH_AARCH64;
#else
constexpr std::uint32_t kAuditArch = 0;  // no list for this architecture
#endif

bool IcmpHelperHasSystemCallList() {
  return kAuditArch != 0;
}

namespace {

// What one argument of a call may be: one of Values, or, with NoBits set, any
// value with none of those bits. Every checked argument fits 32 bits: its
// upper half must be zero.
struct TArgument {
  unsigned Index;
  std::vector<std::uint32_t> Values;
  std::uint32_t NoBits = 0;
};

struct TCall {
  long Number;
  std::vector<TArgument> Arguments;
};

// Both architectures with a list are little-endian: an argument's low word comes first.
constexpr std::uint32_t ArgumentLow(unsigned index) {
  return static_cast<std::uint32_t>(offsetof(seccomp_data, args) + 8 * index);
}

}  // namespace

std::vector<sock_filter> IcmpHelperSystemCallFilter(TIcmpHelperFamily family, int socket) {
  if (!IcmpHelperHasSystemCallList()) return {};
  const bool v6 = family == TIcmpHelperFamily::Ip6;
  const auto fd = static_cast<std::uint32_t>(socket);
  const std::vector<TCall> calls = {
      {SYS_read, {{0, {0}}}},
      {SYS_write, {{0, {1, 2}}}},
      {SYS_recvmsg, {{0, {fd}}, {2, {MSG_DONTWAIT}}}},
      {SYS_sendto, {{0, {fd}}, {3, {0}}}},
      // The TTL of each probe; the filter and everything else were set before.
      {SYS_setsockopt,
       {{0, {fd}},
        {1, {v6 ? std::uint32_t{IPPROTO_IPV6} : std::uint32_t{IPPROTO_IP}}},
        {2, {v6 ? std::uint32_t{IPV6_UNICAST_HOPS} : std::uint32_t{IP_TTL}}}}},
      {SYS_mmap, {{2, {}, PROT_EXEC}}},
      {SYS_ppoll, {}},
#ifdef SYS_poll
      {SYS_poll, {}},
#endif
      {SYS_clock_gettime, {}},
      {SYS_brk, {}},
      {SYS_munmap, {}},
      {SYS_mremap, {}},
      {SYS_madvise, {}},
      {SYS_futex, {}},
      {SYS_exit, {}},
      {SYS_exit_group, {}},
      {SYS_rt_sigreturn, {}},
      {SYS_restart_syscall, {}},
  };
  TProgram p;
  const int known = p.Label();
  p.Do(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch));
  p.JumpIf(BPF_JEQ, kAuditArch, known, TProgram::Next);
  p.Return(SECCOMP_RET_KILL_PROCESS);
  p.Place(known);
  for (const TCall& call : calls) {
    // Each call's block ends in its own returns, so that every jump stays short.
    const int next = p.Label(), refuse = p.Label();
    p.Do(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr));
    p.JumpIf(BPF_JEQ, static_cast<std::uint32_t>(call.Number), TProgram::Next, next);
    for (const TArgument& argument : call.Arguments) {
      p.Do(BPF_LD | BPF_W | BPF_ABS, ArgumentLow(argument.Index) + 4);
      p.JumpIf(BPF_JEQ, 0, TProgram::Next, refuse);
      p.Do(BPF_LD | BPF_W | BPF_ABS, ArgumentLow(argument.Index));
      if (argument.Values.empty()) {
        p.JumpIf(BPF_JSET, argument.NoBits, refuse, TProgram::Next);
        continue;
      }
      const int good = p.Label();
      for (std::size_t i = 0; i < argument.Values.size(); ++i) {
        const bool last = i + 1 == argument.Values.size();
        p.JumpIf(BPF_JEQ, argument.Values[i], good, last ? refuse : TProgram::Next);
      }
      p.Place(good);
    }
    p.Return(SECCOMP_RET_ALLOW);
    p.Place(refuse);
    p.Return(SECCOMP_RET_KILL_PROCESS);
    p.Place(next);
  }
  p.Return(SECCOMP_RET_KILL_PROCESS);
  return p.Finish();
}

}  // namespace quillon
