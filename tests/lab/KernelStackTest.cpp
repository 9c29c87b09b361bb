// The POSIX stack against the real kernel, as root. Every case runs inside
// network namespaces of its own: the test binary re-runs itself with a filter
// under `ip netns exec`, so the namespace's own hosts file and resolv.conf
// (a resolver at 127.0.0.1 where nothing listens) apply and no lookup or
// packet leaves the machine.
#include <gtest/gtest.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <latch>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "net/IcmpDatagramPosix.h"
#include "net/IdException.h"
#include "net/IdStackPosix.h"

namespace quillon {
namespace {

constexpr const char* kInsideVariable = "QUILLON_KERNEL_STACK_INSIDE";
constexpr const char* kHostsFile =
    "127.0.0.1\tlocalhost loopback.quillon.test\n"
    "::1\tlocalhost ip6-localhost\n"
    "198.51.100.7\tlabhost.quillon.test labhost\n";
// Behind the router namespace: a network it sends back where it came from (so
// that a request with TTL 1 expires there) and one it has no route to.
constexpr const char* kRoutedOn = "198.18.99.1";
constexpr const char* kUnroutable = "198.18.98.1";
constexpr const char* kRouterAddress = "198.18.250.2";

bool InsideNamespace() {
  return std::getenv(kInsideVariable) != nullptr;
}

struct TCommandResult {
  int ExitCode = -1;
  std::string Output;
};

TCommandResult Run(const std::string& command) {
  TCommandResult result;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  std::array<char, 4096> chunk{};
  while (std::fgets(chunk.data(), static_cast<int>(chunk.size()), pipe) != nullptr) {
    result.Output += chunk.data();
  }
  const int status = pclose(pipe);
  result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  return result;
}

std::string ThisExecutable() {
  std::error_code error;
  return std::filesystem::read_symlink("/proc/self/exe", error).string();
}

// A namespace with loopback up and name files of our own; with a router, a
// second namespace joined by a veth pair that forwards and answers with ICMP
// errors without rate limit. Both go when the object
// goes, whatever happened in between.
class TKernelLab {
 public:
  explicit TKernelLab(bool withRouter) {
    static std::atomic<int> serial{0};
    const std::string id = std::to_string(getpid()) + "x" + std::to_string(serial.fetch_add(1));
    name_ = "qnl" + id;
    router_ = withRouter ? "qnr" + id : "";
    std::error_code ignored;
    std::filesystem::create_directories(NameFolder(), ignored);
    std::ofstream(NameFolder() + "/hosts") << kHostsFile;
    std::ofstream(NameFolder() + "/resolv.conf")
        << "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n";
    Step("ip netns add " + name_);
    Step("ip -n " + name_ + " link set lo up");
    if (!withRouter) return;
    Step("ip netns add " + router_);
    Step("ip -n " + router_ + " link set lo up");
    Step("ip -n " + name_ + " link add west type veth peer name east netns " + router_);
    Step("ip -n " + name_ + " addr add 198.18.250.1/24 dev west");
    Step("ip -n " + router_ + " addr add " + kRouterAddress + "/24 dev east");
    Step("ip -n " + name_ + " link set west up");
    Step("ip -n " + router_ + " link set east up");
    Step("ip -n " + name_ + " route add 198.18.96.0/22 via " + kRouterAddress);
    Step("ip -n " + router_ + " route add 198.18.99.0/24 via 198.18.250.1");
    Step("ip netns exec " + router_ + " sysctl -qw net.ipv4.ip_forward=1");
    Step("ip netns exec " + router_ + " sysctl -qw net.ipv4.icmp_ratelimit=0");
  }
  ~TKernelLab() {
    Run("ip netns del " + name_);
    if (!router_.empty()) Run("ip netns del " + router_);
    std::error_code ignored;
    std::filesystem::remove_all(NameFolder(), ignored);
  }
  TKernelLab(const TKernelLab&) = delete;
  TKernelLab& operator=(const TKernelLab&) = delete;

  const std::string& Problem() const { return problem_; }

  // The running test, alone, inside the namespace. Empty when it ran and passed.
  std::string RunCurrentTestInside() const {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter = std::string(test->test_suite_name()) + "." + test->name();
    const TCommandResult result = Run("ip netns exec " + name_ + " env " + kInsideVariable + "=1 " +
                                      ThisExecutable() + " --gtest_filter=" + filter);
    if (result.ExitCode == 0 && result.Output.find("[  PASSED  ] 1 test") != std::string::npos) {
      return "";
    }
    return "exit code " + std::to_string(result.ExitCode) + ":\n" + result.Output;
  }

 private:
  std::string NameFolder() const { return "/etc/netns/" + name_; }
  void Step(const std::string& command) {
    if (!problem_.empty()) return;
    const TCommandResult result = Run(command);
    if (result.ExitCode != 0) problem_ = command + ": " + result.Output;
  }

  std::string name_;
  std::string router_;
  std::string problem_;
};

// Either runs the checks (inside) or sets up the lab and re-runs this test in it.
#define QUILLON_KERNEL_LAB(withRouter)                                       \
  if (!InsideNamespace()) {                                                  \
    if (geteuid() != 0) GTEST_SKIP() << "needs root for network namespaces"; \
    TKernelLab lab(withRouter);                                              \
    ASSERT_EQ(lab.Problem(), "") << "the namespace could not be set up";     \
    EXPECT_EQ(lab.RunCurrentTestInside(), "");                               \
    return;                                                                  \
  }

using TBytes = std::vector<std::uint8_t>;

// An echo request as the ICMP client builds it: identifier and sequence number
// least significant byte first.
TBytes EchoRequest(std::uint16_t sequence) {
  TBytes request = {8,
                    0,
                    0,
                    0,
                    0x34,
                    0x12,
                    static_cast<std::uint8_t>(sequence & 0xFF),
                    static_cast<std::uint8_t>(sequence >> 8),
                    1,
                    2,
                    3,
                    4};
  const std::uint16_t sum = InternetChecksum(request);
  request[2] = static_cast<std::uint8_t>(sum >> 8);
  request[3] = static_cast<std::uint8_t>(sum & 0xFF);
  return request;
}

struct TReceived {
  TBytes Datagram;
  std::uint8_t Type = 0;
  std::uint16_t Sequence = 0;
  std::string From;
  std::uint8_t Ttl = 0;
};

// Reads datagrams as the ICMP client does until one of the wanted type carries
// the sequence number; nullopt when none comes within a few seconds.
std::optional<TReceived> AwaitAnswer(TIdStackPosix& stack, int socket, std::uint8_t wantedType,
                                     std::uint16_t sequence) {
  for (int attempt = 0; attempt < 20; ++attempt) {
    TIdSocketList reads{socket};
    if (stack.SockSelect(&reads, nullptr, nullptr, 3000) <= 0) return std::nullopt;
    std::array<std::uint8_t, 10240> area{};
    const int count = stack.SockRecv(socket, area.data(), static_cast<int>(area.size()), 0);
    if (count < 0) return std::nullopt;
    const auto h = static_cast<std::size_t>((area[0] & 15) * 4);
    if (h + 8 > static_cast<std::size_t>(count)) continue;
    TReceived received;
    received.Datagram.assign(area.begin(), area.begin() + count);
    received.Type = area[h];
    const std::size_t at = received.Type == 0 || received.Type == 8 ? h + 6 : h + 8 + h + 6;
    received.Sequence = static_cast<std::uint16_t>(area[at] | area[at + 1] << 8);
    received.From = stack.AddrToText({area[12], area[13], area[14], area[15]});
    received.Ttl = area[8];
    if (received.Type == wantedType && received.Sequence == sequence) return received;
  }
  return std::nullopt;
}

// Runs body in a child process that has given up root (and with it the right to
// open raw sockets); returns what body returned, or why it could not run.
std::string RunWithoutRoot(const std::function<std::string()>& body) {
  int channel[2];
  if (pipe(channel) != 0) return "no pipe";
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    std::string result;
    if (setgid(65534) != 0 || setuid(65534) != 0) {
      result = "cannot drop root";
    } else {
      try {
        result = body();
      } catch (const std::exception& e) {
        result = std::string("raised: ") + e.what();
      }
    }
    const ssize_t ignored = write(channel[1], result.data(), result.size());
    static_cast<void>(ignored);
    _exit(0);
  }
  close(channel[1]);
  std::string result;
  std::array<char, 1024> chunk{};
  ssize_t count = 0;
  while ((count = read(channel[0], chunk.data(), chunk.size())) > 0) {
    result.append(chunk.data(), static_cast<std::size_t>(count));
  }
  close(channel[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return result;
}

// The first name the namespace's hosts file gives for an address.
std::string HostsFileName(const std::string& address) {
  std::ifstream hosts("/etc/hosts");
  std::string line;
  while (std::getline(hosts, line)) {
    std::istringstream words(line);
    std::string first;
    std::string name;
    if (words >> first >> name && first == address) return name;
  }
  return "";
}

TEST(KernelStackTest, RawIcmpSocketOpensWithItsTtl) {
  QUILLON_KERNEL_LAB(false);
  TIdStackPosix stack;
  const int socket = stack.OpenSocket(Id_SOCK_RAW, Id_IPPROTO_ICMP);
  EXPECT_FALSE(stack.IsIcmpDatagramSocket(socket));
  const int ttl = 5;
  EXPECT_EQ(stack.SockSetOption(socket, Id_IPPROTO_IP, Id_IP_TTL, &ttl, sizeof ttl), 0);
  EXPECT_EQ(stack.SockClose(socket), 0);
}

// Without the filter neighbour discovery would reach the socket; with
// IPV6_RECVERR every error would arrive twice.
TEST(KernelStackTest, RawIcmpV6SocketPassesOnlyRepliesUnreachablesAndTimeExceeded) {
  QUILLON_KERNEL_LAB(false);
  TIdStackPosix stack;
  const int socket = stack.OpenSocket(Id_SOCK_RAW, Id_IPPROTO_ICMPV6, TIdIPVersion::ivIPv6);
  EXPECT_FALSE(stack.IsIcmpDatagramSocket(socket));
  icmp6_filter filter{};
  socklen_t size = sizeof filter;
  ASSERT_EQ(getsockopt(socket, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, &size), 0);
  for (int type = 0; type < 256; ++type) {
    EXPECT_EQ(ICMP6_FILTER_WILLPASS(type, &filter), type == 1 || type == 3 || type == 129) << type;
  }
  const auto option = [socket](int name) {
    int value = -1;
    socklen_t length = sizeof value;
    getsockopt(socket, IPPROTO_IPV6, name, &value, &length);
    return value;
  };
  EXPECT_EQ(option(IPV6_RECVHOPLIMIT), 1);
  EXPECT_EQ(option(IPV6_RECVERR), 0);
  const int hops = 7;
  EXPECT_EQ(stack.SockSetOption(socket, Id_IPPROTO_IPV6, Id_IPV6_UNICAST_HOPS, &hops, sizeof hops),
            0);
  EXPECT_EQ(option(IPV6_UNICAST_HOPS), 7);
  EXPECT_EQ(stack.SockClose(socket), 0);
}

TEST(KernelStackTest, NamesComeFromTheHostsFile) {
  QUILLON_KERNEL_LAB(false);
  TIdStackPosix stack;
  EXPECT_EQ(stack.HostNameToAddr("localhost"), "127.0.0.1");
  EXPECT_EQ(stack.HostNameToAddr("labhost"), "198.51.100.7");
  const std::string expected = HostsFileName("127.0.0.1");
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(stack.AddrToHostName("127.0.0.1"), expected);
  EXPECT_EQ(stack.AddrToHostName("198.51.100.7"), "labhost.quillon.test");
}

TEST(KernelStackTest, NamesNobodyKnowsFailWithALookupError) {
  QUILLON_KERNEL_LAB(false);
  TIdStackPosix stack;
  try {
    stack.HostNameToAddr("nowhere.quillon.test");
    FAIL() << "the lookup succeeded";
  } catch (const EIdSocketError& e) {
    EXPECT_TRUE(e.ErrorCode == Id_WSAHOST_NOT_FOUND || e.ErrorCode == Id_WSATRY_AGAIN)
        << e.ErrorCode;
    EXPECT_EQ(e.Message().rfind("Socket Error # " + std::to_string(e.ErrorCode) + "\r\n", 0), 0u);
  }
  try {
    stack.AddrToHostName("198.51.100.99");
    FAIL() << "the reverse lookup succeeded";
  } catch (const EIdSocketError& e) {
    EXPECT_GE(e.ErrorCode, Id_WSAHOST_NOT_FOUND);
    EXPECT_LE(e.ErrorCode, Id_WSANO_DATA);
  }
}

TEST(KernelStackTest, FiftyThreadsLookUpAtOnce) {
  QUILLON_KERNEL_LAB(false);
  TIdStackPosix stack;
  constexpr int kThreads = 50;
  std::latch start(kThreads);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      start.arrive_and_wait();
      for (int round = 0; round < 10; ++round) {
        if (i % 2 == 0 && stack.AddrToHostName("198.51.100.7") != "labhost.quillon.test") {
          wrong.fetch_add(1);
        }
        if (i % 2 == 1 && stack.HostNameToAddr("labhost") != "198.51.100.7") wrong.fetch_add(1);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(KernelStackTest, RawSocketSeesTheEchoReplyOverLoopback) {
  QUILLON_KERNEL_LAB(false);
  TIdStackPosix stack;
  const int socket = stack.OpenSocket(Id_SOCK_RAW, Id_IPPROTO_ICMP);
  const TBytes request = EchoRequest(3489);
  EXPECT_EQ(
      stack.SockSendTo(socket, request.data(), static_cast<int>(request.size()), 0, "127.0.0.1", 0),
      12);
  const std::optional<TReceived> reply = AwaitAnswer(stack, socket, 0, 3489);
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->Datagram.size(), 32u);
  EXPECT_EQ(reply->Datagram[0], 0x45);
  EXPECT_EQ(reply->From, "127.0.0.1");
  stack.SockClose(socket);
}

TEST(KernelStackTest, WithoutRawRightsTheDatagramSocketAnswersAlike) {
  QUILLON_KERNEL_LAB(false);
  // Only this namespace lets every group open ICMP datagram sockets.
  std::ofstream("/proc/sys/net/ipv4/ping_group_range") << "0 2147483647\n";
  const std::string result = RunWithoutRoot([]() -> std::string {
    if (socket(AF_INET, SOCK_RAW, IPPROTO_ICMP) >= 0) return "a raw socket opened without root";
    TIdStackPosix stack;
    const int handle = stack.OpenSocket(Id_SOCK_RAW, Id_IPPROTO_ICMP);
    if (!stack.IsIcmpDatagramSocket(handle)) return "not a datagram socket";
    const int ttl = 64;
    if (stack.SockSetOption(handle, Id_IPPROTO_IP, Id_IP_TTL, &ttl, sizeof ttl) != 0) {
      return "TTL refused";
    }
    const TBytes request = EchoRequest(4242);
    if (stack.SockSendTo(handle, request.data(), 12, 0, "127.0.0.1", 0) != 12) return "not sent";
    const std::optional<TReceived> reply = AwaitAnswer(stack, handle, 0, 4242);
    if (!reply) return "no reply";
    std::ostringstream facts;
    facts << reply->Datagram.size() << " bytes, 0x" << std::hex << int{reply->Datagram[0]}
          << std::dec << ", from " << reply->From << ", TTL " << int{reply->Ttl} << ", header sum "
          << InternetChecksum(TBytes(reply->Datagram.begin(), reply->Datagram.begin() + 20));
    stack.SockClose(handle);
    return facts.str();
  });
  EXPECT_EQ(result, "32 bytes, 0x45, from 127.0.0.1, TTL 64, header sum 0");
}

// Through the router: a network it has no route to is unreachable, and TTL 1
// expires there. Both arrive as the raw socket shows them, with or without root.
std::string ErrorsThroughTheRouter() {
  TIdStackPosix stack;
  const int handle = stack.OpenSocket(Id_SOCK_RAW, Id_IPPROTO_ICMP);
  std::ostringstream facts;
  facts << (stack.IsIcmpDatagramSocket(handle) ? "datagram" : "raw");
  struct TProbe {
    int Ttl;
    std::uint8_t Type;
    const char* Target;
  };
  const TProbe probes[] = {{64, 3, kUnroutable}, {1, 11, kRoutedOn}};
  std::uint16_t sequence = 700;
  for (const auto& [ttl, type, target] : probes) {
    ++sequence;
    stack.SockSetOption(handle, Id_IPPROTO_IP, Id_IP_TTL, &ttl, sizeof ttl);
    const TBytes request = EchoRequest(sequence);
    if (stack.SockSendTo(handle, request.data(), 12, 0, target, 0) != 12) {
      return facts.str() + ": not sent";
    }
    const std::optional<TReceived> answer = AwaitAnswer(stack, handle, type, sequence);
    if (!answer) {
      facts << "; no type " << int{type};
      continue;
    }
    const TBytes& d = answer->Datagram;
    facts << "; type " << int{answer->Type} << " code " << int{d[21]} << " from " << answer->From
          << " quoting " << stack.AddrToText({d[44], d[45], d[46], d[47]});
  }
  stack.SockClose(handle);
  return facts.str();
}

// What ErrorsThroughTheRouter reports when both answers came as expected.
std::string BothErrors(const char* socketKind) {
  return std::string(socketKind) + "; type 3 code 0 from " + kRouterAddress + " quoting " +
         kUnroutable + "; type 11 code 0 from " + kRouterAddress + " quoting " + kRoutedOn;
}

TEST(KernelStackTest, RouterErrorsReachTheRawSocket) {
  QUILLON_KERNEL_LAB(true);
  EXPECT_EQ(ErrorsThroughTheRouter(), BothErrors("raw"));
}

TEST(KernelStackTest, RouterErrorsReachTheDatagramSocketAlike) {
  QUILLON_KERNEL_LAB(true);
  std::ofstream("/proc/sys/net/ipv4/ping_group_range") << "0 2147483647\n";
  EXPECT_EQ(RunWithoutRoot(ErrorsThroughTheRouter), BothErrors("datagram"));
}

}  // namespace
}  // namespace quillon
