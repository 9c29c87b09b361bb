// A namespace lab for one test: built by lab.sh when the object is made, torn
// down when it goes. Code runs inside the lab's source namespace in three ways:
// a program (RunInSource), a function in a forked child that entered the
// namespace (RunInSourceProcess; the name files of the lab do not apply there),
// or the current test itself re-run under `ip netns exec` (RunCurrentTestInSource;
// the lab's hosts and resolv.conf apply), which then finds itself InsideLab().
//
//   TEST(LabSuite, Case) {
//     if (LabNetwork::InsideLab()) { ...checks in the namespace...; return; }
//     QUILLON_START_LAB(lab, LabOptions().WithRouters(2));
//     EXPECT_LAB_CHILD_PASSED(lab.RunCurrentTestInSource());
//   }
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillon {

struct LabOptions {
  int Routers = 3;
  std::vector<int> Silent;  // routers that send no time-exceeded
  bool DropEcho = false;    // the target ignores echo requests
  int Prohibit = 0;         // router rejecting forwarded echoes as admin-prohibited; 0: none
  int IcmpLimit = 0;        // router rate-limiting its time-exceeded answers; 0: none
  int FilterEcho = 0;       // router dropping the echo requests it forwards; 0: none
  int ListenPort = 0;       // the target's one open TCP port; 0: none
  int LossyRouter = 0;      // router dropping one of every LossyEvery forwarded echoes; 0: none
  int LossyEvery = 0;
  std::map<std::string, std::string> Names;  // hop number or "target" -> name in the hosts file
  // Hop number or "target" -> the AS announcing it ("64501+64502" for two),
  // answered by the lab's DNS server (lab.sh --asn).
  std::map<std::string, std::string> AsNumbers;
  int DelayMs = 0;  // one-way delay of every link
  // The target checks the ICMP checksum of what it receives (see lab.sh).
  bool VerifyChecksums = false;
  bool IPv6 = false;  // dual-stack: every link also carries an IPv6 /64

  LabOptions& WithRouters(int routers) { return Set(Routers, routers); }
  LabOptions& WithSilent(std::vector<int> routers) { return Set(Silent, std::move(routers)); }
  LabOptions& WithDropEcho() { return Set(DropEcho, true); }
  LabOptions& WithProhibit(int router) { return Set(Prohibit, router); }
  LabOptions& WithIcmpLimit(int router) { return Set(IcmpLimit, router); }
  LabOptions& WithFilterEcho(int router) { return Set(FilterEcho, router); }
  LabOptions& WithListener(int port) { return Set(ListenPort, port); }
  LabOptions& WithLossy(int router, int every) {
    LossyEvery = every;
    return Set(LossyRouter, router);
  }
  LabOptions& WithName(const std::string& hop, const std::string& name) {
    Names[hop] = name;
    return *this;
  }
  LabOptions& WithAs(const std::string& hop, const std::string& numbers) {
    AsNumbers[hop] = numbers;
    return *this;
  }
  LabOptions& WithDelay(int delayMs) { return Set(DelayMs, delayMs); }
  LabOptions& WithVerifiedChecksums() { return Set(VerifyChecksums, true); }
  LabOptions& WithIPv6() { return Set(IPv6, true); }

 private:
  template <typename T, typename V>
  LabOptions& Set(T& field, V&& value) {
    field = std::forward<V>(value);
    return *this;
  }
};

// What lab.sh reports about a lab it built.
struct LabFacts {
  std::string Prefix;
  std::string SourceNamespace;
  std::string SourceAddress;
  std::string TargetNamespace;
  std::string Target;
  int Routers = 0;
  int Hops = 0;  // Routers + 1: the target's TTL
  int DelayMs = 0;
  bool VerifyChecksums = false;
  int TcpPort = 0;                        // the target's open TCP port; 0: none
  std::vector<std::string> HopAddresses;  // hop 1 first
  std::map<int, std::string> Names;       // by hop
  std::string DnsLog;                     // the lab DNS server's query log (with AsNumbers)
  // A dual-stack lab's IPv6 addresses (canonical text); empty otherwise.
  std::string Target6;
  std::vector<std::string> HopAddresses6;  // hop 1 first

  // The address answering at TTL ttl (1..Hops).
  const std::string& Hop(int ttl) const;
  // From the VAR=value lines lab.sh prints; nullopt when a needed fact is missing.
  static std::optional<LabFacts> Parse(const std::string& text);
  // Inside a re-run test: the facts its parent handed down.
  static std::optional<LabFacts> FromEnvironment();
  // The VAR=value words that FromEnvironment reads back.
  std::vector<std::string> EnvironmentWords() const;
};

struct CommandResult {
  int ExitCode = -1;   // the exit status; 128+signal when killed by one
  std::string Output;  // stdout and stderr together
};

// Runs a program (searched in PATH) with extra VAR=value words in its
// environment; a program still running after timeoutMs is killed.
CommandResult RunProgram(const std::vector<std::string>& argv,
                         const std::vector<std::string>& extraEnvironment = {},
                         int timeoutMs = 60000);

// A word quoted for sh; a whole file's bytes (empty when it cannot be read);
// whether sh finds the program.
std::string ShellQuote(const std::string& word);
std::string ReadWholeFile(const std::string& path);
bool OnPath(const std::string& program);
// The build tree this test belongs to: from the environment CTest sets, or else
// three levels above the test executable (build/tests/lab/).
std::filesystem::path BuildDir();

// The lab's script and forwarder, found from the build.
std::string LabScriptPath();
std::string DelayLinkPath();

// Copies the build's window module to where a copy of the program at program
// looks for it; false when the build has no window.
bool CopyWindowModule(const std::filesystem::path& program);
// Copies the build's ICMP helper to where a copy of the program at program
// looks for it, and gives the copy CAP_NET_RAW as the package's postinst does;
// false when either fails.
bool CopyIcmpHelper(const std::filesystem::path& program);

class LabNetwork {
 public:
  enum class State { Up, Skipped, Failed };

  explicit LabNetwork(const LabOptions& options = {});
  ~LabNetwork();
  LabNetwork(const LabNetwork&) = delete;
  LabNetwork& operator=(const LabNetwork&) = delete;

  State Status() const { return state_; }
  // Why the lab is not up (lab.sh's message).
  const std::string& Problem() const { return problem_; }
  const LabFacts& Facts() const { return facts_; }

  // A program run in the source namespace, with the facts in its environment.
  CommandResult RunInSource(const std::vector<std::string>& argv, int timeoutMs = 60000) const;
  // body run in a child process that entered the source namespace; Output is the
  // text body returned (or the message of what it threw, with ExitCode 1).
  CommandResult RunInSourceProcess(const std::function<std::string()>& body,
                                   int timeoutMs = 60000) const;
  // The running test re-run alone in the source namespace. ExitCode is 0 only
  // when the child ran that one test and it passed.
  CommandResult RunCurrentTestInSource(int timeoutMs = 120000) const;

  // True in a test re-run by RunCurrentTestInSource.
  static bool InsideLab();
  // Tears the lab down now (also done by the destructor); returns lab.sh's result.
  CommandResult TearDown();

 private:
  State state_ = State::Failed;
  std::string problem_;
  LabFacts facts_;
};

}  // namespace quillon

// Declares `lab`, a LabNetwork built with the options; skips the test where no
// lab can be built (not root) and fails it when the build fails.
#define QUILLON_START_LAB(lab, ...)                              \
  ::quillon::LabNetwork lab{__VA_ARGS__};                        \
  if ((lab).Status() == ::quillon::LabNetwork::State::Skipped) { \
    GTEST_SKIP() << (lab).Problem();                             \
  }                                                              \
  ASSERT_EQ((lab).Status(), ::quillon::LabNetwork::State::Up) << (lab).Problem()

#define EXPECT_LAB_CHILD_PASSED(result)                                      \
  do {                                                                       \
    const ::quillon::CommandResult labChild_ = (result);                     \
    EXPECT_EQ(labChild_.ExitCode, 0) << "in the lab:\n" << labChild_.Output; \
  } while (false)
