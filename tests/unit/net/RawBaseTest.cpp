#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <stdexcept>

#include "net/IdException.h"
#include "net/IdRawBase.h"
#include "unit/net/SocketHandleRecordingStack.h"

namespace quillon {
namespace {

using rawtest::TRecordingStackTest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

using RawBaseTest = TRecordingStackTest;

TEST_F(RawBaseTest, TheTtlIsAppliedOnOpeningAndOnEveryAccess) {
  TIdRawBase raw;
  EXPECT_EQ(raw.OutgoingTtl, 128);
  EXPECT_EQ(raw.Protocol, 255);
  EXPECT_EQ(raw.BufferSize(), 8192);
  EXPECT_THAT(Recording().Calls, IsEmpty()) << "the socket opens lazily";

  raw.Protocol = Id_IPPROTO_ICMP;
  raw.SetOutgoingTtl(7);
  const std::array<std::uint8_t, 4> bytes{1, 2, 3, 4};
  raw.SendRaw("10.1.2.3", 0, bytes.data(), 4);
  raw.OutgoingTtl = 9;  // a plain change holds from the next access on
  raw.EnsureSocket();
  EXPECT_THAT(Recording().Calls, ElementsAre("open 3 1", "ttl 100 7", "ttl 100 7", "ttl 100 7",
                                             "sendto 100 10.1.2.3:0 4", "ttl 100 9"));
}

TEST_F(RawBaseTest, SendRawResolvesTheHostOnEverySend) {
  TIdRawBase raw;
  Recording().Hosts["router.lab"] = "10.9.8.7";
  const std::array<std::uint8_t, 2> bytes{0xAA, 0x55};
  raw.SendRaw("LOCALHOST", 5, bytes.data(), 2);
  raw.SendRaw("router.lab", 0, bytes.data(), 2);
  EXPECT_THROW(raw.SendRaw("nowhere.lab", 0, bytes.data(), 2), EIdSocketError);
  ASSERT_EQ(Recording().Sent.size(), 2U) << "nothing goes out for a host that is not found";
  EXPECT_EQ(Recording().Sent[0].Address, "127.0.0.1");
  EXPECT_EQ(Recording().Sent[0].Port, 5);
  EXPECT_EQ(Recording().Sent[1].Address, "10.9.8.7");
  EXPECT_EQ(Recording().Sent[1].Bytes, (std::vector<std::uint8_t>{0xAA, 0x55}));
}

TEST_F(RawBaseTest, ReceiveWithoutRoomTouchesNoSocket) {
  TIdRawBase raw;
  std::array<std::uint8_t, 16> buffer{};
  EXPECT_EQ(raw.ReceiveRaw(buffer.data(), 0, 100), 0);
  EXPECT_EQ(raw.ReceiveRaw(buffer.data(), -5, 100), 0);
  EXPECT_EQ(raw.ReceiveRaw(nullptr, 16, 100), 0);
  EXPECT_THAT(Recording().Calls, IsEmpty());
}

TEST_F(RawBaseTest, ReceiveWaitsAsLongAsAskedAndReturnsOneDatagram) {
  TIdRawBase raw;
  raw.ReceiveTimeout = 700;
  std::array<std::uint8_t, 16> buffer{};

  EXPECT_EQ(raw.ReceiveRaw(buffer.data(), 16, -1), 0);  // a negative wait: ReceiveTimeout
  EXPECT_EQ(raw.ReceiveRaw(buffer.data(), 16, 0), 0);   // nothing queued: at once
  Recording().Incoming.push_back({9, 8, 7, 6, 5});
  Recording().Incoming.push_back({1, 2});
  EXPECT_EQ(raw.ReceiveRaw(buffer.data(), 16, 0), 5);
  EXPECT_EQ(buffer[0], 9);
  EXPECT_EQ(buffer[4], 5);
  EXPECT_EQ(raw.ReceiveRaw(buffer.data(), 16, 250), 2);
  EXPECT_EQ(Recording().SelectTimeouts, (std::vector<int>{700, 0, 0, 250}));
  EXPECT_EQ(clock_.Tick, 700U) << "only the wait that saw nothing took time";
}

TEST_F(RawBaseTest, AFailedSelectIsATimeOutAndAFailedReceiveIsMinusOne) {
  TIdRawBase raw;
  std::array<std::uint8_t, 16> buffer{};
  Recording().Incoming.push_back({1, 2, 3});
  Recording().SelectResults = {-1};
  EXPECT_EQ(raw.ReceiveRaw(buffer.data(), 16, 100), 0);
  Recording().ReceiveResult = -1;
  Recording().ReceiveError = Id_WSAEMSGSIZE;
  EXPECT_EQ(raw.ReceiveRaw(buffer.data(), 16, 100), -1);
  EXPECT_EQ(Recording().GetSocketError(), Id_WSAEMSGSIZE);
}

TEST_F(RawBaseTest, FailuresToOpenOrSetTheTtlRaise) {
  TIdRawBase raw;
  Recording().OpenFails = true;
  try {
    raw.SetOutgoingTtl(3);
    FAIL() << "no exception";
  } catch (const EIdInvalidSocket& e) {
    EXPECT_STREQ(e.what(), "Cannot allocate socket.");
  }
  Recording().OpenFails = false;
  Recording().SetOptionResult = -1;
  Recording().SetOptionError = Id_WSAEINVAL;
  EXPECT_THROW(raw.SetOutgoingTtl(300), EIdSocketError);
  Recording().SetOptionResult = 0;
  raw.OutgoingTtl = 30;
  EXPECT_TRUE(raw.EnsureSocket().IsOpen);
  // The socket stays open after the refused TTL and is used again.
  EXPECT_THAT(Recording().Calls,
              ElementsAre("open 3 255", "open 3 255", "ttl 100 300", "ttl 100 30"));
}

TEST_F(RawBaseTest, FreeingTheComponentClosesItsSocket) {
  TIdRawBase keeper;  // keeps the stack and its record alive
  {
    TIdRawBase raw;
    raw.EnsureSocket();
  }
  EXPECT_THAT(Recording().Calls,
              ElementsAre("open 3 255", "ttl 100 128", "shutdown 100 1", "close 100"));
}

TEST_F(RawBaseTest, BufferSizeIsSettableButNeverNegative) {
  TIdRawBase raw;
  raw.SetBufferSize(100);
  EXPECT_EQ(raw.BufferSize(), 100);
  raw.SetBufferSize(0);
  EXPECT_EQ(raw.BufferSize(), 0);
  EXPECT_THROW(raw.SetBufferSize(-1), std::invalid_argument);
  EXPECT_EQ(raw.BufferSize(), 0);
}

}  // namespace
}  // namespace quillon
