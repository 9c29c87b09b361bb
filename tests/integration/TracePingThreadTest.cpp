// The probe worker on its own: what it posts, how it retries, and that it
// reports even when it cannot probe at all.
#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "TraceFixture.h"
#include "net/IdIcmpClient.h"
#include "trace/PingThread.h"

namespace quillon::testing {
namespace {

// A window of its own that keeps the messages it gets; a socket-layer
// component keeps the stack up while the worker runs.
class PingWorker : public TraceTest {
 protected:
  void SetUp() override {
    TraceTest::SetUp();
    window_ = TMessageQueue::Main().RegisterWindow(
        [this](const TMessage& message) { received_.push_back(message); });
  }
  void TearDown() override {
    TMessageQueue::Main().UnregisterWindow(window_);
    keepStack_.reset();
    TraceTest::TearDown();
  }

  std::unique_ptr<TPingThread> Launch(int ttl, int timeOutMs = 2000) {
    keepStack_ = std::make_unique<TIdIcmpClient>();
    auto worker = std::make_unique<TPingThread>();
    worker->TargetAddress = TargetAddressText;
    worker->RunId = 4321;
    worker->SlotIndex = 3;
    worker->Ttl = ttl;
    worker->TimeOutMs = timeOutMs;
    worker->Window = window_;
    worker->Start();
    return worker;
  }
  std::optional<TMessage> AwaitReport() {
    if (!PumpUntil([this] { return !received_.empty(); })) return std::nullopt;
    return received_.front();
  }

  HWND window_ = 0;
  std::vector<TMessage> received_;
  std::unique_ptr<TIdIcmpClient> keepStack_;
};

TEST_F(PingWorker, ReportsSlotRunAndSerialAndStopsAtTheFirstAnswer) {
  TSimNetwork& net = Install(RouteTo(2));
  auto worker = Launch(2);
  const auto report = AwaitReport();
  ASSERT_TRUE(report);
  EXPECT_EQ(report->Msg, WM_PROBE_DONE);
  EXPECT_EQ(report->WParam, 3u);
  EXPECT_EQ(report->LParam, 4321);
  EXPECT_EQ(report->Tag, worker->Serial);
  worker->WaitFor();
  EXPECT_TRUE(worker->Succeeded);
  EXPECT_EQ(worker->Reply.ReplyFrom, HopAddress(2));
  EXPECT_EQ(worker->Reply.StatusKind, TReplyStatusKind::rskTtlExpired);
  ASSERT_EQ(net.Sent().size(), 1u);
  EXPECT_EQ(net.Sent()[0].Ttl, 2);
  EXPECT_EQ(received_.size(), 1u);
}

TEST_F(PingWorker, FailedSendIsSwallowedAndTheNextAttemptCounts) {
  TSimConfig config = RouteTo(2);
  config.SendFailure = TSimFailure{Id_WSAEMSGSIZE, 1};
  TSimNetwork& net = Install(config);
  auto worker = Launch(1);
  ASSERT_TRUE(AwaitReport());
  worker->WaitFor();
  EXPECT_TRUE(worker->Succeeded);
  EXPECT_EQ(worker->Reply.ReplyFrom, HopAddress(1));
  EXPECT_EQ(net.Counters().DatagramsSent, 1) << "the second attempt went out";
}

TEST_F(PingWorker, SilentHopGivesTheThirdTimeOut) {
  TSimConfig config = RouteTo(2);
  config.Route[0] = TSimHop::Silent(HopAddress(1));
  TSimNetwork& net = Install(config);
  auto worker = Launch(1, 50);
  ASSERT_TRUE(AwaitReport());
  worker->WaitFor();
  EXPECT_FALSE(worker->Succeeded);
  EXPECT_EQ(worker->Reply.ReplyFrom, "0.0.0.0");
  EXPECT_EQ(worker->Reply.StatusKind, TReplyStatusKind::rskTimedOut);
  EXPECT_EQ(net.Sent().size(), 3u);
}

TEST_F(PingWorker, WithoutARawSocketItStillReportsAnEmptyResult) {
  TSimConfig config = RouteTo(2);
  config.OpenFailure = TSimFailure{Id_WSAEACCES};
  TSimNetwork& net = Install(config);
  auto worker = Launch(1);
  const auto report = AwaitReport();
  ASSERT_TRUE(report);
  EXPECT_EQ(report->Tag, worker->Serial);
  worker->WaitFor();
  EXPECT_FALSE(worker->Succeeded);
  EXPECT_EQ(worker->Reply.ReplyFrom, "");
  EXPECT_EQ(worker->ElapsedMs, 0u);
  EXPECT_TRUE(IsSilentAddress(worker->Reply.ReplyFrom));
  EXPECT_EQ(net.Counters().DatagramsSent, 0);
}

TEST(SilentAddress, EmptyAndAllZeroOnly) {
  EXPECT_TRUE(IsSilentAddress(""));
  EXPECT_TRUE(IsSilentAddress("0.0.0.0"));
  EXPECT_FALSE(IsSilentAddress("0.0.0.1"));
  EXPECT_FALSE(IsSilentAddress(" 0.0.0.0"));
}

}  // namespace
}  // namespace quillon::testing
