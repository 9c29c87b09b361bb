// A main window over the simulated network, driven the way the program's
// message loop drives it: the test thread is the window thread and dispatches
// the workers' messages until the window is back to Idle.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/MessageQueue.h"
#include "platform/Process.h"
#include "support/RecordingView.h"
#include "support/SimulatedNetwork.h"
#include "trace/TraceRouteForm.h"
#include "trace/TraceView.h"

namespace quillon::testing {

using quillon::TRecordingView;

inline std::string HopAddress(int position) {
  return "10.0.0." + std::to_string(position);
}
inline constexpr const char* TargetAddressText = "10.9.9.9";
inline constexpr const char* TargetName = "target.test";

// The route as given; the target's name resolves to its address whether or
// not the route reaches it.
inline TSimConfig RouteOf(std::vector<TSimHop> hops) {
  TSimConfig config;
  config.Target = TargetAddressText;
  config.Route = std::move(hops);
  config.ForwardNames[TargetName] = TSimForward::To(TargetAddressText);
  return config;
}

// Routers 1..routers (time exceeded at once), then the target answering echo.
inline TSimConfig RouteTo(int routers, int targetDelayMs = 0) {
  std::vector<TSimHop> hops;
  for (int p = 1; p <= routers; ++p) hops.push_back(TSimHop::Router(HopAddress(p)));
  hops.push_back(TSimHop::Destination(TargetAddressText, targetDelayMs));
  return RouteOf(std::move(hops));
}

// Silent hops at positions from..to, appended to the route.
inline void AppendSilent(TSimConfig& config, int from, int to) {
  for (int p = from; p <= to; ++p) config.Route.push_back(TSimHop::Silent(HopAddress(p)));
}

class TraceTest : public ::testing::Test {
 protected:
  static constexpr int OverallLimitMs = 30000;

  void SetUp() override {
    MarkMainThread();  // this thread plays the window thread
    dir_ = std::filesystem::temp_directory_path() /
           ("quillon-trace-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }

  void TearDown() override {
    // A lookup still held would keep its worker, and the window's release of
    // it, waiting for ever.
    TSimNetwork::Instance().ReleaseHeldLookups();
    form_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  TSimNetwork& Install(const TSimConfig& config) { return InstallSimulatedNetwork(config); }

  TFormFiles Files() const {
    return TFormFiles{(dir_ / "quillon.hst").string(), (dir_ / "quillon.dnb").string()};
  }

  // Creates the window as the program does, then sets the boxes.
  TTraceRouteForm& MakeForm(const std::string& host = TargetName, const std::string& hops = "30",
                            const std::string& timeOut = "2000") {
    form_ = std::make_unique<TTraceRouteForm>(&view_, Files());
    form_->FormCreate({});
    form_->Host.Text = host;
    form_->Hoops.Text = hops;
    form_->TimeOut.Text = timeOut;
    return *form_;
  }

  // Dispatches messages on this (the window's) thread until the condition
  // holds; false when the overall limit passed first.
  static bool PumpUntil(const std::function<bool()>& done, int limitMs = OverallLimitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    auto& queue = TMessageQueue::Main();
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      if (queue.WaitMessage(50)) queue.ProcessOneMessage();
    }
    return true;
  }

  bool RunUntilIdle() {
    return PumpUntil([this] { return !form_->Running; });
  }
  // Until every worker of the window has reported (results of probes beyond
  // the route end included).
  bool DrainWorkers() {
    return PumpUntil([this] { return !form_->ProbeSlotBusy() && !form_->ResolverSlotBusy(); });
  }

  // TTLs of the echo requests sent, in order.
  static std::vector<int> SentTtls(const TSimNetwork& net) {
    std::vector<int> ttls;
    for (const auto& datagram : net.Sent()) ttls.push_back(datagram.Ttl);
    return ttls;
  }
  static int SentWithTtl(const TSimNetwork& net, int ttl) {
    int count = 0;
    for (const auto& datagram : net.Sent()) count += datagram.Ttl == ttl ? 1 : 0;
    return count;
  }

  const THopEntry& Hop(int n) const { return form_->Hops[static_cast<std::size_t>(n)]; }

  bool ShowsIdle() const {
    return !form_->Running && form_->Button1.Visible && form_->Button1.Enabled &&
           !form_->Button2.Visible && !form_->Button2.Enabled;
  }

  std::filesystem::path dir_;
  TRecordingView view_;
  std::unique_ptr<TTraceRouteForm> form_;
};

}  // namespace quillon::testing
