// The ICMP helper's language, the built helper's answer to every kind of
// request (run as root in a network namespace of the test's own: loopback, and
// a dummy link where probes vanish), and its client's channels shared by many
// threads.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

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

// The helper of the family run as root in a namespace of its own, fed the
// request lines; its answers by token (0 for a line without one).
std::map<std::uint32_t, std::string> Serve(const std::string& family, const std::string& requests) {
  const std::filesystem::path input =
      std::filesystem::temp_directory_path() / ("quillon-helper-" + std::to_string(::getpid()));
  std::ofstream(input) << requests;
  const auto [status, output] = Shell(
      "unshare -n sh -c 'ip link set lo up && ip link add d0 type veth peer name d1 && ip link set "
      "d0 arp off up && "
      "ip route add 198.18.200.0/24 dev d0 && ip -6 route add 2001:2:ff::/64 dev d0 && exec " +
      std::string(QUILLON_ICMP_HELPER_BUILT) + " " + family + "' <" + input.string());
  std::filesystem::remove(input);
  EXPECT_EQ(status, 0) << output;
  std::map<std::uint32_t, std::string> answers;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) {
    TIcmpHelperAnswer answer;
    EXPECT_TRUE(ParseIcmpHelperAnswer(line, answer)) << line;
    // Lines without a token are all answered with token 0.
    EXPECT_TRUE(answer.Token == 0 || answers.count(answer.Token) == 0) << "one answer: " << line;
    answers[answer.Token] = line;
  }
  return answers;
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
    for (const auto& [request, answer] : rows) {
      requests += request + "\n";
      if (!answer.empty()) expected[static_cast<std::uint32_t>(std::stoul(answer))] = answer;
    }
    EXPECT_EQ(Serve(family, requests), expected) << family;
  }
}

TEST(IcmpHelperProgram, KeepsNoMoreProbesOutstandingThanItsBound) {
  if (::geteuid() != 0) GTEST_SKIP() << "the built helper has no capability here; root has";
  std::string requests;
  for (int token = 1; token <= IcmpHelperMaxOutstanding + 1; ++token) {
    requests += std::to_string(token) + " send-probe ip-4 198.18.200." +
                std::to_string(token % 250 + 1) + " timeout 200\n";
  }
  const auto answers = Serve("ip-4", requests);
  ASSERT_EQ(answers.size(), IcmpHelperMaxOutstanding + 1u);
  for (std::uint32_t token = 1; token <= IcmpHelperMaxOutstanding; ++token)
    EXPECT_EQ(answers.at(token), std::to_string(token) + " no-reply");
  const std::uint32_t last = IcmpHelperMaxOutstanding + 1;
  EXPECT_EQ(answers.at(last), std::to_string(last) + " probes-exhausted");
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
