#include "lab/LabNetwork.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "net/IcmpHelperPosix.h"

extern char** environ;

namespace quillon {
namespace {

constexpr int kSkipExitCode = 77;
constexpr const char* kInsideVariable = "QUILLON_LAB_INSIDE";

int ToInt(const std::string& text) {
  try {
    std::size_t used = 0;
    const int value = std::stoi(text, &used);
    return used == text.size() ? value : -1;
  } catch (const std::exception&) {
    return -1;
  }
}

// Reads the child's output until it closes the pipe or the time runs out (then
// the child is killed), and reaps it.
CommandResult CollectChild(pid_t pid, int readFd, int timeoutMs) {
  CommandResult result;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  bool killed = false;
  char buffer[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0 && !killed) {
      ::kill(pid, SIGKILL);
      killed = true;
      result.Output += "\n[killed after " + std::to_string(timeoutMs) + " ms]\n";
    }
    pollfd fd{readFd, POLLIN, 0};
    // After the kill, anything the child's own children still hold open is not
    // waited for beyond a short grace.
    const int ready = ::poll(&fd, 1, killed ? 1000 : static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      if (killed) break;
      continue;
    }
    const ssize_t count = ::read(readFd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    result.Output.append(buffer, static_cast<std::size_t>(count));
  }
  ::close(readFd);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

struct Pipe {
  int Read = -1;
  int Write = -1;
  Pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    Read = fds[0];
    Write = fds[1];
  }
};

// The process environment with the extra VAR=value words in force.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
  std::vector<std::string> merged;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string word = *entry;
    const auto equals = word.find('=');
    const std::string name = word.substr(0, equals == std::string::npos ? word.size() : equals + 1);
    bool replaced = false;
    for (const auto& added : extra) replaced = replaced || added.rfind(name, 0) == 0;
    if (!replaced) merged.push_back(word);
  }
  merged.insert(merged.end(), extra.begin(), extra.end());
  return merged;
}

std::vector<char*> PointerList(std::vector<std::string>& words) {
  std::vector<char*> list;
  for (auto& word : words) list.push_back(word.data());
  list.push_back(nullptr);
  return list;
}

std::string SelfExecutable() {
  char path[4096];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) throw std::runtime_error("cannot read /proc/self/exe");
  return std::string(path, static_cast<std::size_t>(length));
}

}  // namespace

const std::string& LabFacts::Hop(int ttl) const {
  if (ttl < 1 || ttl > static_cast<int>(HopAddresses.size())) {
    throw std::out_of_range("no hop " + std::to_string(ttl) + " in this lab");
  }
  return HopAddresses[static_cast<std::size_t>(ttl - 1)];
}

std::optional<LabFacts> LabFacts::Parse(const std::string& text) {
  std::map<std::string, std::string> values;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const auto equals = line.find('=');
    if (line.rfind("LAB_", 0) != 0 || equals == std::string::npos) continue;
    values[line.substr(0, equals)] = line.substr(equals + 1);
  }
  LabFacts facts;
  facts.Prefix = values["LAB_PREFIX"];
  facts.SourceNamespace = values["LAB_SRC"];
  facts.SourceAddress = values["LAB_SRC_ADDR"];
  facts.TargetNamespace = values["LAB_TARGET_NS"];
  facts.Target = values["LAB_TARGET"];
  facts.Routers = ToInt(values["LAB_ROUTERS"]);
  facts.Hops = ToInt(values["LAB_HOPS"]);
  facts.DelayMs = ToInt(values["LAB_DELAY_MS"]);
  facts.VerifyChecksums = values["LAB_VERIFY_CHECKSUMS"] == "1";
  facts.DnsLog = values["LAB_DNS_LOG"];
  facts.TcpPort = values.contains("LAB_TCP_PORT") ? ToInt(values["LAB_TCP_PORT"]) : 0;
  if (facts.Prefix.empty() || facts.SourceNamespace.empty() || facts.Target.empty() ||
      facts.Routers < 0 || facts.Hops != facts.Routers + 1 || facts.DelayMs < 0) {
    return std::nullopt;
  }
  for (int hop = 1; hop <= facts.Hops; ++hop) {
    const std::string suffix = std::to_string(hop);
    const std::string address = values["LAB_HOP_" + suffix];
    if (address.empty()) return std::nullopt;
    facts.HopAddresses.push_back(address);
    const auto name = values.find("LAB_NAME_" + suffix);
    if (name != values.end()) facts.Names[hop] = name->second;
  }
  if (facts.HopAddresses.back() != facts.Target) return std::nullopt;
  if (values["LAB_IPV6"] == "1") {
    facts.Target6 = values["LAB_TARGET6"];
    for (int hop = 1; hop <= facts.Hops; ++hop)
      facts.HopAddresses6.push_back(values["LAB_HOP6_" + std::to_string(hop)]);
    if (facts.HopAddresses6.back().empty() || facts.HopAddresses6.back() != facts.Target6)
      return std::nullopt;
  }
  return facts;
}

std::optional<LabFacts> LabFacts::FromEnvironment() {
  std::string text;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    text += *entry;
    text += '\n';
  }
  return Parse(text);
}

std::vector<std::string> LabFacts::EnvironmentWords() const {
  std::vector<std::string> words = {
      "LAB_PREFIX=" + Prefix,
      "LAB_SRC=" + SourceNamespace,
      "LAB_SRC_ADDR=" + SourceAddress,
      "LAB_TARGET_NS=" + TargetNamespace,
      "LAB_TARGET=" + Target,
      "LAB_ROUTERS=" + std::to_string(Routers),
      "LAB_HOPS=" + std::to_string(Hops),
      "LAB_DELAY_MS=" + std::to_string(DelayMs),
      std::string("LAB_VERIFY_CHECKSUMS=") + (VerifyChecksums ? "1" : "0"),
  };
  for (std::size_t i = 0; i < HopAddresses.size(); ++i) {
    words.push_back("LAB_HOP_" + std::to_string(i + 1) + "=" + HopAddresses[i]);
  }
  for (const auto& [hop, name] : Names) {
    words.push_back("LAB_NAME_" + std::to_string(hop) + "=" + name);
  }
  if (!DnsLog.empty()) words.push_back("LAB_DNS_LOG=" + DnsLog);
  if (TcpPort != 0) words.push_back("LAB_TCP_PORT=" + std::to_string(TcpPort));
  if (!Target6.empty()) words.insert(words.end(), {"LAB_IPV6=1", "LAB_TARGET6=" + Target6});
  for (std::size_t i = 0; i < HopAddresses6.size(); ++i) {
    words.push_back("LAB_HOP6_" + std::to_string(i + 1) + "=" + HopAddresses6[i]);
  }
  return words;
}

CommandResult RunProgram(const std::vector<std::string>& argv,
                         const std::vector<std::string>& extraEnvironment, int timeoutMs) {
  if (argv.empty()) throw std::invalid_argument("RunProgram: no program");
  // Everything the child needs is made before the fork: after it, the child
  // only redirects and executes.
  std::vector<std::string> arguments = argv;
  std::vector<std::string> environment = MergedEnvironment(extraEnvironment);
  const std::vector<char*> argumentList = PointerList(arguments);
  const std::vector<char*> environmentList = PointerList(environment);
  const Pipe output;
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int devNull = ::open("/dev/null", O_RDONLY);
    ::dup2(devNull, 0);
    ::dup2(output.Write, 1);
    ::dup2(output.Write, 2);
    ::execvpe(argumentList[0], argumentList.data(), environmentList.data());
    static constexpr char kFailed[] = "exec failed\n";
    [[maybe_unused]] const auto ignored = ::write(2, kFailed, sizeof kFailed - 1);
    ::_exit(127);
  }
  ::close(output.Write);
  return CollectChild(pid, output.Read, timeoutMs);
}

// Both paths come from the build (tests/lab/CMakeLists.txt).
std::string ShellQuote(const std::string& word) {
  std::string out = "'";
  for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool OnPath(const std::string& program) {
  return RunProgram({"sh", "-c", "command -v " + ShellQuote(program)}).ExitCode == 0;
}

std::filesystem::path BuildDir() {
  if (const char* dir = std::getenv("QUILLON_BINARY_DIR"); dir != nullptr && *dir != '\0') {
    return dir;
  }
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : self.parent_path().parent_path().parent_path();
}

std::string LabScriptPath() {
  return QUILLON_LAB_SCRIPT;
}
std::string DelayLinkPath() {
  return QUILLON_DELAYLINK_PATH;
}

bool CopyWindowModule(const std::filesystem::path& program) {
  namespace fs = std::filesystem;
  const fs::path built = BuildDir() / "app" / QUILLON_WINDOW_MODULE;
  if (!fs::exists(built)) return false;
  const fs::path copy = (program.parent_path() / QUILLON_WINDOW_MODULE).lexically_normal();
  fs::create_directories(copy.parent_path());
  fs::copy_file(built, copy, fs::copy_options::overwrite_existing);
  return true;
}

bool CopyIcmpHelper(const std::filesystem::path& program) {
  namespace fs = std::filesystem;
  const fs::path built = IcmpHelperPath(BuildDir() / "app" / "quillon");
  const fs::path copy = IcmpHelperPath(program);
  std::error_code error;
  fs::create_directories(copy.parent_path(), error);
  fs::copy_file(built, copy, fs::copy_options::overwrite_existing, error);
  return !error && RunProgram({"setcap", "cap_net_raw+ep", copy.string()}).ExitCode == 0;
}

LabNetwork::LabNetwork(const LabOptions& options) {
  if (::geteuid() != 0) {
    state_ = State::Skipped;
    problem_ = "the lab needs root (network namespaces, raw sockets, nft)";
    return;
  }
  std::vector<std::string> argv = {LabScriptPath(), "up",
                                   "--routers",     std::to_string(options.Routers),
                                   "--owner",       std::to_string(::getpid())};
  auto joined = [](const auto& items, auto text) {
    std::string list;
    for (const auto& item : items) list += (list.empty() ? "" : ",") + text(item);
    return list;
  };
  if (!options.Silent.empty()) {
    argv.insert(
        argv.end(),
        {"--silent", joined(options.Silent, [](int router) { return std::to_string(router); })});
  }
  if (options.DropEcho) argv.emplace_back("--drop-echo");
  if (options.Prohibit > 0)
    argv.insert(argv.end(), {"--prohibit", std::to_string(options.Prohibit)});
  if (options.IcmpLimit > 0)
    argv.insert(argv.end(), {"--icmp-limit", std::to_string(options.IcmpLimit)});
  if (options.FilterEcho > 0)
    argv.insert(argv.end(), {"--filter-echo", std::to_string(options.FilterEcho)});
  if (options.ListenPort > 0)
    argv.insert(argv.end(), {"--listen", std::to_string(options.ListenPort)});
  if (options.LossyRouter > 0) {
    argv.insert(argv.end(), {"--lossy", std::to_string(options.LossyRouter) + ":" +
                                            std::to_string(options.LossyEvery)});
  }
  if (!options.Names.empty()) {
    argv.insert(argv.end(), {"--names", joined(options.Names, [](const auto& entry) {
                               return entry.first + "=" + entry.second;
                             })});
  }
  if (!options.AsNumbers.empty()) {
    argv.insert(argv.end(), {"--asn", joined(options.AsNumbers, [](const auto& entry) {
                               return entry.first + "=" + entry.second;
                             })});
  }
  if (options.DelayMs > 0) argv.insert(argv.end(), {"--delay", std::to_string(options.DelayMs)});
  if (options.VerifyChecksums) argv.emplace_back("--verify-checksums");
  if (options.IPv6) argv.emplace_back("--ipv6");
  if (options.DelayMs > 0 || options.VerifyChecksums) {
    argv.insert(argv.end(), {"--delaylink", DelayLinkPath()});
  }
  const CommandResult result = RunProgram(argv);
  if (result.ExitCode == kSkipExitCode) {
    state_ = State::Skipped;
    problem_ = result.Output;
    return;
  }
  std::optional<LabFacts> facts = LabFacts::Parse(result.Output);
  if (result.ExitCode != 0 || !facts) {
    // A half-built lab is torn down by the script itself; a built one whose
    // report we cannot read is torn down here.
    if (facts) RunProgram({LabScriptPath(), "down", facts->Prefix});
    problem_ = "lab.sh up failed (exit " + std::to_string(result.ExitCode) + "):\n" + result.Output;
    return;
  }
  facts_ = std::move(*facts);
  state_ = State::Up;
}

LabNetwork::~LabNetwork() {
  const CommandResult result = TearDown();
  if (result.ExitCode != 0) {
    std::fprintf(stderr, "lab.sh down %s failed: %s\n", facts_.Prefix.c_str(),
                 result.Output.c_str());
  }
}

CommandResult LabNetwork::TearDown() {
  if (state_ != State::Up) return {0, ""};
  state_ = State::Failed;
  problem_ = "the lab was torn down";
  return RunProgram({LabScriptPath(), "down", facts_.Prefix});
}

CommandResult LabNetwork::RunInSource(const std::vector<std::string>& argv, int timeoutMs) const {
  if (state_ != State::Up) return {-1, "the lab is not up"};
  std::vector<std::string> command = {"ip", "netns", "exec", facts_.SourceNamespace};
  command.insert(command.end(), argv.begin(), argv.end());
  return RunProgram(command, facts_.EnvironmentWords(), timeoutMs);
}

CommandResult LabNetwork::RunInSourceProcess(const std::function<std::string()>& body,
                                             int timeoutMs) const {
  if (state_ != State::Up) return {-1, "the lab is not up"};
  const std::string path = "/run/netns/" + facts_.SourceNamespace;
  const Pipe output;
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    std::string text;
    int code = 0;
    try {
      const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) {
        throw std::runtime_error("cannot enter " + path + ": " + std::strerror(errno));
      }
      ::close(fd);
      text = body();
    } catch (const std::exception& error) {
      text = error.what();
      code = 1;
    } catch (...) {
      text = "an exception of unknown type";
      code = 1;
    }
    std::size_t written = 0;
    while (written < text.size()) {
      const ssize_t count = ::write(output.Write, text.data() + written, text.size() - written);
      if (count <= 0) break;
      written += static_cast<std::size_t>(count);
    }
    // No exit handlers: they belong to the parent's test run.
    ::_exit(code);
  }
  ::close(output.Write);
  return CollectChild(pid, output.Read, timeoutMs);
}

CommandResult LabNetwork::RunCurrentTestInSource(int timeoutMs) const {
  if (state_ != State::Up) return {-1, "the lab is not up"};
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  if (test == nullptr) return {-1, "RunCurrentTestInSource called outside a test"};
  const std::string filter =
      std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
  std::vector<std::string> environment = facts_.EnvironmentWords();
  environment.push_back(std::string(kInsideVariable) + "=1");
  CommandResult result =
      RunProgram({"ip", "netns", "exec", facts_.SourceNamespace, SelfExecutable(), filter,
                  "--gtest_color=no", "--gtest_brief=0"},
                 environment, timeoutMs);
  // A filter that matched nothing, or a skip inside, would also exit 0.
  if (result.ExitCode == 0 && (result.Output.find("[  PASSED  ] 1 test.") == std::string::npos ||
                               result.Output.find("[  SKIPPED ]") != std::string::npos)) {
    result.ExitCode = 1;
    result.Output += "\n[the test did not run and pass inside the lab]\n";
  }
  return result;
}

bool LabNetwork::InsideLab() {
  const char* inside = std::getenv(kInsideVariable);
  return inside != nullptr && std::strcmp(inside, "1") == 0;
}

}  // namespace quillon
