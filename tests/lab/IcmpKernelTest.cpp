// The echo client against the real kernel on loopback. Raw sockets need root;
// without it the tests skip.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "net/IdIcmpClient.h"

namespace quillon {
namespace {

class IcmpKernelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "raw ICMP sockets need root";
  }
};

// A second raw socket of the test's own, to see the kernel's echo replies that the
// client does not read (the client stops at its own request, which comes first).
class TReplyWatcher {
 public:
  TReplyWatcher() : socket_(::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP)) {}
  ~TReplyWatcher() {
    if (socket_ >= 0) ::close(socket_);
  }
  TReplyWatcher(const TReplyWatcher&) = delete;
  TReplyWatcher& operator=(const TReplyWatcher&) = delete;
  bool Ok() const { return socket_ >= 0; }

  // The ICMP part of the first echo reply (type 0) with the sequence number, or
  // empty when none comes within two seconds.
  std::vector<std::uint8_t> EchoReply(std::uint16_t sequence) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    std::array<std::uint8_t, 65536> datagram{};
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd wait{socket_, POLLIN, 0};
      if (::poll(&wait, 1, 200) <= 0) continue;
      const ssize_t count = ::recv(socket_, datagram.data(), datagram.size(), 0);
      if (count < 28) continue;
      const std::size_t header = (datagram[0] & 0x0FU) * 4U;
      const std::uint8_t* icmp = datagram.data() + header;
      const auto icmpLength = static_cast<std::size_t>(count) - header;
      if (icmp[0] == 0 && (icmp[6] | icmp[7] << 8) == sequence) {
        return std::vector<std::uint8_t>(icmp, icmp + icmpLength);
      }
    }
    return {};
  }

 private:
  int socket_;
};

bool KernelAnswersEchoes() {
  std::ifstream setting("/proc/sys/net/ipv4/icmp_echo_ignore_all");
  int ignore = 0;
  return !(setting >> ignore) || ignore == 0;
}

TEST_F(IcmpKernelTest, EchoToLoopbackIsAnsweredFromLoopback) {
  TIdIcmpClient client;
  client.Host = "127.0.0.1";
  client.ReceiveTimeout = 2000;
  client.SetOutgoingTtl(7);
  client.Echo("asdas", 0);

  const TReplyStatus& reply = client.LastReply();
  ASSERT_EQ(reply.StatusKind, TReplyStatusKind::rskEchoReply);
  EXPECT_EQ(reply.ReplyFrom, "127.0.0.1");
  // A raw socket on loopback sees our own request first; it carries the same
  // sequence number and, not having been forwarded, the TTL we set.
  EXPECT_TRUE(reply.IcmpType == 0 || reply.IcmpType == 8) << int{reply.IcmpType};
  if (reply.IcmpType == 8) {
    EXPECT_EQ(reply.ReplyTtl, 7);
  }
  EXPECT_EQ(reply.SequenceNumber, 3489);
  EXPECT_EQ(reply.ReceivedBytes, 32);
  EXPECT_GE(reply.RoundTripMicros, 1U);
  EXPECT_EQ(client.NextSequence, 3490);
}

TEST_F(IcmpKernelTest, TheKernelAcceptsAndEchoesTheRequestByteForByte) {
  if (!KernelAnswersEchoes()) GTEST_SKIP() << "the kernel is set to ignore echo requests";
  // The kernel drops an echo request whose checksum is wrong, so an answer proves
  // the checksum; odd and even lengths both.
  for (const std::uint32_t packetSize : {32U, 33U, 64U, 1500U}) {
    SCOPED_TRACE("PacketSize " + std::to_string(packetSize));
    TReplyWatcher watcher;
    ASSERT_TRUE(watcher.Ok());
    TIdIcmpClient client;
    client.Host = "localhost";
    client.ReceiveTimeout = 2000;
    client.SetPacketSize(packetSize);
    const auto sequence = static_cast<std::uint16_t>(40000 + packetSize);
    client.Echo("asdas", sequence);
    ASSERT_EQ(client.LastReply().StatusKind, TReplyStatusKind::rskEchoReply);

    const std::vector<std::uint8_t> answer = watcher.EchoReply(sequence);
    ASSERT_EQ(answer.size(), packetSize - 20U) << "no echo reply from the kernel";
    // Everything after type, code and checksum comes back as it was sent.
    EXPECT_TRUE(std::equal(answer.begin() + 4, answer.end(), client.RequestArea.begin() + 4));
  }
}

}  // namespace
}  // namespace quillon
