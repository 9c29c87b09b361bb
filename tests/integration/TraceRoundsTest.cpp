// Runs of several rounds over the simulated network: exactly the rounds asked
// for, each on time whatever is outstanding, one probe per hop in each, Stop
// between rounds, and names that arrive after the route changed.
#include <nlohmann/json.hpp>
#include <tuple>

#include "TraceFixture.h"
#include "platform/AtomicFile.h"
#include "trace/DnsBuffer.h"

namespace quillon::testing {
namespace {

class TraceRounds : public TraceTest {
 protected:
  TTraceRouteForm& MakeRounds(std::int32_t rounds, std::int32_t intervalMs) {
    auto& form = MakeForm();
    form.Rounds = rounds;
    form.IntervalMs = intervalMs;
    return form;
  }
};

TEST_F(TraceRounds, NRoundsRunExactlyNAndEveryHopIsSentN) {
  TSimConfig config = RouteTo(2, 20);
  config.Route[0].DelayMs = 2;
  TSimNetwork& net = Install(config);
  auto& form = MakeRounds(3, 0);
  form.InFlight = *TProbesInFlight::Of(4);
  form.StartTrace();
  ASSERT_TRUE(RunUntilIdle());
  ASSERT_TRUE(DrainWorkers());

  EXPECT_EQ(form.RoundsDone, 3);
  EXPECT_EQ(form.Round, 3);
  for (int ttl = 1; ttl <= 3; ++ttl) EXPECT_EQ(SentWithTtl(net, ttl), 3) << "TTL " << ttl;
  ASSERT_EQ(form.Report().Hops.size(), 3u) << "the hops of the route, not the probes beyond it";
  for (const auto& [s, address] : {std::pair{form.Stats[0], HopAddress(1)},
                                   {form.Stats[1], HopAddress(2)},
                                   {form.Stats[2], TargetAddressText}}) {
    EXPECT_EQ(std::tuple(s.Sent, s.Received, s.MainAddress()), std::tuple(3u, 3u, address));
  }
  EXPECT_GE(*form.Stats[2].BestMs, 20.0) << "times are the replies' own";
  EXPECT_EQ(form.OutGrid.RowCount(), 4);
  EXPECT_TRUE(ShowsIdle());
  const auto doc = nlohmann::json::parse(RenderJson(form.Report()));
  EXPECT_EQ(std::tuple(doc["rounds"], doc["rounds_done"], doc["hops"][2]["stats"]["received"]),
            std::tuple(3, 3, 3));

  // Saved as the copy shows it; a save that fails says why and changes nothing.
  const std::string path = (dir_ / "route.csv").string();
  EXPECT_EQ(form.SaveReport(path, TExportFormat::efCsv), "");
  std::string saved;
  ASSERT_TRUE(ReadFileContents(path, saved));
  EXPECT_EQ(saved, form.CopyCsvText());
  const std::string reason = form.SaveReport(path + "/x.json", TExportFormat::efJson);
  EXPECT_NE(reason.find("Cannot save " + path + "/x.json"), std::string::npos) << reason;
  ASSERT_TRUE(ReadFileContents(path, saved));
  EXPECT_EQ(saved, form.CopyCsvText());
  EXPECT_EQ(form.CopyText().rfind("Target\ttarget.test\tAddress\t10.9.9.9\tStarted\t", 0), 0u);
}

// Each run's hops as the report gives them, "address sent/received"; a hop a
// later round added reads "address +": sent at least once, at most the rounds.
TEST_F(TraceRounds, RoundsKeepTheirPaceAndCountOneProbePerHop) {
  TSimConfig silent = RouteTo(2);
  silent.Route[1] = TSimHop::Silent(HopAddress(2));
  const struct {
    const char* name;
    TSimConfig config;
    int rounds, intervalMs;
    const char* timeOut;
    int slowHop;     // round 1 waits for it: every round has started before
    bool lengthens;  // after round 1 a router comes in before the target
    const char* hops;
  } rows[] = {
      {"rounds start on time past a silent hop", silent, 4, 100, "300", 2, false,
       "10.0.0.1 4/4, Unknown Ip 4/0, 10.9.9.9 4/4"},
      {"late answers count for their own round; the target answering higher TTLs adds no row",
       RouteTo(2, 150), 3, 50, "1000", 0, false, "10.0.0.1 3/3, 10.0.0.2 3/3, 10.9.9.9 3/3"},
      {"a later round that lengthens the route adds its rows", RouteTo(2), 3, 200, "300", 0, true,
       "10.0.0.1 3/3, 10.0.0.2 3/3, 10.0.0.5 3/3, 10.9.9.9 +"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TSimNetwork& net = Install(row.config);
    auto& form = MakeRounds(row.rounds, row.intervalMs);
    form.TimeOut.Text = row.timeOut;
    form.StartTrace();
    if (row.slowHop > 0) {
      ASSERT_TRUE(PumpUntil([&] { return Hop(row.slowHop).Filled; }));
      EXPECT_EQ(form.Round, row.rounds) << "no round waited for the first one's silent hop";
    }
    if (row.lengthens) {
      ASSERT_TRUE(PumpUntil([&] { return form.RoundsDone >= 1; }));
      net.Update([](TSimConfig& c) {
        c.Route.insert(c.Route.begin() + 2, TSimHop::Router(HopAddress(5)));
      });
    }
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_EQ(form.RoundsDone, row.rounds);
    const TReportSnapshot report = form.Report();
    std::string hops;
    for (const TReportHop& hop : report.Hops) {
      const THopStats& s = hop.Stats;
      EXPECT_EQ(s.InFlight, 0u) << hop.Route[1];
      hops += (hops.empty() ? "" : ", ") + hop.Route[1] + " ";
      if (row.lengthens && &hop == &report.Hops.back()) {
        EXPECT_GE(s.Received, 1u);
        EXPECT_LE(s.Sent, static_cast<unsigned>(row.rounds));
        hops += "+";
      } else {
        hops += std::to_string(s.Sent) + "/" + std::to_string(s.Received);
      }
    }
    EXPECT_EQ(hops, row.hops);
    EXPECT_EQ(report.RouteLength, static_cast<int>(report.Hops.size()));
    ASSERT_TRUE(DrainWorkers());
  }
}

TEST_F(TraceRounds, FirstRoundRetriesAreOneProbeAndAHopNeverAnsweringIsAllLoss) {
  TSimConfig config = RouteTo(3);
  config.Route[0].FirstAnsweredAttempt = 3;  // the first two requests ever go unanswered
  config.Route[1] = TSimHop::Silent(HopAddress(2));
  Install(config);
  auto& form = MakeRounds(2, 0);
  form.TimeOut.Text = "60";
  form.StartTrace();
  ASSERT_TRUE(RunUntilIdle());
  ASSERT_EQ(form.RoundsDone, 2);
  const THopStats& first = form.Stats[0];
  // The second round starts at once: its one probe is among the two dropped.
  EXPECT_EQ(first.Sent, 2u) << "the first round's three attempts are one probe, answered";
  EXPECT_EQ(first.Lost(), 1u);
  EXPECT_EQ(std::tuple(form.Stats[1].Received, form.Stats[1].LossPercent()), std::tuple(0u, 100.0));
  EXPECT_FALSE(form.Stats[1].AverageMs()) << "no answer: no time, never 0";
  // The statistics view shows the same figures.
  form.SetGridView(TGridView::gvStatistics);
  EXPECT_EQ(form.OutGrid.ColCount(), 9);
  EXPECT_EQ(form.OutGrid.Cell(2, 1), "50.0");
  EXPECT_EQ(form.OutGrid.Cell(3, 1), "2");
  EXPECT_EQ(form.OutGrid.Cell(1, 2), "");
  EXPECT_EQ(form.OutGrid.Cell(2, 2), "100.0");
  EXPECT_EQ(form.OutGrid.Cell(5, 2), "");
  form.SetGridView(TGridView::gvRoute);
  EXPECT_EQ(form.OutGrid.Cell(1, 1), HopAddress(1));
}

TEST_F(TraceRounds, ARouteThatShortensIsShownNotCountedAsLoss) {
  TSimNetwork& net = Install(RouteTo(3));
  auto& form = MakeRounds(2, 200);
  form.StartTrace();
  ASSERT_TRUE(PumpUntil([&] { return form.RoundsDone == 1; }));
  net.Update([](TSimConfig& c) { c.Route.erase(c.Route.begin() + 1); });  // hop 2 goes
  ASSERT_TRUE(RunUntilIdle());
  ASSERT_EQ(form.RoundsDone, 2);
  ASSERT_EQ(form.Report().Hops.size(), 4u) << "the first round's route";
  EXPECT_EQ(std::tuple(form.Stats[3].Sent, form.Stats[3].Lost()), std::tuple(2u, 0u))
      << "hop 4 still answers, now from the target";
  EXPECT_EQ(AddressList(form.Report().Hops[2]), "10.0.0.3[no DNS] 1, 10.9.9.9[no DNS] 1");
  EXPECT_EQ(form.OutGrid.RowCount(), 5) << "the rows of the longest route stay";
}

TEST_F(TraceRounds, StopBetweenRoundsEndsTheRunAtOnce) {
  Install(RouteTo(1));
  auto& form = MakeRounds(0, 60000);  // until Stop, a minute apart
  form.StartTrace();
  ASSERT_TRUE(PumpUntil([&] { return form.RoundsDone == 1; }));
  ASSERT_TRUE(DrainWorkers());
  EXPECT_TRUE(form.Running) << "waiting for the next round";
  form.Button2Click();
  ASSERT_TRUE(PumpUntil([&] { return !form.Running; }, 2000)) << "not a minute later";
  EXPECT_EQ(form.RoundsDone, 1);
  EXPECT_TRUE(ShowsIdle());
  // Repeat until Stop from the menu: rounds for this run only.
  form.Rounds = 1;
  form.RepeatUntilStopClick();
  EXPECT_EQ(form.RunRounds, 0);
  EXPECT_EQ(form.Rounds, 1) << "Start traces once again";
  form.Button2Click();
  ASSERT_TRUE(RunUntilIdle());
}

TEST_F(TraceRounds, ALateNameLabelsOnlyItsOwnAddress) {
  TSimConfig config = RouteTo(1);
  config.ReverseNames[HopAddress(1)] = TSimReverse::HeldName("old.test");
  config.ReverseNames["10.0.0.7"] = TSimReverse::Name("new.test");
  TSimNetwork& net = Install(config);
  auto& form = MakeRounds(2, 200);
  form.StartTrace();
  ASSERT_TRUE(PumpUntil([&] { return form.RoundsDone == 1; }));
  // The route changes before the second round; the first name is still on its way.
  net.Update([](TSimConfig& c) { c.Route[0] = TSimHop::Router("10.0.0.7"); });
  ASSERT_TRUE(PumpUntil([&] { return form.RoundsDone == 2 && !form.ProbeSlotBusy(); }));
  EXPECT_TRUE(form.Running) << "the first lookup is still held";
  net.ReleaseHeldLookups();
  ASSERT_TRUE(RunUntilIdle());

  EXPECT_EQ(Hop(1).Address, "10.0.0.7");
  EXPECT_EQ(Hop(1).HostName, "new.test") << "the old address's name does not label the new";
  EXPECT_EQ(form.NameCache().FindName(HopAddress(1)), "old.test");
  const TReportSnapshot report = form.Report();
  EXPECT_EQ(AddressList(report.Hops[0]), "old.test (10.0.0.1) 1, new.test (10.0.0.7) 1");
  EXPECT_EQ(StatisticsCells(1, report.Hops[0])[1], "old.test (+1)");
  EXPECT_EQ(form.CellHint(1, 1), "") << "only in the statistics view";
  form.SetGridView(TGridView::gvStatistics);
  EXPECT_EQ(form.CellHint(1, 1), "Answered by old.test (10.0.0.1) 1, new.test (10.0.0.7) 1");
  // One lookup per address, however many rounds.
  for (const std::string& address : {HopAddress(1), std::string("10.0.0.7")}) {
    int lookups = 0;
    for (const auto& lookup : net.Lookups()) lookups += lookup.Query == address;
    EXPECT_EQ(lookups, 1) << address;
  }
}

}  // namespace
}  // namespace quillon::testing
