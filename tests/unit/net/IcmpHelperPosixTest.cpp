// The ICMP helper's language, its kernel filters, the built helper's answer to
// every kind of request (as root in a network namespace of the test's own), its
// pace, and its client's channels shared by many threads.
#include <gtest/gtest.h>
#include <linux/audit.h>
#include <linux/seccomp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "IcmpHelperFilter.h"
#include "net/IcmpHelperPosix.h"

namespace quillon {
namespace {

using enum TIcmpHelperError;

std::string Hex(std::size_t bytes) {
  return std::string(2 * bytes, 'a');
}

// The line as the helper reads it: written back in its one spelling, or the
// refusal it is answered with.
std::string Read(const std::string& line) {
  const TIcmpHelperParsedRequest parsed = ParseIcmpHelperRequest(line);
  return parsed.Error == None
             ? FormatIcmpHelperRequest(parsed.Request)
             : FormatIcmpHelperAnswer(IcmpHelperRefusal(parsed.Request.Token, parsed.Error));
}

TEST(IcmpHelperRequest, ReadsEachLineIntoARequestOrANamedRefusal) {
  // Each group of lines and what they read as ("" for themselves).
  const std::pair<std::string, std::vector<std::string>> lines[] = {
      {"",
       {"7 send-probe ip-4 198.18.0.1 ttl 5 data 0a0b",
        "8 send-probe ip-6 2001:2::1 ttl 255 timeout 200 data 00 scope 3",
        "9 send-probe ip-4 127.0.0.1 ttl 1 data " + Hex(IcmpHelperMaxData),
        "10 check-support feature version", "11 cancel-probe"}},
      // No token read: tokens run from 1 to 2^31-1 in plain decimal, one blank
      // between words, printable text only.
      {"0 invalid-argument",
       {"", "send-probe ip-4 1.2.3.4", "0 cancel-probe", "2147483648 cancel-probe",
        "07 cancel-probe", "7  send-probe ip-4 1.2.3.4", "7 send-probe ip-4 1.2.3.4\r"}},
      {"7 unknown-command", {"7 echo ip-4 1.2.3.4", "7 SEND-PROBE ip-4 1.2.3.4"}},
      {"7 invalid-argument",
       {"7 cancel-probe 8", "7 check-support", "7 check-support feature VERSION",
        "7 send-probe ip-4 1.2.3.4 data " + Hex(IcmpHelperMaxData + 1)}},
  };
  for (const auto& [read, group] : lines) {
    for (const std::string& line : group) EXPECT_EQ(Read(line), read.empty() ? line : read);
  }
  const TIcmpHelperRequest probe = ParseIcmpHelperRequest(lines[0].second[0]).Request;
  EXPECT_EQ(probe.Ttl, 5);
  EXPECT_EQ(probe.Destination.Bytes[0], 198);
  EXPECT_EQ(probe.Data.Length, 2);
  EXPECT_EQ(probe.Data.Bytes[1], 0x0B);
  EXPECT_EQ(probe.TimeoutMs, IcmpHelperDefaultTimeoutMs);

  // Probes refused after their token, a group of send-probe words per reason.
  const std::vector<std::string> refusedProbes[] = {
      {"ip-4", "ip-5 1.2.3.4", "ip-4 2001:2::1"},  // no destination, no such family, the other's
      {"ip-4 1.2.3", "ip-4 01.2.3.4"},             // short and octal forms
      {"ip-4 224.0.0.1", "ip-4 239.255.255.250", "ip-6 ff02::1"},  // multicast
      {"ip-4 255.255.255.255", "ip-4 240.0.0.1"},                  // broadcast, reserved
      {"ip-4 0.0.0.0", "ip-6 ::", "ip-4 0.1.2.3"},                 // unspecified, "this network"
      {"ip-6 ::ffff:1.2.3.4", "ip-6 fe80::1%eth0"},  // IPv4 behind IPv6; a zone goes as scope
      {"ip-4 1.2.3.4 ttl 0", "ip-4 1.2.3.4 ttl 256", "ip-4 1.2.3.4 ttl -1",  // out of range
       "ip-4 1.2.3.4 timeout 0"},
      {"ip-4 1.2.3.4 ttl 5 ttl 6", "ip-4 1.2.3.4 ttl"},         // a key twice, a key without value
      {"ip-4 1.2.3.4 type 13", "ip-4 1.2.3.4 code 1"},          // other ICMP messages
      {"ip-4 1.2.3.4 source 1.2.3.5", "ip-4 1.2.3.4 scope 2"},  // no source; scope is IPv6's
      // Half a byte, another spelling, none.
      {"ip-4 1.2.3.4 data abc", "ip-4 1.2.3.4 data ABCD", "ip-4 1.2.3.4 data"},
  };
  for (const auto& group : refusedProbes) {
    for (const std::string& words : group)
      EXPECT_EQ(Read("7 send-probe " + words), "7 invalid-argument");
  }
}

TEST(IcmpHelperRequest, ReadsBackEveryAnswerItWritesAndNothingElse) {
  const std::string answers[] = {
      "3 echo-reply from 198.18.0.9 ttl 61 data 71756c6c",
      "3 echo-reply from 2001:2::9 ttl 1",
      "4 icmp-error from 198.18.0.1 ttl 255 type 11 code 0",
      "5 no-reply",
      "6 send-failed errno 101",
      "1 feature-support support 2",
      "0 invalid-argument",
      "7 unknown-command",
      "8 probes-exhausted",
  };
  for (const std::string& line : answers) {
    TIcmpHelperAnswer answer;
    ASSERT_TRUE(ParseIcmpHelperAnswer(line, answer)) << line;
    EXPECT_EQ(FormatIcmpHelperAnswer(answer), line);
  }
  for (const char* line : {"3 echo-reply from 198.18.0.9", "4 icmp-error from 198.18.0.1 ttl 1",
                           "5 no-reply now", "x no-reply", "6 send-failed errno 0", "9 packet"}) {
    TIcmpHelperAnswer answer;
    EXPECT_FALSE(ParseIcmpHelperAnswer(line, answer)) << line;
  }
}

TEST(IcmpHelperPath, NeverRelativeToTheCurrentDirectory) {
  EXPECT_TRUE(IcmpHelperPath("").empty()) << "the program's own path could not be read";
  EXPECT_TRUE(IcmpHelperPath("quillon").empty());
  const std::filesystem::path helper = IcmpHelperPath("/opt/q/bin/quillon");
  EXPECT_TRUE(helper.is_absolute()) << helper;
  EXPECT_EQ(helper.filename(), "quillon-icmp-helper");
  EXPECT_TRUE(IcmpHelperHintPath("").is_absolute());
}

using TBytes = std::vector<std::uint8_t>;

// A classic BPF machine as the kernel runs the helper's programs: a socket
// filter's loads read the packet in network order, a seccomp program's read
// seccomp_data in the machine's; a load beyond the input's end returns 0.
std::uint32_t RunBpf(const std::vector<sock_filter>& program, const TBytes& input, bool network) {
  std::uint32_t a = 0, x = 0;
  const auto load = [&](std::size_t at, std::size_t size, std::uint32_t& into) {
    if (at + size > input.size()) return false;
    into = 0;
    for (std::size_t i = 0; i < size; ++i)
      into = network ? into << 8 | input[at + i] : into | std::uint32_t{input[at + i]} << 8 * i;
    return true;
  };
  for (std::size_t pc = 0; pc < program.size(); ++pc) {
    const sock_filter& op = program[pc];
    const std::size_t size = BPF_SIZE(op.code) == BPF_W ? 4 : BPF_SIZE(op.code) == BPF_H ? 2 : 1;
    switch (BPF_CLASS(op.code)) {
      case BPF_LD:
        if (!load(op.k + (BPF_MODE(op.code) == BPF_IND ? x : 0), size, a)) return 0;
        break;
      case BPF_LDX:  // BPF_IMM, or BPF_MSH: an IP header's length
        if (BPF_MODE(op.code) == BPF_IMM) {
          x = op.k;
        } else {
          if (!load(op.k, 1, x)) return 0;
          x = (x & 0x0F) * 4;
        }
        break;
      case BPF_ALU: {
        const std::uint32_t operand = BPF_SRC(op.code) == BPF_X ? x : op.k;
        if (BPF_OP(op.code) == BPF_AND) a &= operand;
        if (BPF_OP(op.code) == BPF_LSH) a <<= operand;
        if (BPF_OP(op.code) == BPF_ADD) a += operand;
        break;
      }
      case BPF_MISC:  // BPF_TAX
        x = a;
        break;
      case BPF_JMP:
        pc += (BPF_OP(op.code) == BPF_JEQ ? a == op.k : (a & op.k) != 0) ? op.jt : op.jf;
        break;
      case BPF_RET:
        return op.k;
    }
  }
  ADD_FAILURE() << "the program ran off its end";
  return 0;
}

constexpr std::uint16_t kId = 0x5a17;

TBytes Icmp(std::uint8_t type, std::uint16_t id, TBytes rest = {}) {
  const auto high = static_cast<std::uint8_t>(id >> 8), low = static_cast<std::uint8_t>(id & 0xFF);
  rest.insert(rest.begin(), {type, 0, 0, 0, high, low, 0, 7});
  return rest;
}
// An IPv4 datagram: a header of 20 bytes and the option bytes (NOPs) asked for.
TBytes Packet4(TBytes payload, std::uint8_t protocol = IPPROTO_ICMP, std::size_t options = 0) {
  TBytes packet(20 + options, 1);
  packet[0] = static_cast<std::uint8_t>(0x40 | (5 + options / 4));
  packet[9] = protocol;
  packet.insert(packet.end(), payload.begin(), payload.end());
  return packet;
}
// The IPv6 header an ICMPv6 error quotes.
TBytes Packet6(TBytes payload, std::uint8_t next = IPPROTO_ICMPV6) {
  TBytes packet(40, 0);
  packet[0] = 0x60;
  packet[6] = next;
  packet.insert(packet.end(), payload.begin(), payload.end());
  return packet;
}

TEST(IcmpHelperFilter, PassesOnlyAnswersCarryingTheHelpersIdentifier) {
  struct TRow {
    const char* What;
    TIcmpHelperFamily Family;
    TBytes Packet;  // as the raw socket's filter sees it
    bool Passes;
  };
  using enum TIcmpHelperFamily;
  const TBytes probe4 = Packet4(Icmp(8, kId, {'q'})), probe6 = Packet6(Icmp(128, kId, {'q'}));
  const auto cut = [](const TBytes& b, int n) { return TBytes(b.begin(), b.begin() + n); };
  const TRow rows[] = {
      {"our echo reply", Ip4, Packet4(Icmp(0, kId, {'q'})), true},
      {"another identifier's reply", Ip4, Packet4(Icmp(0, kId + 1)), false},
      {"time exceeded quoting our probe", Ip4, Packet4(Icmp(11, 0, probe4)), true},
      {"an error quoting another identifier", Ip4, Packet4(Icmp(11, 0, Packet4(Icmp(8, kId + 1)))),
       false},
      {"type 40 quoting our probe", Ip4, Packet4(Icmp(40, 0, probe4)), false},
      {"a quoted request with IP options", Ip4, Packet4(Icmp(11, 0, Packet4(Icmp(8, kId), 1, 4))),
       true},
      {"an error with IP options", Ip4, Packet4(Icmp(3, 0, probe4), IPPROTO_ICMP, 4), true},
      {"a reply too short for its identifier", Ip4, cut(Packet4(Icmp(0, kId)), 25), false},
      {"an error cut in its quote", Ip4, cut(Packet4(Icmp(11, 0, probe4)), 20 + 8 + 20 + 5), false},
      {"our echo reply", Ip6, Icmp(129, kId), true},
      {"another identifier's reply", Ip6, Icmp(129, kId + 1), false},
      {"time exceeded quoting our probe", Ip6, Icmp(3, 0, probe6), true},
      {"an error quoting another identifier", Ip6, Icmp(1, 0, Packet6(Icmp(128, 1))), false},
      {"type 200 quoting our probe", Ip6, Icmp(200, 0, probe6), false},
      {"a quote with an extension header", Ip6, Icmp(1, 0, Packet6(Icmp(128, kId), 0)), false},
      {"a reply too short for its identifier", Ip6, cut(Icmp(129, kId), 5), false},
  };
  for (const TRow& row : rows) {
    const auto program = IcmpHelperAnswerFilter(row.Family, kId);
    EXPECT_EQ(RunBpf(program, row.Packet, true) != 0, row.Passes)
        << row.What << (row.Family == Ip6 ? " (IPv6)" : " (IPv4)");
  }
}

// A compromised helper can neither switch its socket to hand-made headers nor
// map executable memory; elsewhere than x86_64 and aarch64 it refuses to serve.
TEST(IcmpHelperFilter, AllowsOnlyTheServiceLoopsCallsWithTheirArguments) {
#if !defined(__x86_64__) && !defined(__aarch64__)
  ASSERT_FALSE(IcmpHelperHasSystemCallList());
  GTEST_SKIP() << "no seccomp list for this architecture";
#endif
  ASSERT_TRUE(IcmpHelperHasSystemCallList());
  constexpr int kSocket = 5;
  const std::uint64_t highBit = std::uint64_t{1} << 32;
  struct TRow {
    TIcmpHelperFamily Family;
    long Call;
    std::vector<std::uint64_t> Arguments;
    bool Allowed;
  };
  using enum TIcmpHelperFamily;
  const TRow rows[] = {
      {Ip4, SYS_write, {2}, true},
      {Ip4, SYS_write, {kSocket}, false},
      {Ip4, SYS_setsockopt, {kSocket, IPPROTO_IP, IP_TTL}, true},
      {Ip4, SYS_setsockopt, {kSocket, IPPROTO_IP, IP_HDRINCL}, false},
      {Ip4, SYS_setsockopt, {kSocket, IPPROTO_IP | highBit, IP_TTL}, false},
      {Ip4, SYS_setsockopt, {kSocket, IPPROTO_IPV6, IPV6_UNICAST_HOPS}, false},
      {Ip6, SYS_setsockopt, {kSocket, IPPROTO_IPV6, IPV6_UNICAST_HOPS}, true},
      {Ip4, SYS_mmap, {0, 4096, PROT_READ | PROT_WRITE}, true},
      {Ip4, SYS_mmap, {0, 4096, PROT_READ | PROT_EXEC}, false},
      {Ip4, SYS_execve, {0, 0, 0}, false},
  };
  const auto allowed = [](TIcmpHelperFamily family, std::uint32_t arch, long number,
                          const std::vector<std::uint64_t>& arguments) {
    seccomp_data call{};
    call.nr = static_cast<int>(number);
    call.arch = arch;
    std::copy(arguments.begin(), arguments.end(), call.args);
    TBytes bytes(sizeof call);
    std::memcpy(bytes.data(), &call, sizeof call);
    const std::uint32_t action = RunBpf(IcmpHelperSystemCallFilter(family, kSocket), bytes, false);
    EXPECT_TRUE(action == SECCOMP_RET_ALLOW || action == SECCOMP_RET_KILL_PROCESS) << action;
    return action == SECCOMP_RET_ALLOW;
  };
#if defined(__x86_64__)
  const std::uint32_t arch = AUDIT_ARCH_X86_64, other = AUDIT_ARCH_I386;
#else
  const std::uint32_t arch = AUDIT_ARCH_AARCH64, other = AUDIT_ARCH_ARM;
#endif
  for (const TRow& row : rows) {
    EXPECT_EQ(allowed(row.Family, arch, row.Call, row.Arguments), row.Allowed) << &row - rows;
  }
  EXPECT_FALSE(allowed(TIcmpHelperFamily::Ip4, other, SYS_write, {2})) << "another ABI's calls";
}

// Status and output of a shell command line.
std::pair<int, std::string> Shell(const std::string& command) {
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return {-1, ""};
  std::string output;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    output.append(buffer, n);
  const int status = ::pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

TEST(IcmpHelperProgram, RefusesABadCommandLineClearly) {
  const auto [status, message] =
      Shell(std::string(QUILLON_ICMP_HELPER_BUILT) + " icmp 4 </dev/null");
  EXPECT_EQ(status, IcmpHelperExitBadRequest);
  EXPECT_EQ(message.rfind("quillon-icmp-helper: refused: expected one word, ip-4 or ip-6\n", 0), 0u)
      << message;
}

// The helper of the family as root in a namespace of its own (loopback, and a
// link where probes vanish), fed each batch of requests once the answers counted
// before it came (10 s at most); its answers by token (0 for a line without
// one), and the ms from the first batch's answers to the last's.
struct TServed {
  std::map<std::uint32_t, std::string> Answers;
  long Ms = -1;
};
TServed Serve(const std::string& family, const std::vector<std::pair<std::string, int>>& batches) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("quillon-helper-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string out = (dir / "out").string();
  std::string writer = ": >" + out;
  int count = 0;
  for (std::size_t i = 0; i < batches.size(); ++i) {
    const std::string batch = (dir / std::to_string(i)).string();
    std::ofstream(batch) << batches[i].first;
    count += batches[i].second;
    writer += "; cat " + batch + "; n=0; while [ $(wc -l <" + out + ") -lt " +
              std::to_string(count) + " ] && [ $n -lt 2000 ]; do sleep 0.005; n=$((n+1)); done" +
              (i == 0 ? "; s=$(date +%s%N)" : "");
  }
  const auto [status, output] = Shell(
      "{ " + writer + "; echo $((($(date +%s%N) - s) / 1000000)) >" + out +
      ".ms; } | unshare -n sh -c 'ip link set lo up && ip link add d0 type veth peer name d1 && "
      "ip link set d0 arp off up && ip route add 198.18.200.0/24 dev d0 && ip -6 route add "
      "2001:2:ff::/64 dev d0 && exec " +
      std::string(QUILLON_ICMP_HELPER_BUILT) + " " + family + "' >>" + out + " && cat " + out);
  TServed served;
  std::ifstream(out + ".ms") >> served.Ms;
  std::filesystem::remove_all(dir);
  EXPECT_EQ(status, 0) << output;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) {
    TIcmpHelperAnswer answer;
    EXPECT_TRUE(ParseIcmpHelperAnswer(line, answer)) << line;
    // Lines without a token are all answered with token 0.
    EXPECT_TRUE(answer.Token == 0 || served.Answers.count(answer.Token) == 0) << line;
    served.Answers[answer.Token] = line;
  }
  return served;
}

TEST(IcmpHelperProgram, AnswersEveryRequestAndSendsOnlyProbes) {
  if (::geteuid() != 0) GTEST_SKIP() << "the built helper has no capability here; root has";
  using TRows = std::vector<std::pair<std::string, std::string>>;  // a request, its answer
  const TRows v4 = {
      {"1 send-probe ip-4 127.0.0.1 ttl 64 data 71756c6c",
       "1 echo-reply from 127.0.0.1 ttl 64 data 71756c6c"},
      {"2 send-probe ip-4 127.0.0.1", "2 echo-reply from 127.0.0.1 ttl 64"},
      {"3 send-probe ip-4 198.18.200.1 timeout 100", "3 no-reply"},
      {"4 send-probe ip-4 224.0.0.1", "4 invalid-argument"},  // the language's refusals
      {"7 send-probe ip-6 ::1", "7 invalid-argument"},        // the other family's helper
      {"11 echo-request ip-4 127.0.0.1", "11 unknown-command"},
      {"12 check-support feature version", "12 feature-support support 2"},
      {"13 check-support feature ip-6", "13 feature-support support no"},
      {"14 send-probe ip-4 198.18.200.2 timeout 5000", ""},  // cancelled: no answer
      {"14 cancel-probe", ""},
      {"15 send-probe ip-4 198.18.201.1", "15 send-failed errno 101"},  // no route
      {"frob", "0 invalid-argument"},
      {"16 send-probe ip-4 127.0.0.1 " + std::string(IcmpHelperMaxLine, 'x'), "0 invalid-argument"},
  };
  const TRows v6 = {
      {"1 send-probe ip-6 ::1 ttl 9 data 00ff", "1 echo-reply from ::1 ttl 64 data 00ff"},
      {"2 send-probe ip-6 2001:2:ff::1 timeout 100", "2 no-reply"},
      {"3 send-probe ip-6 ff02::1", "3 invalid-argument"},
      {"6 send-probe ip-4 127.0.0.1", "6 invalid-argument"},
  };
  for (const auto& [family, rows] : {std::pair{"ip-4", v4}, std::pair{"ip-6", v6}}) {
    std::string requests;
    std::map<std::uint32_t, std::string> expected;
    int count = 0;  // answer lines; token 0 may repeat
    for (const auto& [request, answer] : rows) {
      requests += request + "\n";
      if (!answer.empty()) expected[static_cast<std::uint32_t>(std::stoul(answer))] = answer;
      count += !answer.empty();
    }
    EXPECT_EQ(Serve(family, {{requests, count}}).Answers, expected) << family;
  }
}

TEST(IcmpHelperProgram, KeepsNoMoreProbesOutstandingThanItsBound) {
  if (::geteuid() != 0) GTEST_SKIP() << "the built helper has no capability here; root has";
  std::string requests;
  for (int token = 1; token <= IcmpHelperMaxOutstanding + 1; ++token) {
    requests += std::to_string(token) + " send-probe ip-4 198.18.200." +
                std::to_string(token % 250 + 1) + " timeout 200\n";
  }
  const auto answers = Serve("ip-4", {{requests, IcmpHelperMaxOutstanding + 1}}).Answers;
  ASSERT_EQ(answers.size(), IcmpHelperMaxOutstanding + 1u);
  for (std::uint32_t token = 1; token <= IcmpHelperMaxOutstanding; ++token)
    EXPECT_EQ(answers.at(token), std::to_string(token) + " no-reply");
  const std::uint32_t last = IcmpHelperMaxOutstanding + 1;
  EXPECT_EQ(answers.at(last), std::to_string(last) + " probes-exhausted");
}

// However fast loopback answers, 300 probes take at least (300 - burst) / rate
// seconds (less the millisecond the helper's clock counts in).
TEST(IcmpHelperProgram, PacesItsProbesAfterItsBurst) {
  if (::geteuid() != 0) GTEST_SKIP() << "the built helper has no capability here; root has";
  std::vector<std::pair<std::string, int>> batches = {{"1 check-support feature version\n", 1}};
  for (int sent = 0, batch; sent < 300; sent += batch) {
    batch = std::min(IcmpHelperMaxOutstanding, 300 - sent);
    batches.emplace_back("", batch);
    for (int i = 0; i < batch; ++i)
      batches.back().first += std::to_string(2 + sent + i) + " send-probe ip-4 127.0.0.1\n";
  }
  const TServed served = Serve("ip-4", batches);
  EXPECT_EQ(served.Answers.size(), 301u);
  EXPECT_EQ(served.Answers.at(301), "301 echo-reply from 127.0.0.1 ttl 64");
  EXPECT_GE(served.Ms, (300 - IcmpHelperRateBurst) * 1000 / IcmpHelperRatePerSecond - 1);
}

// An engine's echo request: its own identifier and sequence number, and data.
std::vector<std::uint8_t> EngineRequest(std::uint8_t type, std::uint16_t sequence) {
  const auto low = static_cast<std::uint8_t>(sequence & 0xFF);
  const auto high = static_cast<std::uint8_t>(sequence >> 8);
  return {type, 0, 0, 0, 0x34, 0x12, low, high, 'q', 'u', 'i', 'l'};
}

const TIdIPv6Bytes kLoopback6{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};

// Probe threads share one helper per family; each reads back the datagram a
// raw socket would have given it, with its own identifier, sequence and data.
TEST(IcmpHelperClient, ThreadsShareOneHelperAndEachReadsItsOwnReply) {
  if (::geteuid() != 0) GTEST_SKIP() << "the built helper has no capability here; root has";
  for (const int family : {AF_INET, AF_INET6})
    SetIcmpHelperForTesting(family, QUILLON_ICMP_HELPER_BUILT);
  std::vector<std::string> failures(8);  // by thread
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < failures.size(); ++t) {
    threads.emplace_back([t, &failures] {
      const bool v6 = t % 2 == 1;
      const std::size_t header = v6 ? 40 : 20;
      for (std::size_t i = 0; i < 12 && failures[t].empty(); ++i) {
        const int channel = OpenIcmpHelperChannel(v6 ? AF_INET6 : AF_INET);
        SetIcmpHelperChannelTtl(channel, 30);
        const auto request = EngineRequest(v6 ? 128 : 8, static_cast<std::uint16_t>(t * 100 + i));
        std::int32_t error = 0;
        const int sent =
            v6 ? SendIcmpHelperEcho(channel, request, kLoopback6, 0, error)
               : SendIcmpHelperEcho(channel, request, TIdIPv4Bytes{127, 0, 0, 1}, error);
        pollfd ready{channel, POLLIN, 0};
        std::array<std::uint8_t, 256> datagram{};
        const int count = channel >= 0 && sent == 12 && poll(&ready, 1, 5000) == 1
                              ? ReceiveIcmpHelper(channel, datagram, error)
                              : -1;
        if (count != static_cast<int>(header + request.size()) ||
            datagram[header] != (v6 ? 129 : 0) ||
            !std::equal(request.begin() + 4, request.end(), datagram.begin() + header + 4) ||
            datagram[v6 ? 23 : 15] != 1) {
          failures[t] = "probe " + std::to_string(i) + " on channel " + std::to_string(channel) +
                        ": " + std::to_string(count) + " bytes";
        }
        CloseIcmpHelperChannel(channel);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (std::size_t t = 0; t < failures.size(); ++t) EXPECT_EQ(failures[t], "") << "thread " << t;
  const auto [status, helpers] =
      Shell("pgrep -c -P " + std::to_string(::getpid()) + " -x quillon-icmp-he");
  EXPECT_EQ(helpers, "2\n") << "one helper per family";
  for (const int family : {AF_INET, AF_INET6}) SetIcmpHelperForTesting(family, "");
}

TEST(IcmpHelperClient, RootNeverStartsTheInstalledHelper) {
  if (::geteuid() != 0) GTEST_SKIP() << "root's case";
  errno = 0;
  EXPECT_EQ(OpenIcmpHelperChannel(AF_INET), -1);
  EXPECT_EQ(errno, EPERM);
}

// A helper of another version is not used: the stack says it cannot allocate a socket.
TEST(IcmpHelperClient, RefusesAHelperOfAnotherVersion) {
  const std::filesystem::path fake =
      std::filesystem::temp_directory_path() / ("quillon-old-helper-" + std::to_string(::getpid()));
  std::ofstream(fake) << "#!/bin/sh\nread line\necho \"1 feature-support support 1\"\nsleep 5\n";
  std::filesystem::permissions(fake, std::filesystem::perms::owner_all);
  SetIcmpHelperForTesting(AF_INET, fake);
  EXPECT_EQ(OpenIcmpHelperChannel(AF_INET), -1);
  SetIcmpHelperForTesting(AF_INET, "");
  std::filesystem::remove(fake);
}

}  // namespace
}  // namespace quillon
