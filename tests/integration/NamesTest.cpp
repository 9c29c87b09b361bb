// Reverse names and the name cache over the simulated network: what the hop
// table shows, which lookups are made, and when a run may end.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/Random.h"
#include "support/RecordingView.h"
#include "support/SimulatedNetwork.h"
#include "support/TempDir.h"
#include "trace/AsRecords.h"
#include "trace/DNSThread.h"
#include "trace/DnsBuffer.h"
#include "trace/GridMenu.h"
#include "trace/TraceRouteForm.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

class Names : public ::testing::Test {
 protected:
  void SetUp() override {
    files_.HistoryPath = dir_.File("quillon.hst");
    files_.CachePath = dir_.File("quillon.dnb");
    config_.Target = "10.9.9.9";
    config_.Route = {TSimHop::Router("10.0.0.1", 1), TSimHop::Router("10.0.0.2", 1),
                     TSimHop::Destination("10.9.9.9", 1)};
  }

  void TearDown() override {
    if (net_ != nullptr) net_->ReleaseHeldLookups();  // no worker may stay blocked
    form_.reset();
  }

  // A new program start: the network as configured, a form that has run FormCreate.
  TTraceRouteForm& Open(const std::vector<std::string>& parameters = {}) {
    if (net_ == nullptr) net_ = &InstallSimulatedNetwork(config_);
    form_.reset();
    form_ = std::make_unique<TTraceRouteForm>(&view_, files_);
    form_->FormCreate(parameters);
    return *form_;
  }

  // Dispatches the window's messages until the condition holds (false after 10 s).
  bool PumpUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      TMessageQueue::Main().WaitMessage(20);
      TMessageQueue::Main().ProcessMessages();
    }
    return true;
  }

  // A trace run as the command line starts it, to its end.
  void Trace() {
    ASSERT_FALSE(form_->Running);
    form_->Host.Text = config_.Target;
    form_->Hoops.Text = "3";  // no probe beyond the target
    form_->TimeOut.Text = "2000";
    form_->StartTrace();
    ASSERT_TRUE(form_->Running);
    ASSERT_TRUE(PumpUntil([&] { return !form_->Running; }));
  }

  // Prepares the state of a run for direct calls of StartNameResolution.
  void PretendRun(std::uint16_t runId, std::int32_t lastRequestedTtl) {
    form_->RunId = runId;
    form_->LastRequestedTtl = lastRequestedTtl;
    form_->StopRequested = false;
  }

  int ReverseLookups(const std::string& address = {}) const {
    int count = 0;
    for (const auto& lookup : net_->Lookups()) {
      if (lookup.Kind == TSimLookupKind::Reverse && (address.empty() || lookup.Query == address)) {
        ++count;
      }
    }
    return count;
  }

  int BusyResolvers() const {
    int busy = 0;
    for (const auto& slot : form_->ResolverSlots) busy += slot != nullptr ? 1 : 0;
    return busy;
  }

  const THopEntry& Hop(int n) const { return form_->Hops[static_cast<std::size_t>(n)]; }

  TTempDir dir_{"quillon-names"};
  TFormFiles files_;
  TSimConfig config_;
  TSimNetwork* net_ = nullptr;
  TRecordingView view_;
  std::unique_ptr<TTraceRouteForm> form_;
};

TEST_F(Names, CacheHitShowsAtOnceWithoutAWorker) {
  TDnsBuffer seed;
  seed.AddName("10.0.0.1", "cached.test");
  ASSERT_TRUE(seed.SaveToFile(files_.CachePath));
  Open();
  PretendRun(7, 5);
  form_->Hops[1] = {"10.0.0.1", "10.0.0.1", 1, 4, true};
  form_->StartNameResolution("10.0.0.1", 1);
  EXPECT_FALSE(form_->ResolverSlotBusy());
  EXPECT_EQ(Hop(1).HostName, "cached.test");
  EXPECT_EQ(Hop(1).Address, "10.0.0.1");
  EXPECT_EQ(form_->NameCache().Count(), 1);
  EXPECT_EQ(ReverseLookups(), 0);
}

TEST_F(Names, UnknownAddressesNeedNoLookup) {
  Open();
  PretendRun(7, 5);
  for (const std::string address : {"", "0.0.0.0"}) {
    form_->Hops[2] = {address, address, 2, 9, true};
    form_->StartNameResolution(address, 2);
    EXPECT_EQ(Hop(2).Address, "Unknown Ip");
    EXPECT_EQ(Hop(2).HostName, "Unknown Host");
    EXPECT_TRUE(Hop(2).Filled);
  }
  EXPECT_FALSE(form_->ResolverSlotBusy());
  EXPECT_EQ(form_->NameCache().Count(), 0);
  EXPECT_EQ(ReverseLookups(), 0);
}

TEST_F(Names, MissStartsAWorkerWhoseNameIsShownAndCached) {
  config_.ReverseNames["10.0.0.2"] = TSimReverse::HeldName("r2.test");
  Open();
  PretendRun(7, 5);
  form_->Hops[2] = {"10.0.0.2", "10.0.0.2", 2, 4, true};
  form_->StartNameResolution("10.0.0.2", 2);
  EXPECT_TRUE(form_->ResolverSlots[1] != nullptr);
  EXPECT_EQ(Hop(2).HostName, "10.0.0.2");  // until the worker reports
  net_->ReleaseHeldLookups();
  ASSERT_TRUE(PumpUntil([&] { return !form_->ResolverSlotBusy(); }));
  EXPECT_EQ(Hop(2).HostName, "r2.test");
  EXPECT_EQ(form_->NameCache().Count(), 1);
  EXPECT_EQ(form_->NameCache().FindName("10.0.0.2"), "r2.test");
}

TEST_F(Names, CachedNameEqualToTheAddressIsLookedUpAgain) {
  TDnsBuffer seed;
  seed.AddName("10.0.0.1", "10.0.0.1");
  ASSERT_TRUE(seed.SaveToFile(files_.CachePath));
  config_.ReverseNames["10.0.0.1"] = TSimReverse::Name("gw.test");
  Open();
  PretendRun(7, 5);
  form_->Hops[1] = {"10.0.0.1", "10.0.0.1", 1, 4, true};
  form_->StartNameResolution("10.0.0.1", 1);
  ASSERT_TRUE(PumpUntil([&] { return !form_->ResolverSlotBusy(); }));
  EXPECT_EQ(ReverseLookups("10.0.0.1"), 1);
  EXPECT_EQ(Hop(1).HostName, "gw.test");
  EXPECT_EQ(form_->NameCache().Count(), 2);
}

TEST_F(Names, FailedLookupIsShownCachedAndTakenFromTheCacheLater) {
  config_.ReverseNames["10.0.0.2"] = TSimReverse::Failure();
  config_.ReverseNames["10.0.0.1"] = TSimReverse::Name("gw.test");
  Open();
  Trace();
  EXPECT_EQ(Hop(2).HostName, "10.0.0.2[no DNS]");
  EXPECT_EQ(Hop(1).HostName, "gw.test");
  EXPECT_EQ(form_->NameCache().FindName("10.0.0.2"), "10.0.0.2[no DNS]");
  const int first = ReverseLookups();
  EXPECT_EQ(first, 3);

  Trace();  // a second run in the same process
  EXPECT_EQ(Hop(2).HostName, "10.0.0.2[no DNS]");
  EXPECT_EQ(Hop(1).HostName, "gw.test");
  EXPECT_EQ(ReverseLookups(), first);
}

TEST_F(Names, CacheFileCarriesNamesToTheNextProgramStart) {
  config_.ReverseNames["10.0.0.1"] = TSimReverse::Name("gw.test");
  config_.ReverseNames["10.9.9.9"] = TSimReverse::Name("target.test");
  Open();
  Trace();
  form_->FormClose();
  EXPECT_EQ(fs::file_size(files_.CachePath), 3u * 288u);

  Open();  // a second program start loads the saved file
  const int before = ReverseLookups();
  Trace();
  EXPECT_EQ(ReverseLookups(), before);
  EXPECT_EQ(Hop(1).HostName, "gw.test");
  EXPECT_EQ(Hop(2).HostName, "10.0.0.2[no DNS]");
  EXPECT_EQ(Hop(3).HostName, "target.test");
  form_->FormClose();  // an unchanged cache is written again, whole
  EXPECT_EQ(fs::file_size(files_.CachePath), 3u * 288u);
}

TEST_F(Names, SameUncachedAddressTwiceStartsTwoWorkersAndAddsTwoRecords) {
  config_.ReverseNames["10.0.0.4"] = TSimReverse::HeldName("four.test");
  Open();
  PretendRun(7, 5);
  form_->StartNameResolution("10.0.0.4", 1);
  form_->StartNameResolution("10.0.0.4", 2);
  EXPECT_TRUE(form_->ResolverSlots[1] != nullptr);
  EXPECT_TRUE(form_->ResolverSlots[2] != nullptr);
  net_->ReleaseHeldLookups();
  ASSERT_TRUE(PumpUntil([&] { return !form_->ResolverSlotBusy(); }));
  EXPECT_EQ(form_->NameCache().Count(), 2);
  EXPECT_EQ(Hop(1).HostName, "four.test");
  EXPECT_EQ(Hop(2).HostName, "four.test");
  EXPECT_EQ(ReverseLookups("10.0.0.4"), 2);
}

TEST_F(Names, AllSlotsBusyLeavesTheAddressAsTheName) {
  for (int i = 1; i <= 51; ++i) {
    config_.ReverseNames["10.1.0." + std::to_string(i)] =
        TSimReverse::HeldName("n" + std::to_string(i) + ".test");
  }
  Open();
  PretendRun(7, 60);
  for (int hop = 1; hop <= 51; ++hop) {
    const std::string address = "10.1.0." + std::to_string(hop);
    form_->Hops[static_cast<std::size_t>(hop)] = {address, address, hop, 1, true};
    form_->StartNameResolution(address, hop);
  }
  for (int slot = 1; slot <= ResolverSlotCount; ++slot) {
    EXPECT_EQ(form_->ResolverSlots[static_cast<std::size_t>(slot)]->HopNo, slot);
  }
  net_->ReleaseHeldLookups();
  ASSERT_TRUE(PumpUntil([&] { return !form_->ResolverSlotBusy(); }));
  EXPECT_EQ(Hop(50).HostName, "n50.test");
  EXPECT_EQ(Hop(51).HostName, "10.1.0.51");
  EXPECT_EQ(ReverseLookups("10.1.0.51"), 0);
  EXPECT_EQ(form_->NameCache().Count(), 50);
}

TEST_F(Names, NameForAHopAboveTheLastRequestedTtlIsDropped) {
  config_.ReverseNames["10.0.0.5"] = TSimReverse::Name("five.test");
  config_.ReverseNames["10.0.0.6"] = TSimReverse::Name("six.test");
  Open();
  // Equal is accepted: with one probe in flight the route's last hop is the
  // last TTL requested, and its name shows as with more in flight.
  PretendRun(7, 2);
  form_->Hops[2] = {"10.0.0.5", "10.0.0.5", 2, 1, true};
  form_->Hops[3] = {"10.0.0.6", "10.0.0.6", 3, 1, true};
  form_->StartNameResolution("10.0.0.5", 2);  // equal: accepted
  form_->StartNameResolution("10.0.0.6", 3);  // above: dropped
  ASSERT_TRUE(PumpUntil([&] { return !form_->ResolverSlotBusy(); }));
  EXPECT_EQ(Hop(2).HostName, "five.test");
  EXPECT_EQ(Hop(3).HostName, "10.0.0.6");
  EXPECT_EQ(form_->NameCache().Count(), 1);
  EXPECT_EQ(form_->NameCache().FindName("10.0.0.6"), "10.0.0.6");
}

TEST_F(Names, NoWorkerStartsAfterStop) {
  Open();
  PretendRun(7, 5);
  form_->StopRequested = true;
  form_->Hops[1] = {"10.0.0.1", "10.0.0.1", 1, 1, true};
  form_->StartNameResolution("10.0.0.1", 1);
  form_->StartNameResolution("0.0.0.0", 2);
  EXPECT_FALSE(form_->ResolverSlotBusy());
  EXPECT_EQ(Hop(1).HostName, "10.0.0.1");
  EXPECT_FALSE(Hop(2).Filled);
  EXPECT_EQ(ReverseLookups(), 0);
}

TEST_F(Names, RunEndsOnlyWhenNoResolverIsBusy) {
  config_.ReverseNames["10.0.0.2"] = TSimReverse::HeldName("slow.test");
  Open();
  form_->Host.Text = config_.Target;
  form_->StartTrace();
  ASSERT_TRUE(PumpUntil([&] {
    return form_->RouteEndFound && Hop(1).Filled && Hop(2).Filled && Hop(3).Filled &&
           ReverseLookups() >= 2;
  }));
  // Every probe and every other lookup has reported; only the held lookup is left.
  ASSERT_TRUE(PumpUntil([&] { return !form_->ProbeSlotBusy() && BusyResolvers() == 1; }));
  EXPECT_TRUE(form_->Running);
  EXPECT_TRUE(form_->ResolverSlotBusy());
  EXPECT_FALSE(form_->Button1.Visible);
  net_->ReleaseHeldLookups();
  ASSERT_TRUE(PumpUntil([&] { return !form_->Running; }));
  EXPECT_EQ(Hop(2).HostName, "slow.test");
  EXPECT_TRUE(form_->Button1.Visible);
}

TEST_F(Names, WorkerOfAnEarlierRunNeitherWritesNorCaches) {
  config_.ReverseNames["10.0.0.7"] = TSimReverse::HeldName("late.test");
  Open();
  PretendRun(7, 5);
  form_->StartNameResolution("10.0.0.7", 1);
  ASSERT_TRUE(form_->ResolverSlotBusy());
  Trace();  // a new run drops the worker from its slot and fills hop 1 itself
  EXPECT_EQ(form_->DroppedResolverCount(), 1u);
  EXPECT_EQ(Hop(1).Address, "10.0.0.1");
  net_->ReleaseHeldLookups();
  // Its report releases it.
  ASSERT_TRUE(PumpUntil([&] { return form_->DroppedResolverCount() == 0; }));
  EXPECT_EQ(Hop(1).Address, "10.0.0.1");
  EXPECT_NE(Hop(1).HostName, "late.test");
  EXPECT_EQ(form_->NameCache().FindName("10.0.0.7"), "10.0.0.7");
}

TEST_F(Names, LateReportOfAnEarlierRunWithTheSameRunIdLeavesTheNewWorkerAlone) {
  config_.ReverseNames["10.0.0.7"] = TSimReverse::HeldName("late.test");
  // Held as well, so that hop 1's worker is still in slot 1 when the test looks.
  config_.ReverseNames["10.0.0.1"] = TSimReverse::HeldName("gw.test");
  Open();
  // The next Start draws the same run id as the earlier worker carries.
  RandSeed(42);
  const auto sameId = static_cast<std::uint16_t>(Random(30000));
  RandSeed(42);
  PretendRun(sameId, 5);
  form_->StartNameResolution("10.0.0.7", 1);
  const std::uint64_t earlier = form_->ResolverSlots[1]->Serial;
  form_->Host.Text = config_.Target;
  form_->Hoops.Text = "1";  // hop 1 alone: its worker is the only one, in slot 1
  form_->StartTrace();
  ASSERT_EQ(form_->RunId, sameId);
  // Hop 1's own worker takes slot 1, where the earlier one was.
  ASSERT_TRUE(PumpUntil([&] {
    return form_->ResolverSlots[1] != nullptr && form_->ResolverSlots[1]->Serial != earlier;
  }));
  net_->ReleaseHeldLookups();  // the earlier worker reports: slot 1, same run id
  // Both report; the earlier one is released however the two reports interleave.
  ASSERT_TRUE(PumpUntil([&] { return !form_->Running && form_->DroppedResolverCount() == 0; }));
  EXPECT_EQ(Hop(1).HostName, "gw.test");
  EXPECT_EQ(form_->NameCache().FindName("10.0.0.1"), "gw.test");
  EXPECT_EQ(form_->NameCache().FindName("10.0.0.7"), "10.0.0.7");
}

TEST_F(Names, AFailedStartDropsTheEarlierWorkersEvenWhenItDrawsTheirRunId) {
  config_.ReverseNames["10.0.0.8"] = TSimReverse::HeldName("stale.test");
  Open();
  RandSeed(42);
  const auto sameId = static_cast<std::uint16_t>(Random(30000));
  RandSeed(42);  // the failing Start draws the run id the worker carries
  PretendRun(sameId, 5);
  form_->Hops[1] = {"10.0.0.8", "10.0.0.8", 1, 1, true};
  form_->StartNameResolution("10.0.0.8", 1);
  ASSERT_TRUE(form_->ResolverSlotBusy());
  form_->Host.Text = "nowhere.test";  // unknown: the Start fails after drawing a run id
  form_->StartTrace();
  ASSERT_EQ(form_->RunId, sameId);
  ASSERT_EQ(view_.Messages.size(), 1u);
  EXPECT_EQ(view_.Messages[0], "Host not found: nowhere.test");
  EXPECT_FALSE(form_->Running);
  EXPECT_FALSE(form_->ResolverSlotBusy());
  EXPECT_EQ(form_->DroppedResolverCount(), 1u);
  net_->ReleaseHeldLookups();
  ASSERT_TRUE(PumpUntil([&] { return form_->DroppedResolverCount() == 0; }));
  EXPECT_FALSE(Hop(1).Filled);  // reset by the Start, untouched since
  EXPECT_EQ(form_->NameCache().Count(), 0);
}

// --- AS numbers (--as) ---

class AsNumbers : public Names {
 protected:
  void SetUp() override {
    Names::SetUp();
    config_.Target = "198.18.3.3";
    config_.Route = {TSimHop::Router("198.18.1.1", 1), TSimHop::Router("10.0.0.2", 1),
                     TSimHop::Router("198.18.2.1", 1), TSimHop::Destination("198.18.3.3", 1)};
    // The target has no record; the private hop is never asked about.
    config_.TextRecords[AsOriginQuestion("198.18.1.1")] =
        TSimText::Record({"64501 | 198.18.1.0/24 | ZZ | lab | 2026-12-01"});
    config_.TextRecords[AsOriginQuestion("198.18.2.1")] =
        TSimText::Record({"64501 64502 | 198.18.2.0/24 ", "| ZZ | lab | 2026-12-01"});
    config_.TextRecords[AsNameQuestion(64501)] =
        TSimText::Record({"64501 | ZZ | lab | 2026-12-01 | LAB-TRANSIT-A"});
    config_.TextRecords[AsNameQuestion(64502)] =
        TSimText::Record({"64502 | ZZ | lab | 2026-12-01 | LAB-TRANSIT-B"});
  }

  // A run from the command line, to its end and its last AS answer.
  void TraceWith(const std::vector<std::string>& options) {
    std::vector<std::string> parameters = options;
    parameters.insert(parameters.end(), {"-h", "4", "-w", "2000", config_.Target});
    Open(parameters);
    ASSERT_TRUE(PumpUntil([&] { return !form_->Running && !form_->AsSlotBusy(); }));
  }

  // The windows' host cells, hop by hop.
  std::vector<std::string> HostCells() const {
    std::vector<std::string> cells;
    for (int row = 1; row < form_->OutGrid.RowCount(); ++row)
      cells.push_back(form_->OutGrid.Cell(2, row));
    return cells;
  }
  const std::vector<std::string> WithAs = {"[AS64501] 198.18.1.1[no DNS]", "10.0.0.2[no DNS]",
                                           "[AS64501/AS64502] 198.18.2.1[no DNS]",
                                           "198.18.3.3[no DNS]"};
  const std::vector<std::string> Plain = {"198.18.1.1[no DNS]", "10.0.0.2[no DNS]",
                                          "198.18.2.1[no DNS]", "198.18.3.3[no DNS]"};
};

TEST_F(AsNumbers, ShownForEachHopAndRememberedForTheNextProgramStart) {
  TraceWith({"--as"});
  std::multiset<std::string> questions;
  for (const auto& lookup : net_->Lookups())
    if (lookup.Kind == TSimLookupKind::Text) questions.insert(lookup.Query);
  EXPECT_EQ(questions,
            (std::multiset<std::string>{
                AsOriginQuestion("198.18.1.1"), AsOriginQuestion("198.18.2.1"),
                AsOriginQuestion("198.18.3.3"), AsNameQuestion(64501), AsNameQuestion(64502)}));
  EXPECT_EQ(HostCells(), WithAs);
  EXPECT_EQ(form_->CellHint(2, 3), "AS64501 LAB-TRANSIT-A\nAS64502 LAB-TRANSIT-B");
  const std::string json = RenderJson(form_->Report());
  EXPECT_NE(json.find("\"numbers\": [\n          64501,\n          64502\n        ]"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"as\": null"), std::string::npos) << "the private hop";
  const std::string csv = RenderCsv(form_->Report());
  EXPECT_NE(
      csv.find(",AS64501/AS64502,198.18.2.0/24,ZZ,lab,LAB-TRANSIT-A / LAB-TRANSIT-B,ICMP,\r\n"),
      std::string::npos)
      << csv;
  form_->FormClose();

  // The next start asks nothing: answers and "no record" come from the file.
  const int before = net_->Counters().TextLookups;
  TraceWith({"--as"});
  EXPECT_EQ(net_->Counters().TextLookups, before);
  EXPECT_EQ(HostCells(), WithAs);
}

TEST_F(AsNumbers, NoQuestionWithoutTheOptionAndNothingInTheExports) {
  TraceWith({});
  EXPECT_EQ(net_->Counters().TextLookups, 0);
  EXPECT_EQ(HostCells(), Plain);
  EXPECT_EQ(RenderJson(form_->Report()).find("\"as\""), std::string::npos);
  form_->FormClose();
  EXPECT_FALSE(fs::exists(dir_.File("quillon.dna")));
  // The menu item asks about the hops already found.
  RunGridCommand(*form_, TGridCommand::gcAsNumbers);
  EXPECT_TRUE(GridCommandChecked(*form_, TGridCommand::gcAsNumbers));
  ASSERT_TRUE(PumpUntil([&] { return !form_->AsSlotBusy(); }));
  EXPECT_EQ(HostCells(), WithAs);
}

}  // namespace
}  // namespace quillon
