// The Windows stack on the real socket library (loopback only): lookups, the
// wait set's limit and time-out, and the ICMP service standing in for a raw
// socket, whose answer must read like the raw socket's datagram.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>

#include "net/IcmpDatagram.h"
#include "net/IdComponent.h"
#include "net/IdException.h"
#include "net/IdStackWindows.h"

namespace quillon {
namespace {

class StackWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedClass_ = GSocketStackClass;
    GSocketStackClass = &CreateSystemStack;
    component_ = std::make_unique<TIdComponent>();
  }
  void TearDown() override {
    component_.reset();
    GSocketStackClass = savedClass_;
    _putenv_s(Id_FORCE_ICMP_SERVICE, "");
  }

  TIdStackClass savedClass_ = nullptr;
  std::unique_ptr<TIdComponent> component_;
};

TEST_F(StackWindowsTest, LooksUpLoopbackBothWays) {
  EXPECT_EQ(Stack().HostNameToAddr("127.0.0.1"), "127.0.0.1");
  EXPECT_FALSE(Stack().AddrToHostName("127.0.0.1").empty());
  try {
    Stack().HostNameToAddr("no-such-host.invalid");
    FAIL() << "an unknown name was found";
  } catch (const EIdSocketError& e) {
    EXPECT_GE(e.ErrorCode, 11001);
  }
}

TEST_F(StackWindowsTest, WaitSetHoldsSixtyFourHandlesAndTimesOut) {
  const TIdStackSocketHandle socket = Stack().OpenSocket(Id_SOCK_DGRAM, 17);
  TIdSocketList tooMany(65, socket);
  EXPECT_THROW(Stack().SockSelect(&tooMany, nullptr, nullptr, 0), EIdStackSetSizeExceeded);
  TIdSocketList one{socket};
  EXPECT_EQ(Stack().SockSelect(&one, nullptr, nullptr, 50), 0);
  EXPECT_TRUE(one.empty());
  TIdSocketList writable{socket};
  EXPECT_EQ(Stack().SockSelect(nullptr, &writable, nullptr, 0), 1);
  EXPECT_EQ(writable, TIdSocketList{socket});
  EXPECT_EQ(Stack().SockClose(socket), 0);
}

TEST_F(StackWindowsTest, IcmpServiceAnswerReadsLikeTheRawSocketsDatagram) {
  _putenv_s(Id_FORCE_ICMP_SERVICE, "1");
  const TIdStackSocketHandle socket = Stack().OpenSocket(Id_SOCK_RAW, Id_IPPROTO_ICMP);
  const int ttl = 64;
  ASSERT_EQ(Stack().SockSetOption(socket, Id_IPPROTO_IP, Id_IP_TTL, &ttl, sizeof ttl), 0);

  std::array<std::uint8_t, 16> request = {Id_ICMP_ECHO, 0,   0,   0,   0x12, 0x34, 0x00, 0x07,
                                          'q',          'u', 'i', 'l', 'l',  'o',  'n',  '!'};
  const std::uint16_t sum = InternetChecksum(request);
  request[2] = static_cast<std::uint8_t>(sum >> 8);
  request[3] = static_cast<std::uint8_t>(sum & 0xFF);
  ASSERT_EQ(Stack().SockSendTo(socket, request.data(), request.size(), 0, "127.0.0.1", 0), 16);

  TIdSocketList wait{socket};
  ASSERT_EQ(Stack().SockSelect(&wait, nullptr, nullptr, 5000), 1) << "no answer from loopback";
  std::array<std::uint8_t, 256> datagram{};
  const int length = Stack().SockRecv(socket, datagram.data(), datagram.size(), 0);
  ASSERT_EQ(length, Id_IP_HEADER_SIZE + 16);
  EXPECT_EQ(datagram[0], 0x45);
  EXPECT_EQ(datagram[9], Id_IPPROTO_ICMP);
  EXPECT_EQ(Stack().AddrToText({datagram[12], datagram[13], datagram[14], datagram[15]}),
            "127.0.0.1");
  const std::uint8_t* icmp = datagram.data() + Id_IP_HEADER_SIZE;
  EXPECT_EQ(icmp[0], Id_ICMP_ECHOREPLY);
  EXPECT_EQ(std::memcmp(icmp + 4, request.data() + 4, 12), 0) << "identifier, sequence, data";
  EXPECT_EQ(InternetChecksum({icmp, 16}), 0);
  EXPECT_EQ(InternetChecksum({datagram.data(), Id_IP_HEADER_SIZE}), 0);
  // Nothing more to read: the wait times out, a read would block.
  EXPECT_EQ(Stack().SockSelect(&wait, nullptr, nullptr, 0), 0);
  EXPECT_EQ(Stack().SockRecv(socket, datagram.data(), datagram.size(), 0), -1);
  EXPECT_EQ(Stack().GetSocketError(), Id_WSAEWOULDBLOCK);
  EXPECT_EQ(Stack().SockClose(socket), 0);
}

}  // namespace
}  // namespace quillon
