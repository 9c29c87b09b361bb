// The chain as the system's tools see it from the source namespace: addresses,
// forwarding, the ICMP errors of each option, and a source that reaches nothing
// outside the lab.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <regex>
#include <stdexcept>

#include "lab/LabNetwork.h"

namespace quillon {
namespace {

// One ping with a TTL from the source; the text ping printed.
CommandResult Ping(const LabNetwork& lab, const std::string& address, int ttl = 64) {
  return lab.RunInSource({"ping", "-n", "-c1", "-W1", "-t", std::to_string(ttl), address});
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(LabChain, HopsFollowTheAddressPlanAndEveryOneAnswers) {
  QUILLON_START_LAB(lab, LabOptions().WithRouters(3));
  const LabFacts& facts = lab.Facts();
  EXPECT_EQ(facts.Routers, 3);
  EXPECT_EQ(facts.Hops, 4);
  EXPECT_EQ(facts.SourceAddress, "198.18.0.1");
  ASSERT_EQ(facts.HopAddresses.size(), 4u);
  for (int hop = 1; hop <= facts.Hops; ++hop) {
    EXPECT_EQ(facts.Hop(hop), "198.18." + std::to_string(hop - 1) + ".2");
    const CommandResult ping = Ping(lab, facts.Hop(hop));
    EXPECT_EQ(ping.ExitCode, 0) << ping.Output;
    EXPECT_TRUE(Contains(ping.Output, "bytes from " + facts.Hop(hop) + ":")) << ping.Output;
  }
  EXPECT_EQ(facts.Target, facts.Hop(4));
  EXPECT_THROW(facts.Hop(0), std::out_of_range);
  EXPECT_THROW(facts.Hop(5), std::out_of_range);
}

TEST(LabChain, EachTtlExpiresAtItsRouterAndTheLastReachesTheTarget) {
  QUILLON_START_LAB(lab, LabOptions().WithRouters(3));
  const LabFacts& facts = lab.Facts();
  for (int ttl = 1; ttl < facts.Hops; ++ttl) {
    const CommandResult ping = Ping(lab, facts.Target, ttl);
    EXPECT_NE(ping.ExitCode, 0);
    EXPECT_TRUE(
        Contains(ping.Output, "From " + facts.Hop(ttl) + " icmp_seq=1 Time to live exceeded"))
        << "TTL " << ttl << ":\n"
        << ping.Output;
  }
  const CommandResult ping = Ping(lab, facts.Target, facts.Hops);
  EXPECT_EQ(ping.ExitCode, 0) << ping.Output;
  // The target answers with TTL 64, less one for each router on the way back.
  EXPECT_TRUE(Contains(ping.Output, "bytes from " + facts.Target + ": icmp_seq=1 ttl=61"))
      << ping.Output;
}

TEST(LabChain, OptionsSilenceRejectAndDropWhereAsked) {
  QUILLON_START_LAB(silentLab, LabOptions().WithRouters(3).WithSilent({2}));
  EXPECT_TRUE(
      Contains(Ping(silentLab, silentLab.Facts().Target, 1).Output, "Time to live exceeded"));
  const CommandResult silent = Ping(silentLab, silentLab.Facts().Target, 2);
  EXPECT_NE(silent.ExitCode, 0);
  EXPECT_TRUE(Contains(silent.Output, "0 received")) << silent.Output;
  EXPECT_FALSE(Contains(silent.Output, "From ")) << silent.Output;
  // A silent router still forwards and still answers echoes of its own.
  EXPECT_EQ(Ping(silentLab, silentLab.Facts().Target).ExitCode, 0);
  EXPECT_EQ(Ping(silentLab, silentLab.Facts().Hop(2)).ExitCode, 0);

  QUILLON_START_LAB(prohibitLab, LabOptions().WithRouters(2).WithProhibit(1));
  const CommandResult filtered = Ping(prohibitLab, prohibitLab.Facts().Target);
  EXPECT_TRUE(Contains(filtered.Output,
                       "From " + prohibitLab.Facts().Hop(1) + " icmp_seq=1 Packet filtered"))
      << filtered.Output;
  // The TTL is checked before the filter: TTL 1 still expires there.
  EXPECT_TRUE(
      Contains(Ping(prohibitLab, prohibitLab.Facts().Target, 1).Output, "Time to live exceeded"));

  QUILLON_START_LAB(dropLab, LabOptions().WithRouters(1).WithDropEcho());
  const CommandResult dropped = Ping(dropLab, dropLab.Facts().Target);
  EXPECT_NE(dropped.ExitCode, 0);
  EXPECT_TRUE(Contains(dropped.Output, "0 received")) << dropped.Output;
  EXPECT_EQ(Ping(dropLab, dropLab.Facts().Hop(1)).ExitCode, 0);
}

// An echo request of our own making, sequence number in network order.
std::array<std::uint8_t, 16> EchoRequest(std::uint8_t type, std::uint16_t sequence) {
  const auto high = static_cast<std::uint8_t>(sequence >> 8);
  const auto low = static_cast<std::uint8_t>(sequence & 0xFF);
  return {type, 0, 0, 0, 0x51, 0x4c, high, low, 'q', 'u', 'i', 'l', 'l', 'o', 'n', 0};
}

// Stores at `at` the RFC 1071 checksum of the bytes added to `sum` (spoilt
// when asked).
void StoreChecksum(std::uint32_t sum, const std::uint8_t* bytes, std::size_t size, bool spoil,
                   std::uint8_t* at) {
  for (std::size_t i = 0; i < size; i += 2) {
    sum += static_cast<std::uint32_t>(bytes[i] << 8 | bytes[i + 1]);
  }
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  const auto checksum = static_cast<std::uint16_t>(~sum ^ (spoil ? 0x0100u : 0u));
  at[0] = static_cast<std::uint8_t>(checksum >> 8);
  at[1] = static_cast<std::uint8_t>(checksum & 0xFF);
}

// Whether a datagram the test takes for the reply arrives on fd within half a
// second.
bool ReplyArrives(int fd, const std::function<bool(const std::uint8_t*, ssize_t)>& isReply) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, 50) <= 0) continue;
    std::array<std::uint8_t, 1500> reply{};
    if (isReply(reply.data(), ::recv(fd, reply.data(), reply.size(), 0))) return true;
  }
  return false;
}

// Sends one echo request of our own making from a raw socket (with its
// checksum spoilt when asked) and tells whether the address echoed it.
bool RawEchoAnswered(const std::string& address, bool spoilChecksum, std::uint16_t sequence) {
  std::array<std::uint8_t, 16> request = EchoRequest(8, sequence);
  StoreChecksum(0, request.data(), request.size(), spoilChecksum, request.data() + 2);

  const int fd = ::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
  if (fd < 0) throw std::runtime_error("no raw socket");
  sockaddr_in to{};
  to.sin_family = AF_INET;
  ::inet_pton(AF_INET, address.c_str(), &to.sin_addr);
  if (::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof to) != static_cast<ssize_t>(request.size())) {
    ::close(fd);
    throw std::runtime_error("sendto failed");
  }
  const bool answered = ReplyArrives(fd, [&](const std::uint8_t* reply, ssize_t count) {
    const std::size_t header = (reply[0] & 0x0Fu) * 4u;
    return count >= static_cast<ssize_t>(header + 8) && reply[header] == 0 &&
           reply[header + 6] == request[6] && reply[header + 7] == request[7];
  });
  ::close(fd);
  return answered;
}

// The same over IPv6. A raw ICMPv6 socket always gets its checksum from the
// kernel, so the request goes out whole, IPv6 header included, from a socket
// of IPPROTO_RAW, and the reply comes back to an ICMPv6 one.
bool RawEcho6Answered(const std::string& source, const std::string& address, bool spoilChecksum,
                      std::uint16_t sequence) {
  std::array<std::uint8_t, 56> packet = {0x60, 0, 0, 0, 0, 16, 58, 64};
  ::inet_pton(AF_INET6, source.c_str(), packet.data() + 8);
  ::inet_pton(AF_INET6, address.c_str(), packet.data() + 24);
  const std::array<std::uint8_t, 16> request = EchoRequest(128, sequence);
  std::copy(request.begin(), request.end(), packet.begin() + 40);
  // The pseudo-header: both addresses, the length and the next header.
  StoreChecksum(16 + 58, packet.data() + 8, packet.size() - 8, spoilChecksum, packet.data() + 42);

  const int listener = ::socket(AF_INET6, SOCK_RAW, IPPROTO_ICMPV6);
  const int sender = ::socket(AF_INET6, SOCK_RAW, IPPROTO_RAW);
  if (listener < 0 || sender < 0) throw std::runtime_error("no raw IPv6 socket");
  sockaddr_in6 to{};
  to.sin6_family = AF_INET6;
  ::inet_pton(AF_INET6, address.c_str(), &to.sin6_addr);
  const bool sent =
      ::sendto(sender, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof to) == static_cast<ssize_t>(packet.size());
  ::close(sender);
  const bool answered =
      sent && ReplyArrives(listener, [&](const std::uint8_t* reply, ssize_t count) {
        return count >= 8 && reply[0] == 129 && reply[6] == request[6] && reply[7] == request[7];
      });
  ::close(listener);
  if (!sent) throw std::runtime_error("sendto failed");
  return answered;
}

TEST(LabChain, AVerifyingTargetIgnoresARequestWithAWrongChecksum) {
  QUILLON_START_LAB(lab, LabOptions().WithRouters(1).WithVerifiedChecksums().WithIPv6());
  EXPECT_TRUE(lab.Facts().VerifyChecksums);
  const std::string target = lab.Facts().Target;
  const std::string target6 = lab.Facts().Target6;
  const auto word = [](bool answered) { return answered ? ":answered" : ":silent"; };
  const CommandResult result = lab.RunInSourceProcess([&] {
    return std::string("good") + word(RawEchoAnswered(target, false, 0x1234)) + " spoilt" +
           word(RawEchoAnswered(target, true, 0x1235)) + " good6" +
           word(RawEcho6Answered("2001:2::1", target6, false, 0x2234)) + " spoilt6" +
           word(RawEcho6Answered("2001:2::1", target6, true, 0x2235));
  });
  EXPECT_EQ(result.ExitCode, 0) << result.Output;
  EXPECT_EQ(result.Output, "good:answered spoilt:silent good6:answered spoilt6:silent");
}

TEST(LabChain, TheSourceReachesNothingButTheLabAndItsLoopback) {
  QUILLON_START_LAB(lab, LabOptions().WithRouters(1));
  EXPECT_EQ(Ping(lab, "127.0.0.1").ExitCode, 0);
  // Only a route look-up: nothing is sent.
  const CommandResult route = lab.RunInSource({"ip", "route", "get", "192.0.2.1"});
  EXPECT_NE(route.ExitCode, 0);
  EXPECT_TRUE(Contains(route.Output, "Network is unreachable")) << route.Output;
  const CommandResult routes = lab.RunInSource({"ip", "-4", "route", "show"});
  EXPECT_FALSE(Contains(routes.Output, "default")) << routes.Output;
  EXPECT_TRUE(Contains(routes.Output, "198.18.0.0/15 via 198.18.0.2 dev east")) << routes.Output;
}

TEST(LabChain, IcmpLimitsAreOffInEveryNamespace) {
  QUILLON_START_LAB(lab, LabOptions().WithRouters(2));
  const std::string prefix = lab.Facts().Prefix;
  for (const std::string node : {"src", "r1", "r2", "dst"}) {
    const CommandResult values =
        RunProgram({"ip", "netns", "exec", prefix + "-" + node, "sysctl", "-n",
                    "net.ipv4.icmp_ratelimit", "net.ipv4.conf.all.rp_filter"});
    EXPECT_EQ(values.Output, "0\n0\n") << node;
  }
  // A burst of errors from one router all come back: no limit thins them out.
  const CommandResult burst = lab.RunInSource(
      {"ping", "-n", "-q", "-c", "50", "-i", "0.002", "-W1", "-t", "1", lab.Facts().Target});
  EXPECT_TRUE(Contains(burst.Output, "50 packets transmitted, 0 received, +50 errors"))
      << burst.Output;
}

TEST(LabFacts, ParseReadsTheScriptReportAndRefusesAnIncompleteOne) {
  const std::string report =
      "noise before\nLAB_PREFIX=p\nLAB_SRC=p-src\nLAB_SRC_ADDR=198.18.0.1\nLAB_TARGET_NS=p-dst\n"
      "LAB_TARGET=198.18.1.2\nLAB_ROUTERS=1\nLAB_HOPS=2\nLAB_DELAY_MS=5\nLAB_VERIFY_CHECKSUMS=1\n"
      "LAB_HOP_1=198.18.0.2\nLAB_NAME_1=gw\nLAB_HOP_2=198.18.1.2\n";
  const std::optional<LabFacts> facts = LabFacts::Parse(report);
  ASSERT_TRUE(facts.has_value());
  EXPECT_EQ(facts->SourceNamespace, "p-src");
  EXPECT_EQ(facts->DelayMs, 5);
  EXPECT_TRUE(facts->VerifyChecksums);
  EXPECT_EQ(facts->HopAddresses, (std::vector<std::string>{"198.18.0.2", "198.18.1.2"}));
  EXPECT_EQ(facts->Names, (std::map<int, std::string>{{1, "gw"}}));

  // The words handed to a child read back to the same facts.
  std::string words;
  for (const auto& word : facts->EnvironmentWords()) words += word + "\n";
  const std::optional<LabFacts> again = LabFacts::Parse(words);
  ASSERT_TRUE(again.has_value());
  EXPECT_EQ(again->HopAddresses, facts->HopAddresses);
  EXPECT_EQ(again->Names, facts->Names);
  EXPECT_EQ(again->Target, facts->Target);
  EXPECT_TRUE(again->VerifyChecksums);

  EXPECT_FALSE(LabFacts::Parse(std::regex_replace(report, std::regex("LAB_HOP_2=.*\n"), "")));
  EXPECT_FALSE(LabFacts::Parse(std::regex_replace(report, std::regex("LAB_HOPS=2"), "LAB_HOPS=3")));
  EXPECT_FALSE(
      LabFacts::Parse(std::regex_replace(report, std::regex("LAB_ROUTERS=1"), "LAB_ROUTERS=x")));
  EXPECT_FALSE(LabFacts::Parse(""));
}

}  // namespace
}  // namespace quillon
