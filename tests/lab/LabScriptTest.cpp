// The lab script itself: its input checks, its skip without root, and that it
// leaves nothing behind however a lab ends.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "lab/LabNetwork.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

bool IsRoot() {
  return ::geteuid() == 0;
}

// A prefix no other run uses: the lab's own naming adds a random id, tests that
// name their lab use the process id and a count.
std::string UniquePrefix() {
  static int count = 0;
  return "qlt" + std::to_string(::getpid()) + "x" + std::to_string(++count);
}

// Whatever lab.sh made for a prefix: namespaces, name files, its state.
std::vector<std::string> Leftovers(const std::string& prefix) {
  std::vector<std::string> found;
  for (const char* directory : {"/run/netns", "/etc/netns"}) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(directory, error)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind(prefix + "-", 0) == 0) found.push_back(entry.path().string());
    }
  }
  if (fs::exists("/run/quillon-lab/" + prefix)) found.push_back("/run/quillon-lab/" + prefix);
  return found;
}

std::vector<int> ForwarderPids(const std::string& prefix) {
  std::vector<int> pids;
  std::ifstream file("/run/quillon-lab/" + prefix + "/pids");
  for (int pid = 0; file >> pid;) pids.push_back(pid);
  return pids;
}

// A forwarder that has ended but is not yet reaped counts as gone.
bool IsForwarder(int pid) {
  std::ifstream statFile("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  std::getline(statFile, stat);
  const auto nameEnd = stat.rfind(") ");
  return stat.find("(quillon_delayli") != std::string::npos && nameEnd != std::string::npos &&
         stat.compare(nameEnd + 2, 1, "Z") != 0;
}

// Forwarders end on a signal or when their owner goes; give them a moment.
bool AllGone(const std::vector<int>& pids) {
  for (int round = 0; round < 100; ++round) {
    bool any = false;
    for (int pid : pids) any = any || IsForwarder(pid);
    if (!any) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

TEST(LabScript, BadInputEndsWithUsageExitAndSaysWhy) {
  const std::string script = LabScriptPath();
  const struct {
    std::vector<std::string> Arguments;
    std::string Message;
  } cases[] = {
      {{}, "no command"},
      {{"frobnicate"}, "unknown command 'frobnicate'"},
      {{"up", "--routers", "x"}, "--routers must be 0..250, not 'x'"},
      {{"up", "--routers", "251"}, "--routers must be 0..250, not '251'"},
      {{"up", "--routers"}, "missing value after --routers"},
      {{"up", "--routers", "2", "--silent", "1,3"}, "--silent must list routers 1..2, not '3'"},
      {{"up", "--routers", "2", "--silent", "0"}, "--silent must list routers 1..2, not '0'"},
      {{"up", "--routers", "2", "--prohibit", "3"}, "--prohibit must name a router 1..2"},
      {{"up", "--routers", "2", "--icmp-limit", "3"}, "--icmp-limit must name a router 1..2"},
      {{"up", "--routers", "2", "--filter-echo", "3"}, "--filter-echo must name a router 1..2"},
      {{"up", "--listen", "0"}, "--listen must be a port 1..65535, not '0'"},
      {{"up", "--routers", "2", "--lossy", "2"}, "--lossy must be ROUTER:EVERY"},
      {{"up", "--routers", "2", "--lossy", "3:5"}, "--lossy must be ROUTER:EVERY"},
      {{"up", "--lossy", "1:1"}, "--lossy must be ROUTER:EVERY"},
      {{"up", "--names", "1=bad name"}, "--names entries are HOP=name, not '1=bad name'"},
      {{"up", "--names", "1=-dash"}, "--names entries are HOP=name"},
      {{"up", "--names", "5=far"}, "--names: no hop '5' (hops are 1..4 or target)"},
      {{"up", "--names", "0=src"}, "--names: no hop '0'"},
      {{"up", "--delay", "-1"}, "--delay must be 0..10000 ms, not '-1'"},
      {{"up", "--delay", "10001"}, "--delay must be 0..10000 ms"},
      {{"up", "--prefix", "a/b"}, "--prefix must be 1..32 letters, digits or _"},
      {{"up", "--prefix", "a-b"}, "--prefix must be 1..32 letters, digits or _"},
      {{"up", "--owner", "me"}, "--owner must be a process id, not 'me'"},
      {{"up", "--verbose"}, "unknown option '--verbose'"},
      {{"down"}, "down takes one lab prefix, or --all"},
      {{"down", "../etc"}, "bad lab prefix '../etc'"},
      {{"run", "--routers", "1"}, "run needs -- and a command"},
      {{"run", "--routers", "1", "--"}, "run needs -- and a command"},
  };
  for (const auto& badCase : cases) {
    std::vector<std::string> argv = {script};
    argv.insert(argv.end(), badCase.Arguments.begin(), badCase.Arguments.end());
    const CommandResult result = RunProgram(argv);
    SCOPED_TRACE(result.Output);
    EXPECT_EQ(result.ExitCode, 2);
    EXPECT_NE(result.Output.find("lab.sh: " + badCase.Message), std::string::npos);
    EXPECT_NE(result.Output.find("usage: lab.sh up"), std::string::npos);
  }
}

TEST(LabScript, WithoutRootExitsWithTheSkipCode) {
  // As root the check is made as nobody, from a copy that anyone may read
  // (in /tmp, which anyone may enter).
  const fs::path copy = fs::path("/tmp") / ("quillon-lab-" + UniquePrefix() + ".sh");
  fs::copy_file(LabScriptPath(), copy, fs::copy_options::overwrite_existing);
  fs::permissions(copy, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
  std::vector<std::string> argv = {copy.string(), "up", "--routers", "1"};
  if (IsRoot()) {
    argv.insert(argv.begin(),
                {"setpriv", "--reuid", "65534", "--regid", "65534", "--clear-groups", "--"});
  }
  const CommandResult result = RunProgram(argv);
  fs::remove(copy);
  EXPECT_EQ(result.ExitCode, 77) << result.Output;
  EXPECT_NE(result.Output.find("skipped: the lab needs root"), std::string::npos) << result.Output;
}

TEST(LabScript, UpReportsTheChainAndDownRemovesEverythingAgainAndAgain) {
  if (!IsRoot()) GTEST_SKIP() << "building a lab needs root";
  const std::string prefix = UniquePrefix();
  const CommandResult up =
      RunProgram({LabScriptPath(), "up", "--routers", "2", "--prefix", prefix, "--delay", "1",
                  "--delaylink", DelayLinkPath(), "--names", "2=middle,target=end"});
  ASSERT_EQ(up.ExitCode, 0) << up.Output;
  const std::string expected = "LAB_PREFIX=" + prefix + "\nLAB_SRC=" + prefix +
                               "-src\n"
                               "LAB_SRC_ADDR=198.18.0.1\nLAB_TARGET_NS=" +
                               prefix +
                               "-dst\n"
                               "LAB_TARGET=198.18.2.2\nLAB_ROUTERS=2\nLAB_HOPS=3\nLAB_DELAY_MS=1\n"
                               "LAB_VERIFY_CHECKSUMS=0\n"
                               "LAB_HOP_1=198.18.0.2\nLAB_HOP_2=198.18.1.2\nLAB_NAME_2=middle\n"
                               "LAB_HOP_3=198.18.2.2\nLAB_NAME_3=end\n";
  EXPECT_EQ(up.Output, expected);

  std::ifstream hostsFile("/etc/netns/" + prefix + "-src/hosts");
  std::stringstream hosts;
  hosts << hostsFile.rdbuf();
  EXPECT_EQ(hosts.str(), "127.0.0.1 localhost\n198.18.1.2 middle\n198.18.2.2 end\n");
  std::ifstream resolvFile("/etc/netns/" + prefix + "-src/resolv.conf");
  std::stringstream resolv;
  resolv << resolvFile.rdbuf();
  EXPECT_EQ(resolv.str(), "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n");

  const std::vector<int> pids = ForwarderPids(prefix);
  EXPECT_EQ(pids.size(), 3u) << "one forwarder per link";
  for (int pid : pids) EXPECT_TRUE(IsForwarder(pid)) << pid;
  EXPECT_EQ(Leftovers(prefix).size(), 1u + 4u + 1u) << "state, four namespaces, name files";

  for (int round = 0; round < 2; ++round) {
    const CommandResult down = RunProgram({LabScriptPath(), "down", prefix});
    EXPECT_EQ(down.ExitCode, 0) << down.Output;
    EXPECT_TRUE(Leftovers(prefix).empty());
  }
  EXPECT_TRUE(AllGone(pids));
}

TEST(LabScript, RunTearsDownWhateverTheCommandDoesAndPassesItsExitCode) {
  if (!IsRoot()) GTEST_SKIP() << "building a lab needs root";
  const std::string prefix = UniquePrefix();
  const CommandResult run =
      RunProgram({LabScriptPath(), "run", "--routers", "1", "--prefix", prefix, "--", "sh", "-c",
                  "echo target=$LAB_TARGET hops=$LAB_HOPS; ip -o -4 addr show dev east; exit 7"});
  EXPECT_EQ(run.ExitCode, 7) << run.Output;
  EXPECT_NE(run.Output.find("target=198.18.1.2 hops=2"), std::string::npos) << run.Output;
  // The command ran in the source namespace: its one link is there.
  EXPECT_NE(run.Output.find("inet 198.18.0.1/24"), std::string::npos) << run.Output;
  EXPECT_TRUE(Leftovers(prefix).empty());
}

TEST(LabScript, AFailedBuildLeavesNothingBehind) {
  if (!IsRoot()) GTEST_SKIP() << "building a lab needs root";
  const std::string prefix = UniquePrefix();
  // A forwarder that never comes up breaks the build half-way.
  const CommandResult up = RunProgram({LabScriptPath(), "up", "--routers", "2", "--prefix", prefix,
                                       "--delay", "5", "--delaylink", "/bin/false"});
  EXPECT_EQ(up.ExitCode, 1) << up.Output;
  EXPECT_NE(up.Output.find("delay link 0 did not start"), std::string::npos) << up.Output;
  EXPECT_TRUE(Leftovers(prefix).empty());
}

TEST(LabScript, AFailedBuildRemovesOnlyWhatItMade) {
  if (!IsRoot()) GTEST_SKIP() << "building a lab needs root";
  const std::string prefix = UniquePrefix();
  const std::string stranger = prefix + "-r2";  // a namespace the build will want
  ASSERT_EQ(RunProgram({"ip", "netns", "add", stranger}).ExitCode, 0);
  const CommandResult up =
      RunProgram({LabScriptPath(), "up", "--routers", "3", "--prefix", prefix});
  const std::vector<std::string> left = Leftovers(prefix);
  RunProgram({"ip", "netns", "delete", stranger});
  EXPECT_EQ(up.ExitCode, 1) << up.Output;
  EXPECT_EQ(left, std::vector<std::string>{"/run/netns/" + stranger});
}

TEST(LabScript, AnExistingPrefixIsNotBuiltTwice) {
  QUILLON_START_LAB(lab, LabOptions().WithRouters(0));
  const CommandResult again =
      RunProgram({LabScriptPath(), "up", "--routers", "0", "--prefix", lab.Facts().Prefix});
  EXPECT_EQ(again.ExitCode, 1) << again.Output;
  EXPECT_NE(again.Output.find("exists already"), std::string::npos) << again.Output;
  // The first lab still works.
  EXPECT_EQ(lab.RunInSource({"ping", "-n", "-q", "-c1", "-W2", lab.Facts().Target}).ExitCode, 0);
}

TEST(LabScript, ForwardersStopWhenTheirOwnerIsGone) {
  if (!IsRoot()) GTEST_SKIP() << "building a lab needs root";
  const pid_t owner = ::fork();
  ASSERT_GE(owner, 0);
  if (owner == 0) {
    ::pause();
    ::_exit(0);
  }
  const std::string prefix = UniquePrefix();
  const CommandResult up =
      RunProgram({LabScriptPath(), "up", "--routers", "1", "--prefix", prefix, "--delay", "1",
                  "--delaylink", DelayLinkPath(), "--owner", std::to_string(owner)});
  const std::vector<int> pids = ForwarderPids(prefix);
  ::kill(owner, SIGKILL);
  ::waitpid(owner, nullptr, 0);
  EXPECT_EQ(up.ExitCode, 0) << up.Output;
  EXPECT_EQ(pids.size(), 2u);
  EXPECT_TRUE(AllGone(pids));
  EXPECT_EQ(RunProgram({LabScriptPath(), "down", prefix}).ExitCode, 0);
  EXPECT_TRUE(Leftovers(prefix).empty());
}

TEST(LabScript, TheDelayLinkRefusesBadArgumentsAndMissingNamespaces) {
  const std::string program = DelayLinkPath();
  const struct {
    std::vector<std::string> Arguments;
    int ExitCode;
    std::string Message;
  } cases[] = {
      {{}, 2, "both namespaces needed"},
      {{"--ns-a", "a", "--dev-a", "east", "--ns-b", "b", "--dev-b", "west"}, 2, "--delay needed"},
      {{"--delay", "x"}, 2, "bad delay: 'x'"},
      {{"--delay", "-5"}, 2, "bad delay: '-5'"},
      {{"--delay", "60001"}, 2, "bad delay: '60001'"},
      {{"--delay"}, 2, "missing value after --delay"},
      {{"--colour", "red"}, 2, "unknown option --colour"},
      {{"--ns-a", "a", "--dev-a", "a-name-far-too-long", "--ns-b", "b", "--dev-b", "west",
        "--delay", "1"},
       2,
       "bad device name 'a-name-far-too-long'"},
      {{"--ns-a", "quillon-no-such-lab", "--dev-a", "east", "--ns-b", "quillon-no-such-lab",
        "--dev-b", "west", "--delay", "1"},
       1,
       "open /run/netns/quillon-no-such-lab: No such file or directory"},
  };
  for (const auto& badCase : cases) {
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), badCase.Arguments.begin(), badCase.Arguments.end());
    const CommandResult result = RunProgram(argv);
    EXPECT_EQ(result.ExitCode, badCase.ExitCode) << result.Output;
    EXPECT_NE(result.Output.find("quillon_delaylink: " + badCase.Message), std::string::npos)
        << result.Output;
  }
}

}  // namespace
}  // namespace quillon
