#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "net/IdAntiFreezeBase.h"
#include "net/IdException.h"
#include "net/IdRawBase.h"
#include "unit/net/SocketHandleRecordingStack.h"

namespace quillon {
namespace {

using rawtest::TCountingAntiFreeze;
using rawtest::TRecordingStack;
using rawtest::TRecordingStackTest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A component keeps the recording stack alive; the handle under test is a plain one.
class SocketHandleTest : public TRecordingStackTest {
 protected:
  void SetUp() override {
    TRecordingStackTest::SetUp();
    keeper_ = std::make_unique<TIdRawBase>();
  }
  void TearDown() override {
    handle_.reset();
    keeper_.reset();
    TRecordingStackTest::TearDown();
  }
  TIdSocketHandle& OpenHandle() {
    handle_ = std::make_unique<TIdSocketHandle>();
    handle_->Open(Id_SOCK_RAW, Id_IPPROTO_ICMP);
    Recording().Calls.clear();
    return *handle_;
  }

  std::unique_ptr<TIdRawBase> keeper_;
  std::unique_ptr<TIdSocketHandle> handle_;
};

TEST_F(SocketHandleTest, OpenCloseAndClearKeepTheirStates) {
  TIdSocketHandle handle;
  EXPECT_FALSE(handle.IsOpen);
  EXPECT_EQ(handle.OsSocket, Id_INVALID_SOCKET);
  handle.Close();  // nothing open: nothing to do
  EXPECT_THAT(Recording().Calls, IsEmpty());

  handle.Open(Id_SOCK_RAW, Id_IPPROTO_ICMP);
  EXPECT_TRUE(handle.IsOpen);
  EXPECT_EQ(handle.OsSocket, 100);
  handle.Open(Id_SOCK_RAW, 17);  // the old socket goes first
  EXPECT_EQ(handle.OsSocket, 101);
  handle.Close();
  handle.Close();
  EXPECT_FALSE(handle.IsOpen);
  EXPECT_THAT(Recording().Calls, ElementsAre("open 3 1", "shutdown 100 1", "close 100", "open 3 17",
                                             "shutdown 101 1", "close 101"));

  handle.IP = "10.0.0.1";
  handle.Port = 7;
  handle.RemoteIP = "10.0.0.2";
  handle.RemotePort = 9;
  handle.Clear(false);
  EXPECT_EQ(handle.IP, "10.0.0.1");
  EXPECT_EQ(handle.Port, 7);
  EXPECT_EQ(handle.RemoteIP, "");
  EXPECT_EQ(handle.RemotePort, 0);
  handle.Clear(true);
  EXPECT_EQ(handle.IP, "");
  EXPECT_EQ(handle.Port, 0);
}

TEST_F(SocketHandleTest, FailedOpenLeavesTheHandleClosed) {
  TIdSocketHandle& handle = OpenHandle();
  Recording().OpenFails = true;
  EXPECT_THROW(handle.Open(Id_SOCK_RAW, Id_IPPROTO_ICMP), EIdInvalidSocket);
  EXPECT_FALSE(handle.IsOpen);
  EXPECT_THAT(Recording().Calls, ElementsAre("shutdown 100 1", "close 100", "open 3 1"));
  EXPECT_THROW(handle.WaitReadable(10), EIdConnClosedGracefully);
}

TEST_F(SocketHandleTest, WaitOnAClosedHandleRaisesBeforeAnyWait) {
  TIdSocketHandle handle;
  try {
    handle.WaitReadable(100);
    FAIL() << "no exception";
  } catch (const EIdConnClosedGracefully& e) {
    EXPECT_STREQ(e.what(), "Connection Closed Gracefully.");
  }
  EXPECT_THAT(Recording().SelectTimeouts, IsEmpty());
}

TEST_F(SocketHandleTest, SendFailuresAreMappedToTheirExceptions) {
  TIdSocketHandle& handle = OpenHandle();
  const std::vector<std::uint8_t> bytes(12, 0xAB);
  TRecordingStack& stack = Recording();
  stack.SendResultSet = true;

  stack.SendResult = -1;
  stack.SendError = Id_WSAEMSGSIZE;
  try {
    handle.SendDatagram("127.0.0.1", 0, bytes.data(), 12);
    FAIL() << "no exception";
  } catch (const EIdPackageSizeTooBig& e) {
    EXPECT_STREQ(e.what(), "Package Size Too Big.");
  }

  stack.SendError = Id_WSAEACCES;
  try {
    handle.SendDatagram("127.0.0.1", 0, bytes.data(), 12);
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.ErrorCode, Id_WSAEACCES);
  }

  stack.SendResult = 11;
  try {
    handle.SendDatagram("127.0.0.1", 0, bytes.data(), 12);
    FAIL() << "no exception";
  } catch (const EIdNotAllBytesSent& e) {
    EXPECT_STREQ(e.what(), "Not all bytes sent.");
  }

  stack.SendResult = 12;
  EXPECT_NO_THROW(handle.SendDatagram("127.0.0.1", 3, bytes.data(), 12));
  EXPECT_TRUE(handle.IsOpen) << "a failed send leaves the socket open";
  ASSERT_EQ(stack.Sent.size(), 4U);
  EXPECT_EQ(stack.Sent.back().Bytes, bytes);
  EXPECT_EQ(stack.Sent.back().Port, 3);
}

TEST_F(SocketHandleTest, FailedSetOptionRaisesTheSocketError) {
  TIdSocketHandle& handle = OpenHandle();
  Recording().SetOptionResult = -1;
  Recording().SetOptionError = Id_WSAEINVAL;
  const std::int32_t ttl = 300;
  try {
    handle.SetOption(Id_IPPROTO_IP, Id_IP_TTL, &ttl, 4);
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.ErrorCode, Id_WSAEINVAL);
  }
  EXPECT_TRUE(handle.IsOpen);
}

TEST_F(SocketHandleTest, WithoutAnAntiFreezeEveryWaitIsOneSelect) {
  TIdSocketHandle& handle = OpenHandle();
  EXPECT_FALSE(handle.WaitReadable(120));
  EXPECT_FALSE(handle.WaitReadable(Id_WAIT_NO_LIMIT));
  Recording().SelectResults = {-1};  // a failed select is a wait that saw nothing
  EXPECT_FALSE(handle.WaitReadable(30));
  Recording().Incoming.push_back({1, 2, 3});
  EXPECT_TRUE(handle.WaitReadable(0));
  EXPECT_THAT(Recording().Calls,
              ElementsAre("select 100 120", "select 100 -2", "select 100 30", "select 100 0"));
}

TEST_F(SocketHandleTest, AWaitCutShortByASignalWaitsOutTheRest) {
  TIdSocketHandle& handle = OpenHandle();
  Recording().InterruptAfterMs = 30;
  Recording().SelectResults = {-1, -1, 0};
  EXPECT_FALSE(handle.WaitReadable(100));
  EXPECT_THAT(Recording().SelectTimeouts, ElementsAre(100, 70, 40));
  // An unlimited wait stays unlimited.
  Recording().SelectTimeouts.clear();
  Recording().SelectResults = {-1, 1};
  EXPECT_TRUE(handle.WaitReadable(Id_WAIT_NO_LIMIT));
  EXPECT_THAT(Recording().SelectTimeouts, ElementsAre(Id_WAIT_NO_LIMIT, Id_WAIT_NO_LIMIT));
}

class SocketHandleSlicingTest : public SocketHandleTest {
 protected:
  void SetUp() override {
    SocketHandleTest::SetUp();
    antiFreeze_ = std::make_unique<TCountingAntiFreeze>();
    antiFreeze_->SetIdleTimeOut(50);
    antiFreeze_->OnlyWhenIdle = false;
  }
  void TearDown() override {
    antiFreeze_.reset();
    SocketHandleTest::TearDown();
  }
  std::vector<int> SlicesOf(int waitMs, bool* readable = nullptr) {
    TIdSocketHandle& handle = OpenHandle();
    Recording().SelectTimeouts.clear();
    const bool result = handle.WaitReadable(waitMs);
    if (readable != nullptr) *readable = result;
    return Recording().SelectTimeouts;
  }

  std::unique_ptr<TCountingAntiFreeze> antiFreeze_;
};

TEST_F(SocketHandleSlicingTest, TheShortRemainderComesFirstThenWholeSlices) {
  bool readable = true;
  EXPECT_THAT(SlicesOf(120, &readable), ElementsAre(20, 50, 50));
  EXPECT_FALSE(readable);
  EXPECT_EQ(antiFreeze_->Pumps, 3) << "messages are let through after every slice";
  EXPECT_THAT(SlicesOf(51), ElementsAre(1, 50));
  EXPECT_THAT(SlicesOf(50), ElementsAre(50));
  EXPECT_THAT(SlicesOf(100), ElementsAre(50, 50));
  EXPECT_THAT(SlicesOf(1), ElementsAre(1));
  EXPECT_THAT(SlicesOf(0), ElementsAre(0));
}

TEST_F(SocketHandleSlicingTest, AReadableSliceEndsTheWait) {
  TIdSocketHandle& handle = OpenHandle();
  Recording().SelectResults = {0, 1};
  EXPECT_TRUE(handle.WaitReadable(120));
  EXPECT_THAT(Recording().SelectTimeouts, ElementsAre(20, 50));

  // With OnlyWhenIdle only the slice that saw nothing lets messages through.
  antiFreeze_->OnlyWhenIdle = true;
  antiFreeze_->Pumps = 0;
  Recording().SelectResults = {-1, 1};  // a failed slice counts as idle
  EXPECT_TRUE(handle.WaitReadable(120));
  EXPECT_EQ(antiFreeze_->Pumps, 1);
}

TEST_F(SocketHandleSlicingTest, AnUnlimitedWaitRunsSlicesUntilReadable) {
  TIdSocketHandle& handle = OpenHandle();
  Recording().SelectResults = {0, -1, 0, 1};
  EXPECT_TRUE(handle.WaitReadable(Id_WAIT_NO_LIMIT));
  EXPECT_THAT(Recording().SelectTimeouts, ElementsAre(50, 50, 50, 50));
  EXPECT_EQ(antiFreeze_->Pumps, 4);
}

TEST_F(SocketHandleSlicingTest, AnInactiveAntiFreezeOrAWorkerThreadWaitsInOneSelect) {
  antiFreeze_->Active = false;
  EXPECT_THAT(SlicesOf(120), ElementsAre(120));
  antiFreeze_->Active = true;

  TIdSocketHandle& handle = OpenHandle();
  Recording().SelectTimeouts.clear();
  bool readable = true;
  std::thread worker([&handle, &readable] { readable = handle.WaitReadable(120); });
  worker.join();
  EXPECT_FALSE(readable);
  EXPECT_THAT(Recording().SelectTimeouts, ElementsAre(120));
  EXPECT_EQ(antiFreeze_->Pumps, 0) << "a worker's wait never pumps the window's messages";
}

}  // namespace
}  // namespace quillon
