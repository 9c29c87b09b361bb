// Whole trace runs over a network that misbehaves: socket calls that fail,
// datagrams that answer nothing or break the attempt that reads them, name
// lookups that fail or take longer than the trace, a socket stack that cannot
// start, and runs started while the workers of earlier runs are still under
// way. Whatever happens, every run ends, the window is Idle again, every
// worker is released and every socket closed (these tests also run under
// AddressSanitizer with leak checks and under ThreadSanitizer).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "TraceFixture.h"
#include "net/IdException.h"
#include "net/IdStack.h"
#include "platform/Random.h"
#include "platform/Thread.h"
#include "trace/DNSThread.h"
#include "trace/DnsBuffer.h"

namespace quillon::testing {
namespace {

constexpr const char* UnknownIp = "Unknown Ip";
constexpr const char* UnknownHost = "Unknown Host";
constexpr const char* StraySource = "10.255.0.1";

class Faults : public TraceTest {
 protected:
  // Closing the window waits for its workers without a limit; should a fault
  // keep one from ending, the watchdog fails the program instead of letting
  // it hang.
  static constexpr auto WatchdogLimit = std::chrono::seconds(90);

  void SetUp() override {
    TraceTest::SetUp();
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    watchdog_ = std::thread([this, test] {
      std::unique_lock lock(watchdogLock_);
      if (!watchdogCancel_.wait_for(lock, WatchdogLimit, [this] { return testOver_; })) {
        std::fprintf(stderr, "%s: still not done after %lld s; a worker never ended\n",
                     test.c_str(), static_cast<long long>(WatchdogLimit.count()));
        std::abort();
      }
    });
  }

  void TearDown() override {
    TraceTest::TearDown();
    {
      const std::lock_guard lock(watchdogLock_);
      testOver_ = true;
    }
    watchdogCancel_.notify_all();
    watchdog_.join();
  }

  // Until every worker of the window has reported and been released, those
  // that a later Start dropped from their slots included.
  bool Settle() {
    return PumpUntil([this] {
      return !form_->ProbeSlotBusy() && !form_->ResolverSlotBusy() &&
             form_->DroppedProbeCount() == 0 && form_->DroppedResolverCount() == 0;
    });
  }

  // Once the workers are gone only the window's own raw socket may be open;
  // closing the window closes it and lets the socket stack go.
  void ExpectNothingLeft() {
    ASSERT_TRUE(Settle());
    const TSimNetwork& net = TSimNetwork::Instance();
    EXPECT_EQ(net.Counters().OpenSockets, 1);
    EXPECT_EQ(net.Counters().ActiveLookups, 0);
    form_.reset();
    EXPECT_EQ(net.Counters().OpenSockets, 0);
    EXPECT_EQ(GSocketStack.load(), nullptr);
  }

  void ExpectUnknown(int from, int to) const {
    for (int n = from; n <= to; ++n) {
      EXPECT_TRUE(Hop(n).Filled) << n;
      EXPECT_EQ(Hop(n).Address, UnknownIp) << n;
      EXPECT_EQ(Hop(n).HostName, UnknownHost) << n;
    }
  }

  // Results beyond the route's end leave their entries empty.
  void ExpectDiscarded(int from, int to) const {
    for (int n = from; n <= to; ++n) EXPECT_FALSE(Hop(n).Filled) << n;
  }

  // The route of RouteTo(routers) in the table, the target as the last hop.
  void ExpectRoute(int routers) const {
    EXPECT_TRUE(form_->RouteEndFound);
    ASSERT_EQ(form_->RouteLength, routers + 1);
    for (int n = 1; n <= routers; ++n) EXPECT_EQ(Hop(n).Address, HopAddress(n)) << n;
    EXPECT_EQ(Hop(routers + 1).Address, TargetAddressText);
  }

  // Each TTL up to `last` went out at least once and at most `most` times.
  void ExpectSentPerTtl(const TSimNetwork& net, int last, int most) const {
    for (int ttl = 1; ttl <= last; ++ttl) {
      EXPECT_GE(SentWithTtl(net, ttl), 1) << ttl;
      EXPECT_LE(SentWithTtl(net, ttl), most) << ttl;
    }
  }

  bool AnyHopFrom(const std::string& address) const {
    for (int n = 1; n <= MaxHopEntries; ++n) {
      if (Hop(n).Filled && (Hop(n).Address == address || Hop(n).HostName == address)) return true;
    }
    return false;
  }

 private:
  std::thread watchdog_;
  std::mutex watchdogLock_;
  std::condition_variable watchdogCancel_;
  bool testOver_ = false;
};

// ---------------------------------------------------------------------------
// A fault that makes an echo attempt fail, on every call or on the next few.

struct AttemptFault {
  const char* Name;
  // Applies the fault for `count` calls (-1: every call).
  std::function<void(TSimConfig&, int count)> Apply;
  // The failing attempt has sent its request before it failed.
  bool RequestGoesOut;
  // The fault hits only the calls it is given (a count is meaningful).
  bool Countable;
  // Calls still to fail.
  std::function<int(const TSimConfig&)> Left;
};

void PrintTo(const AttemptFault& fault, std::ostream* out) {
  *out << fault.Name;
}

// A stray of the kind from StraySource, sent along with `count` requests.
TSimStray Stray(TSimStrayKind kind, int count) {
  TSimStray stray;
  stray.Kind = kind;
  stray.From = StraySource;
  stray.Count = count;
  stray.Length = 24;  // truncated: shorter than an IP header and an ICMP header
  return stray;
}

std::vector<AttemptFault> AttemptFaults() {
  // A socket call that fails with the code.
  auto call = [](const char* name, TSimFailure TSimConfig::*failure, std::int32_t code,
                 bool requestGoesOut) {
    return AttemptFault{name,
                        [=](TSimConfig& c, int count) {
                          c.*failure = TSimFailure{code, count};
                        },
                        requestGoesOut, true,
                        [=](const TSimConfig& c) { return (c.*failure).Count; }};
  };
  auto none = [](const TSimConfig&) { return 0; };
  // A stray due with the answer, so read before it: the attempt raises.
  auto stray = [none](const char* name, TSimStrayKind kind) {
    return AttemptFault{name,
                        [=](TSimConfig& c, int count) { c.Strays.push_back(Stray(kind, count)); },
                        true, false, none};
  };
  // Larger than the reply area: the receive fails and the datagram is gone.
  auto oversized = [](TSimConfig& c, int count) {
    TSimStray big = Stray(TSimStrayKind::Raw, count);
    big.Bytes =
        simpacket::Ipv4(StraySource, c.LocalAddress, 60, simpacket::Bytes(Id_ICMP_AREA_SIZE, 0));
    c.Strays.push_back(big);
  };
  // The request goes out, but the send says fewer bytes went.
  auto shortSend = [](TSimConfig& c, int) { c.SendShortBy = 1; };
  return {
      call("SendFails", &TSimConfig::SendFailure, Id_WSAEACCES, false),
      call("SendTooBig", &TSimConfig::SendFailure, Id_WSAEMSGSIZE, false),
      AttemptFault{"SendShort", shortSend, true, false, none},
      // A signal only interrupts the wait (see the socket handle); other failures end it.
      call("SelectFails", &TSimConfig::SelectFailure, Id_WSAEINVAL, true),
      call("ReceiveFails", &TSimConfig::ReceiveFailure, Id_WSAECONNREFUSED, true),
      stray("RedirectBeforeTheAnswer", TSimStrayKind::Redirect),
      stray("TruncatedBeforeTheAnswer", TSimStrayKind::Truncated),
      AttemptFault{"OversizedBeforeTheAnswer", oversized, true, false, none},
  };
}

class EveryAttemptFails : public Faults, public ::testing::WithParamInterface<AttemptFault> {};
class SomeAttemptsFail : public Faults, public ::testing::WithParamInterface<AttemptFault> {};

TEST_P(EveryAttemptFails, RunEndsWithSilentHopsAndTheNextRunWorks) {
  const AttemptFault& fault = GetParam();
  TSimConfig config = RouteTo(3);
  fault.Apply(config, -1);
  TSimNetwork& net = Install(config);
  auto& form = MakeForm(TargetName, "30", "100");

  form.StartTrace();
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_TRUE(ShowsIdle());
  EXPECT_TRUE(form.RouteEndFound);
  EXPECT_EQ(form.RouteLength, 0);
  ASSERT_TRUE(Settle());
  // Silent results launched the next TTL until TTLs 1 to 4, the first four
  // in TTL order, had reported; what came from above them was discarded.
  // Every probe made all three attempts.
  EXPECT_GE(form.LastRequestedTtl, 8);
  ExpectUnknown(1, 4);
  ExpectDiscarded(5, form.LastRequestedTtl + 1);
  EXPECT_EQ(net.Counters().DatagramsSent,
            fault.RequestGoesOut ? std::min(form.LastRequestedTtl, form.MaxHops) * 3 : 0);
  EXPECT_EQ(net.Counters().ReverseLookups, 0) << "silent hops need no name";
  EXPECT_EQ(net.Counters().OpenSockets, 1) << "only the window's own socket";

  // The same window traces the route once the fault is gone.
  net.Update([](TSimConfig& c) { c = RouteTo(3); });
  form.Button1Click();
  ASSERT_TRUE(RunUntilIdle());
  ExpectRoute(3);
  ExpectNothingLeft();
}

TEST_P(SomeAttemptsFail, RetriesKeepThemOutOfTheTable) {
  const AttemptFault& fault = GetParam();
  TSimConfig config = RouteTo(3);
  fault.Apply(config, 2);
  TSimNetwork& net = Install(config);
  auto& form = MakeForm(TargetName, "4", "100");

  form.StartTrace();
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_TRUE(ShowsIdle());
  ASSERT_TRUE(Settle());
  ExpectRoute(3);
  EXPECT_EQ(form.SilentCount, 0);
  EXPECT_EQ(fault.Left(net.Config()), 0) << "both failures were met";
  // Each failure cost one attempt; three attempts cover two failures in one probe.
  EXPECT_EQ(net.Counters().DatagramsSent, fault.RequestGoesOut ? 4 + 2 : 4);
  ExpectSentPerTtl(net, 4, 3);
  ExpectNothingLeft();
}

std::string FaultName(const ::testing::TestParamInfo<AttemptFault>& info) {
  return info.param.Name;
}

std::vector<AttemptFault> CountableFaults() {
  std::vector<AttemptFault> faults = AttemptFaults();
  std::erase_if(faults, [](const AttemptFault& fault) { return !fault.Countable; });
  return faults;
}

INSTANTIATE_TEST_SUITE_P(Faults, EveryAttemptFails, ::testing::ValuesIn(AttemptFaults()),
                         FaultName);
INSTANTIATE_TEST_SUITE_P(Faults, SomeAttemptsFail, ::testing::ValuesIn(CountableFaults()),
                         FaultName);

// ---------------------------------------------------------------------------
// Raw sockets that cannot be opened, a socket stack that cannot start.

TEST_F(Faults, StartWithoutARawSocketRaisesEveryTimeAndNeverStaysTracing) {
  TSimConfig config = RouteTo(2);
  config.OpenFailure = TSimFailure{Id_WSAEACCES, 3};
  TSimNetwork& net = Install(config);
  auto& form = MakeForm(TargetName, "30", "100");

  // Enter and the Start button: the error leaves the event handler for the
  // desktop to show, and the window is Idle again each time.
  for (int attempt = 0; attempt < 3; ++attempt) {
    SCOPED_TRACE(attempt);
    try {
      if (attempt == 0) {
        char enter = 13;
        form.HostKeyPress(enter);
      } else {
        form.Button1Click();
      }
      ADD_FAILURE() << "the Start went on without a raw socket";
    } catch (const EIdInvalidSocket& error) {
      EXPECT_STREQ(error.what(), "Cannot allocate socket.");
    }
    EXPECT_TRUE(ShowsIdle());
    EXPECT_FALSE(form.ProbeSlotBusy());
    EXPECT_FALSE(Hop(1).Filled);
    EXPECT_EQ(form.OutGrid.RowCount(), 2) << "the grid as the reset left it";
  }
  EXPECT_TRUE(view_.Messages.empty()) << "the engine shows nothing of its own";
  ASSERT_FALSE(form.Host.Items.empty());
  EXPECT_EQ(form.Host.Items.front(), TargetName) << "the history was updated before";
  EXPECT_EQ(net.Counters().SocketsOpened, 0);
  EXPECT_EQ(net.Counters().DatagramsSent, 0);
  EXPECT_EQ(TMessageQueue::Main().PendingCount(), 0u);

  // The failures are used up: Start works.
  form.Button1Click();
  ASSERT_TRUE(RunUntilIdle());
  ExpectRoute(2);
  ExpectNothingLeft();
}

TEST_F(Faults, ProbesThatCannotOpenARawSocketReportSilenceAtOnce) {
  TSimNetwork& net = Install(RouteTo(3));
  auto& form = MakeForm(TargetName, "30", "100");
  form.StartTrace();  // opens the window's own socket, which stays open
  ASSERT_TRUE(RunUntilIdle());
  ASSERT_TRUE(Settle());
  const int sent = net.Counters().DatagramsSent;

  net.Update([](TSimConfig& c) { c.OpenFailure = TSimFailure{Id_WSAEMFILE}; });
  form.StartTrace();
  EXPECT_TRUE(form.Running) << "the window's socket is open already";
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_TRUE(ShowsIdle());
  ASSERT_TRUE(Settle());
  EXPECT_EQ(form.RouteLength, 0);
  EXPECT_GE(form.LastRequestedTtl, 8);
  ExpectUnknown(1, 4);
  ExpectDiscarded(5, form.LastRequestedTtl);
  EXPECT_EQ(net.Counters().DatagramsSent, sent);

  net.Update([](TSimConfig& c) { c.OpenFailure = TSimFailure{}; });
  form.StartTrace();
  ASSERT_TRUE(RunUntilIdle());
  ExpectRoute(3);
  ExpectNothingLeft();
}

TEST_F(Faults, ProbesThatCannotStartTheirThreadsStillEndTheRun) {
  Install(RouteTo(8));
  auto& form = MakeForm(TargetName, "30", "100");
  form.StartTrace();
  // The five probes of the Start run; none that their reports launch can.
  FailThreadStartsForTesting(true);
  const bool idle = RunUntilIdle();
  FailThreadStartsForTesting(false);
  ASSERT_TRUE(idle) << "the last report left the window tracing";
  EXPECT_TRUE(ShowsIdle());
  EXPECT_FALSE(form.RouteEndFound);
  ASSERT_TRUE(Settle());
  for (int n = 1; n <= 5; ++n) EXPECT_TRUE(Hop(n).Filled) << n;
}

TEST_F(Faults, WindowCannotBeCreatedWithoutASocketStackNorLeaveOneBehind) {
  ASSERT_EQ(GSocketStack.load(), nullptr) << "a socket-layer component of an earlier test lives";
  TSimConfig config = RouteTo(1);
  config.StackCreationFails = true;
  TSimNetwork& net = Install(config);

  // Twice: the first failure must not keep the second from trying again.
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      MakeForm();
      ADD_FAILURE() << "a window came up without a socket stack";
    } catch (const EIdStackInitializationFailed& error) {
      EXPECT_STREQ(error.what(), "Winsock Initialization Error.");
    }
    EXPECT_FALSE(form_);
    EXPECT_EQ(GSocketStack.load(), nullptr);
    const std::lock_guard<std::mutex> lock(GSocketStackLock);
    EXPECT_EQ(GSocketUserCount, 0);
  }
  EXPECT_EQ(net.Counters().StacksCreated, 0);

  net.Update([](TSimConfig& c) { c.StackCreationFails = false; });
  auto& form = MakeForm(TargetName, "30", "100");
  EXPECT_EQ(net.Counters().StacksCreated, 1);
  form.StartTrace();
  ASSERT_TRUE(RunUntilIdle());
  ExpectRoute(1);
  ExpectNothingLeft();
}

// ---------------------------------------------------------------------------
// Datagrams that are no answer.

TEST_F(Faults, RedirectMakesTheAttemptThatReadsItRaiseAndBeRetried) {
  TSimConfig config = RouteTo(3);
  TSimStray redirect = Stray(TSimStrayKind::Redirect, 1);
  redirect.Ttl = 2;
  config.Strays.push_back(redirect);
  TSimNetwork& net = Install(config);
  auto& form = MakeForm(TargetName, "4", "100");

  form.StartTrace();
  ASSERT_TRUE(RunUntilIdle());
  ASSERT_TRUE(Settle());
  ExpectRoute(3);
  EXPECT_EQ(net.Config().Strays[0].Count, 0);
  // The redirect reached the TTL 2 probe before its answer; it may have
  // reached other probes as well, each of which then tried once more.
  EXPECT_EQ(SentWithTtl(net, 2), 2);
  ExpectSentPerTtl(net, 4, 2);
  EXPECT_EQ(form.SilentCount, 0);
  EXPECT_FALSE(AnyHopFrom(StraySource));
  ExpectNothingLeft();
}

TEST_F(Faults, DatagramsThatAnswerNoRequestAreSkippedWithoutARetry) {
  TSimConfig config = RouteTo(3);
  for (auto& hop : config.Route) hop.Duplicates = 2;
  // From the target itself: taken for an answer, it would end the route.
  TSimStray otherEcho = Stray(TSimStrayKind::EchoReplyOtherSequence, -1);
  otherEcho.From = TargetAddressText;
  const TSimStray otherExpired = Stray(TSimStrayKind::TimeExceededOtherSequence, -1);
  TSimStray cut = Stray(TSimStrayKind::Truncated, -1);  // cut before the quoted sequence number
  cut.Length = 20 + 8 + 20 + 6;
  config.Strays = {otherEcho, otherExpired, cut};
  TSimNetwork& net = Install(config);
  auto& form = MakeForm(TargetName, "4", "200");

  // Every socket sees every stray, so no probe may draw a sequence number one
  // above another's: a fixed seed whose first draws are known to be apart.
  constexpr std::uint64_t seed = 20261207;
  RandSeed(seed);
  Random(30000);
  std::vector<std::uint16_t> sequences;
  for (int i = 0; i < 4; ++i) sequences.push_back(static_cast<std::uint16_t>(Random(65000)));
  for (const std::uint16_t a : sequences) {
    for (const std::uint16_t b : sequences) {
      ASSERT_NE(a, static_cast<std::uint16_t>(b + 1)) << "choose another seed";
    }
  }
  RandSeed(seed);

  form.StartTrace();
  ASSERT_TRUE(RunUntilIdle());
  ASSERT_TRUE(Settle());
  ExpectRoute(3);
  std::vector<int> ttls = SentTtls(net);
  std::sort(ttls.begin(), ttls.end());
  EXPECT_EQ(ttls, (std::vector<int>{1, 2, 3, 4})) << "no attempt was repeated";
  EXPECT_FALSE(AnyHopFrom(StraySource));
  EXPECT_EQ(form.SilentCount, 0);
  ExpectNothingLeft();
}

TEST_F(Faults, TruncatedAnswersLeaveTheirHopSilentButTheRouteGoesOn) {
  TSimConfig config = RouteTo(3);
  // Hop 2's answers are shorter than two headers: reading one raises. Hop 3's
  // stop before the quoted sequence number: they answer nothing.
  config.Route[1].TruncateTo = 24;
  config.Route[1].DelayMs = 20;
  config.Route[2].TruncateTo = 20 + 8 + 20 + 6;
  config.Route[2].DelayMs = 20;
  TSimNetwork& net = Install(config);
  auto& form = MakeForm(TargetName, "4", "100");

  form.StartTrace();
  ASSERT_TRUE(RunUntilIdle());
  ASSERT_TRUE(Settle());
  EXPECT_TRUE(form.RouteEndFound);
  EXPECT_EQ(form.RouteLength, 4);
  EXPECT_EQ(form.SilentCount, 2);
  EXPECT_EQ(Hop(1).Address, HopAddress(1));
  ExpectUnknown(2, 3);
  EXPECT_EQ(Hop(4).Address, TargetAddressText);
  EXPECT_EQ(SentWithTtl(net, 2), 3);
  EXPECT_EQ(SentWithTtl(net, 3), 3);
  ExpectSentPerTtl(net, 4, 3);
  ExpectNothingLeft();
}

// ---------------------------------------------------------------------------
// Name lookups that fail or take their time.

TEST_F(Faults, EveryLookupFailing) {
  TSimConfig config = RouteTo(2);
  config.ReverseNames[HopAddress(1)] = TSimReverse::Name("gw.test");
  config.LookupFailure = TSimFailure{Id_WSANO_RECOVERY};
  TSimNetwork& net = Install(config);
  auto& form = MakeForm(TargetName, "30", "100");

  // The target cannot be found: reported, Idle, nothing opened or sent.
  form.StartTrace();
  EXPECT_EQ(view_.Messages, std::vector<std::string>{"Host not found: target.test"});
  EXPECT_TRUE(ShowsIdle());
  EXPECT_EQ(net.Counters().SocketsOpened, 0);
  EXPECT_EQ(net.Counters().DatagramsSent, 0);

  // Found, but every reverse lookup of the run fails (they begin only when
  // this thread records a hop, after the switch below).
  net.Update([](TSimConfig& c) { c.LookupFailure = TSimFailure{}; });
  form.StartTrace();
  ASSERT_TRUE(form.Running);
  net.Update([](TSimConfig& c) { c.LookupFailure = TSimFailure{Id_WSANO_RECOVERY}; });
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_TRUE(ShowsIdle());
  ExpectRoute(2);
  for (int n = 1; n <= 3; ++n) {
    EXPECT_EQ(Hop(n).HostName, Hop(n).Address + NoDnsSuffix) << n;
    EXPECT_EQ(form.NameCache().FindName(Hop(n).Address), Hop(n).Address + NoDnsSuffix) << n;
  }
  int failedReverse = 0;
  for (const auto& lookup : net.Lookups()) {
    if (lookup.Kind == TSimLookupKind::Reverse) {
      EXPECT_EQ(lookup.ErrorCode, Id_WSANO_RECOVERY);
      ++failedReverse;
    }
  }
  EXPECT_GE(failedReverse, 3);
  EXPECT_EQ(view_.Messages.size(), 1u);
  ExpectNothingLeft();
}

TEST_F(Faults, NamesSlowerThanTheTraceAreDroppedByEachNewStartAndWaitedForByTheLast) {
  TSimConfig config = RouteTo(2);
  config.ReverseNames[HopAddress(1)] = TSimReverse::Name("gw1.test", 150);
  config.ReverseNames[HopAddress(2)] = TSimReverse::Failure(Id_WSATRY_AGAIN, 150);
  config.ReverseNames[TargetAddressText] = TSimReverse::Name(TargetName, 150);
  TSimNetwork& net = Install(config);
  auto& form = MakeForm(TargetName, "3", "100");

  // Each run's probes are done long before its names; a new Start drops the
  // name workers, whose results must not reach the table or the cache.
  for (int run = 0; run < 3; ++run) {
    SCOPED_TRACE(run);
    form.StartTrace();
    ASSERT_TRUE(PumpUntil([&] { return !form.ProbeSlotBusy(); }));
    ASSERT_TRUE(form.Running) << "names are still being looked up";
    ASSERT_TRUE(form.ResolverSlotBusy());
  }
  // The last run ends only once its names are in.
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_FALSE(form.ResolverSlotBusy());
  EXPECT_EQ(Hop(1).HostName, "gw1.test");
  EXPECT_EQ(Hop(2).HostName, HopAddress(2) + NoDnsSuffix);
  EXPECT_EQ(Hop(3).HostName, TargetName);
  ASSERT_TRUE(Settle());
  EXPECT_GE(net.Counters().ReverseLookups, 9);
  EXPECT_EQ(form.NameCache().Count(), 3) << "only the last run's names are kept";

  // Closing the window while a run's slow lookups are under way waits for them.
  net.Update([](TSimConfig& c) {
    c.Route[0].Address = "10.0.0.11";  // not in the cache yet
    c.ReverseNames["10.0.0.11"] = TSimReverse::Name("other.test", 150);
  });
  form.StartTrace();
  ASSERT_TRUE(PumpUntil([&] { return form.ResolverSlotBusy(); }));
  form_.reset();
  EXPECT_EQ(net.Counters().ActiveLookups, 0);
  EXPECT_EQ(net.Counters().OpenSockets, 0);
}

// ---------------------------------------------------------------------------
// Runs over runs.

// A route of its own for each run: routers 10.1.<run>.1.. then the target.
std::string RunHop(int run, int position) {
  return "10.1." + std::to_string(run) + "." + std::to_string(position);
}
TSimConfig RouteOfRun(int run, int routers) {
  TSimConfig config;
  config.Target = TargetAddressText;
  for (int p = 1; p <= routers; ++p) config.Route.push_back(TSimHop::Router(RunHop(run, p)));
  config.Route.push_back(TSimHop::Destination(TargetAddressText));
  config.ForwardNames[TargetName] = TSimForward::To(TargetAddressText);
  config.ReverseNames[TargetAddressText] = TSimReverse::Name(TargetName);
  return config;
}

// Seeds after which the generator draws the same run id first and then five
// sequence numbers that none of the other seeds draws: runs started after them
// share their run id, but no probe takes another run's answer for its own.
std::vector<std::uint64_t> SeedsOfOneRunId(std::size_t count, std::uint16_t& runId) {
  // What the search below found; it runs again (slowly) should the generator change.
  static constexpr std::array<std::uint64_t, 9> Found{1,      37164,  70837,  90294, 107525,
                                                      119247, 123318, 131332, 168740};
  std::vector<std::uint64_t> seeds;
  std::set<std::int32_t> sequences;
  auto take = [&](std::uint64_t seed) {
    RandSeed(seed);
    const auto id = static_cast<std::uint16_t>(Random(30000));
    if (!seeds.empty() && id != runId) return;
    std::set<std::int32_t> drawn;
    for (int probe = 0; probe < 5; ++probe) drawn.insert(Random(65000));
    const bool apart = drawn.size() == 5 && std::none_of(drawn.begin(), drawn.end(), [&](auto n) {
                         return sequences.count(n) != 0;
                       });
    if (!apart) return;
    sequences.insert(drawn.begin(), drawn.end());
    seeds.push_back(seed);
    runId = id;
  };
  for (const std::uint64_t seed : Found) {
    if (seeds.size() < count) take(seed);
  }
  if (seeds.size() < count) {
    seeds.clear();
    sequences.clear();
    for (std::uint64_t seed = 1; seeds.size() < count && seed < 50'000'000; ++seed) take(seed);
    std::fprintf(stderr, "seeds of one run id for this generator:");
    for (auto seed : seeds) std::fprintf(stderr, " %llu,", static_cast<unsigned long long>(seed));
    std::fprintf(stderr, "\n");
  }
  return seeds;
}

TEST_F(Faults, RunStartedWhileTheLastRunsProbesAndNamesAreUnderWay) {
  constexpr int Restarts = 8;
  // Every run draws the same run id: only the identity of each worker keeps
  // the late reports of earlier runs out, though they come back to the same
  // slots with the same run id.
  std::uint16_t sameRunId = 0;
  const std::vector<std::uint64_t> seeds = SeedsOfOneRunId(Restarts + 1, sameRunId);
  ASSERT_EQ(seeds.size(), static_cast<std::size_t>(Restarts + 1));
  Install(RouteOfRun(0, 5));
  auto& form = MakeForm(TargetName, "5", "150");  // the five probes of the Start, no more
  for (int run = 0; run <= Restarts; ++run) {
    SCOPED_TRACE(run);
    TSimConfig config = RouteOfRun(run, 5);
    // Answers come hop by hop; names come after all of them; the target's own
    // lookup keeps this thread busy while earlier workers report.
    for (int p = 1; p <= 5; ++p) {
      config.Route[static_cast<std::size_t>(p - 1)].DelayMs = 20 * p;
      config.ReverseNames[RunHop(run, p)] =
          TSimReverse::Name("r" + std::to_string(p) + ".test", 80);
    }
    config.ForwardNames[TargetName] = TSimForward::To(TargetAddressText, 20);
    TSimNetwork::Instance().Update([&](TSimConfig& c) { c = config; });
    RandSeed(seeds[static_cast<std::size_t>(run)]);
    form.StartTrace();
    ASSERT_TRUE(form.Running);
    ASSERT_EQ(form.RunId, sameRunId) << "an earlier probe drew its sequence number in between";
    if (run > 0) {
      EXPECT_GT(form.DroppedProbeCount(), 0u);
      EXPECT_GT(form.DroppedResolverCount(), 0u);
    }
    if (run == Restarts) break;
    // Hop 1 is in and its name is being looked up: start over.
    ASSERT_TRUE(PumpUntil([&] { return Hop(1).Filled && form.ResolverSlotBusy(); }));
  }
  ASSERT_TRUE(RunUntilIdle());
  ASSERT_TRUE(Settle());

  ASSERT_EQ(form.RouteLength, 5);
  for (int p = 1; p <= 5; ++p) {
    EXPECT_EQ(Hop(p).Address, RunHop(Restarts, p)) << p;
    EXPECT_EQ(Hop(p).HostName, "r" + std::to_string(p) + ".test") << p;
  }
  // Nothing of the earlier runs reached the table or the cache.
  for (int run = 0; run < Restarts; ++run) {
    for (int p = 1; p <= 5; ++p) {
      EXPECT_FALSE(AnyHopFrom(RunHop(run, p))) << run << " " << p;
      EXPECT_EQ(form.NameCache().FindName(RunHop(run, p)), RunHop(run, p)) << run << " " << p;
    }
  }
  EXPECT_EQ(form.NameCache().Count(), 5);
  ExpectNothingLeft();
}

TEST_F(Faults, StartThatFindsNoHostLetsTheEarlierWorkersReportUnrecorded) {
  TSimConfig config = RouteTo(5);
  for (auto& hop : config.Route) hop.DelayMs = 60;
  config.Route.front().DelayMs = 0;
  for (int p = 1; p <= 5; ++p)
    config.ReverseNames[HopAddress(p)] = TSimReverse::Name("gw.test", 100);
  TSimNetwork& net = Install(config);
  auto& form = MakeForm(TargetName, "30", "150");
  form.StartTrace();
  ASSERT_TRUE(PumpUntil([&] { return Hop(1).Filled && form.ResolverSlotBusy(); }));
  const std::int32_t lastRequested = form.LastRequestedTtl;

  form.Host.Text = "nohost.test";
  // The box shows over an idle window whose earlier workers are set aside.
  bool idleBehindTheBox = false;
  view_.WhileShown = [&] { idleBehindTheBox = ShowsIdle() && !form.ProbeSlotBusy(); };
  form.StartTrace();
  view_.WhileShown = nullptr;
  EXPECT_TRUE(idleBehindTheBox);
  EXPECT_EQ(view_.Messages, std::vector<std::string>{"Host not found: nohost.test"});
  EXPECT_TRUE(ShowsIdle());
  EXPECT_FALSE(form.ProbeSlotBusy()) << "the failed Start dropped the earlier run's workers";
  EXPECT_GT(form.DroppedProbeCount(), 0u) << "the earlier run's probes are still under way";

  // Their reports only release them: nothing is recorded, launched or cached,
  // and the window stays Idle.
  ASSERT_TRUE(
      PumpUntil([&] { return form.DroppedProbeCount() == 0 && form.DroppedResolverCount() == 0; }));
  EXPECT_TRUE(ShowsIdle());
  for (int n = 1; n <= MaxHopEntries; ++n) EXPECT_FALSE(Hop(n).Filled) << n;
  EXPECT_EQ(form.LastRequestedTtl, lastRequested);
  EXPECT_EQ(form.NameCache().Count(), 0);

  form.Host.Text = TargetName;
  form.Button1Click();
  ASSERT_TRUE(RunUntilIdle());
  ExpectRoute(5);
  EXPECT_EQ(Hop(1).HostName, "gw.test");
  EXPECT_GE(net.Counters().ReverseLookups, 6);
  ExpectNothingLeft();
}

TEST_F(Faults, ManyRunsBackToBackEachUnderAnotherFault) {
  using Fault = std::function<void(TSimConfig&, int run)>;
  auto stray = [](TSimStrayKind kind) {
    return [kind](TSimConfig& c, int) { c.Strays.push_back(Stray(kind, 1)); };
  };
  const std::vector<Fault> faults{
      [](TSimConfig& c, int) {
        c.SendFailure = TSimFailure{Id_WSAEACCES, 1};
      },
      [](TSimConfig& c, int) {
        c.SelectFailure = TSimFailure{Id_WSAEINTR, 1};
      },
      [](TSimConfig& c, int) {
        c.ReceiveFailure = TSimFailure{Id_WSAECONNREFUSED, 1};
      },
      stray(TSimStrayKind::Redirect),
      stray(TSimStrayKind::Truncated),
      [](TSimConfig& c, int) {
        for (auto& hop : c.Route) hop.Duplicates = 2;
      },
      [](TSimConfig& c, int run) {  // names that take longer than the probes
        for (int p = 1; p <= 3; ++p)
          c.ReverseNames[RunHop(run, p)] = TSimReverse::Name("n.test", 30);
      },
      [](TSimConfig& c, int run) {  // names that fail late
        for (int p = 1; p <= 3; ++p) {
          c.ReverseNames[RunHop(run, p)] = TSimReverse::Failure(Id_WSATRY_AGAIN, 30);
        }
      },
  };
  Install(RouteOfRun(0, 1));
  auto& form = MakeForm(TargetName, "30", "100");

  constexpr int Runs = 24;
  for (int run = 0; run < Runs; ++run) {
    SCOPED_TRACE(run);
    const int routers = 1 + run % 3;
    TSimConfig config = RouteOfRun(run, routers);
    const std::size_t kind = static_cast<std::size_t>(run) % faults.size();
    faults[kind](config, run);
    TSimNetwork::Instance().Update([&](TSimConfig& c) { c = config; });
    form.StartTrace();
    ASSERT_TRUE(form.Running);
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_TRUE(ShowsIdle());

    ASSERT_EQ(form.RouteLength, routers + 1);
    for (int p = 1; p <= routers; ++p) {
      EXPECT_EQ(Hop(p).Address, RunHop(run, p)) << p;
      EXPECT_EQ(Hop(p).HostName, kind == 6 ? "n.test" : RunHop(run, p) + NoDnsSuffix) << p;
    }
    EXPECT_EQ(Hop(routers + 1).Address, TargetAddressText);
    EXPECT_EQ(Hop(routers + 1).HostName, TargetName);
  }
  ExpectNothingLeft();
}

}  // namespace
}  // namespace quillon::testing
