// A hop's statistics and every export made of them: the formulas as one table of
// whole scenarios, the loss-here-only rule, CSV quoting, and the documents the
// terminal and both windows write.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "trace/Report.h"

namespace quillon {
namespace {

// One attempt: answered in `ms` by `from`, or lost when `from` is empty.
struct Attempt {
  double ms;
  std::string from;
};
const Attempt Lost{0, ""};

THopStats Attempts(const std::vector<Attempt>& attempts) {
  THopStats hop;
  for (const Attempt& a : attempts) {
    UpdateHopStats(hop, TProbeOutcome::poSent);
    UpdateHopStats(hop, a.from.empty() ? TProbeOutcome::poLost : TProbeOutcome::poAnswered, a.ms,
                   a.from);
  }
  return hop;
}

using Opt = std::optional<double>;
struct FormulaRow {
  const char* name;
  std::vector<Attempt> attempts;
  unsigned sent, received;
  Opt loss, last, avg, best, worst, stdev, jitter, jitterMax;
};

void ExpectNear(const Opt& actual, const Opt& expected, const char* what) {
  ASSERT_EQ(actual.has_value(), expected.has_value()) << what;
  if (expected) {
    EXPECT_NEAR(*actual, *expected, 0.005) << what;
  }
}

TEST(HopStats, Formulas) {
  const std::string A = "10.0.0.1";
  const FormulaRow rows[] = {
      {"nothing yet: blanks, never 0", {}, 0, 0, {}, {}, {}, {}, {}, {}, {}, {}},
      {"five times",
       {{136, A}, {184, A}, {115, A}, {148, A}, {125, A}},
       5,
       5,
       0.0,
       125,
       141.6,
       115,
       184,
       26.71,
       43.25,
       69},
      {"three attempts, the third answered: 2 lost of 3",
       {Lost, Lost, {7, A}},
       3,
       1,
       200.0 / 3,
       7,
       7,
       7,
       7,
       {},
       {},
       {}},
      {"only losses", {Lost, Lost}, 2, 0, 100.0, {}, {}, {}, {}, {}, {}, {}},
      {"a loss between two times leaves the jitter to those two",
       {{10, A}, Lost, {4, A}},
       3,
       2,
       100.0 / 3,
       4,
       7,
       4,
       10,
       4.2426,
       6,
       6},
  };
  for (const FormulaRow& row : rows) {
    SCOPED_TRACE(row.name);
    const THopStats s = Attempts(row.attempts);
    EXPECT_EQ(s.Sent, row.sent);
    EXPECT_EQ(s.Received, row.received);
    EXPECT_EQ(s.InFlight, 0u);
    ExpectNear(s.LossPercent(), row.loss, "loss");
    ExpectNear(s.LastMs, row.last, "last");
    ExpectNear(s.AverageMs(), row.avg, "avg");
    ExpectNear(s.BestMs, row.best, "best");
    ExpectNear(s.WorstMs, row.worst, "worst");
    ExpectNear(s.StdDevMs(), row.stdev, "stdev");
    ExpectNear(s.JitterAvgMs(), row.jitter, "jitter");
    ExpectNear(s.JitterWorstMs(), row.jitterMax, "jitter max");
  }
}

TEST(HopStats, InFlightIsNeitherLostNorAnswered) {
  THopStats s = Attempts({{5, "a"}});
  UpdateHopStats(s, TProbeOutcome::poSent);
  EXPECT_EQ(s.Sent, 2u);
  EXPECT_EQ(s.InFlight, 1u);
  EXPECT_EQ(s.LossPercent(), 0.0) << "a probe still waiting is no loss";
  // A report with nothing in flight still counts as sent, never as negative.
  THopStats bare;
  UpdateHopStats(bare, TProbeOutcome::poLost);
  EXPECT_EQ(bare.Sent, 1u);
  EXPECT_EQ(bare.Lost(), 1u);
}

TEST(HopStats, AddressesCountedUpToSixteen) {
  THopStats s = Attempts({{1, "A"}, {1, "A"}, {1, "B"}});
  ASSERT_EQ(s.AddressCount, 2u);
  EXPECT_EQ(s.Addresses[0].Address, "A");
  EXPECT_EQ(s.Addresses[0].Count, 2u);
  EXPECT_EQ(s.Addresses[1].Address, "B");
  EXPECT_EQ(s.Addresses[1].Count, 1u);
  EXPECT_EQ(s.MainAddress(), "A");
  for (int i = 0; i < 40; ++i) {
    UpdateHopStats(s, TProbeOutcome::poAnswered, 1, "10.1.0." + std::to_string(i));
  }
  EXPECT_EQ(s.AddressCount, MaxHopAddresses) << "memory stays bounded";
  EXPECT_EQ(s.Received, 43u) << "every answer still counts";
  UpdateHopStats(s, TProbeOutcome::poAnswered, 1, "B");
  UpdateHopStats(s, TProbeOutcome::poAnswered, 1, "B");
  EXPECT_EQ(s.MainAddress(), "B") << "the most frequent, ties to the first seen";
}

// Hops by their attempts: lost of done, every one answered by someone otherwise.
std::vector<THopStats> Route(const std::vector<std::pair<int, int>>& lostOfDone) {
  std::vector<THopStats> hops;
  for (const auto& [lost, done] : lostOfDone) {
    std::vector<Attempt> attempts;
    for (int i = 0; i < done; ++i) attempts.push_back(i < lost ? Lost : Attempt{1, "h"});
    hops.push_back(Attempts(attempts));
  }
  return hops;
}

TEST(HopStats, LossHereOnlyWhenTheHopsAfterLoseClearlyLess) {
  const struct {
    const char* name;
    std::vector<std::pair<int, int>> route;
    std::vector<bool> marked;
  } rows[] = {
      {"rate-limited middle hop", {{0, 20}, {14, 20}, {0, 20}}, {false, true, false}},
      {"loss carried on to the target", {{0, 20}, {6, 20}, {7, 20}}, {false, false, false}},
      {"lossy link, chance lower at the target",
       {{0, 20}, {8, 20}, {4, 20}},
       {false, false, false}},
      {"the last hop has no later hop to compare", {{0, 20}, {10, 20}}, {false, false}},
      {"a hop that never answered", {{20, 20}, {0, 20}}, {false, false}},
      {"one lost probe proves nothing", {{1, 10}, {0, 10}}, {false, false}},
      {"a later silent hop is skipped", {{12, 20}, {20, 20}, {0, 20}}, {true, false, false}},
  };
  for (const auto& row : rows) {
    const auto hops = Route(row.route);
    for (std::size_t i = 0; i < hops.size(); ++i) {
      EXPECT_EQ(LossHereOnly(hops, i), row.marked[i]) << row.name << ", hop " << i + 1;
    }
  }
}

TEST(Csv, FieldsQuotedAsRfc4180AndFormulasStayText) {
  const std::pair<const char*, const char*> rows[] = {
      {"gw.test", "gw.test"},
      {"", ""},
      {"a,b", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"two\r\nlines", "\"two\r\nlines\""},
      {"=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},
      {"+1", "\"'+1\""},
      {"-2+3", "\"'-2+3\""},
      {"@SUM(A1)", "\"'@SUM(A1)\""},
      {"\tcmd", "\"'\tcmd\""},
      {"a=b", "a=b"},
  };
  for (const auto& [text, field] : rows) EXPECT_EQ(CsvField(text), field) << text;
}

TReportHop Hop(TRouteTexts route, std::vector<Attempt> attempts = {}) {
  TReportHop hop;
  hop.Route = std::move(route);
  hop.Stats = Attempts(attempts);
  return hop;
}

TReportSnapshot OneRound() {
  TReportSnapshot r;
  r.Target = "target.test";
  r.Address = "10.9.9.9";
  r.Started = "2026-12-07 18:00:00";
  r.RouteEndFound = true;
  r.RouteLength = 4;
  r.RoundsDone = 1;
  r.Hops = {Hop({"1", "10.0.0.1", "gw.test", "3", "1"}),
            Hop({"2", "Unknown Ip", "Unknown Host", "300", "2"}), Hop({"3", "", "", "", ""}),
            Hop({"4", "10.9.9.9", "10.9.9.9[no DNS]", "12ms", " 4"})};
  return r;
}

// The whole one-round document, to the byte, is checked over a terminal run.
TEST(JsonReport, OneRoundIsTheRouteAlone) {
  const std::string text = RenderJson(OneRound());
  const auto doc = nlohmann::json::parse(text);
  EXPECT_EQ(doc.size(), 5u) << "no rounds, no statistics";
  EXPECT_EQ(doc["hops"][2], nlohmann::json::parse(R"({"no": 3, "address": "", "host": "",
      "time_ms": null, "ttl": null})"));
  EXPECT_EQ(doc["hops"][3]["time_ms"], 0) << "a time that is no number counts as 0, as in the grid";
  EXPECT_EQ(doc["hops"][3]["ttl"], 4);
  EXPECT_LT(text.find("\"route_length\""), text.find("\"hops\""));
}

TEST(JsonReport, NamesKeepTheirBytesEscapedAndInvalidUtf8IsReplaced) {
  const std::string evil = "\x1b]0;owned\x07\"quoted\"\\";
  TReportSnapshot r = OneRound();
  r.Hops = {Hop({"1", "10.0.0.1", evil, "1", "1"}), Hop({"2", "10.0.0.2", "bad\xff", "2", "2"})};
  const std::string text = RenderJson(r);
  EXPECT_EQ(text.find('\x1b'), std::string::npos);
  EXPECT_EQ(text.find('\x07'), std::string::npos);
  const auto doc = nlohmann::json::parse(text);
  EXPECT_EQ(doc["hops"][0]["host"], evil) << "the reader gets the name back exactly";
  EXPECT_EQ(doc["hops"][1]["host"], "bad\uFFFD");
}

TReportSnapshot ThreeRounds() {
  TReportSnapshot r = OneRound();
  r.Rounds = 3;
  r.RoundsDone = 3;
  r.IntervalMs = 500;
  r.Hops[0] = Hop({"1", "10.0.0.1", "gw.test", "3", "1"},
                  {{1.25, "10.0.0.1"}, {1.5, "10.0.0.1"}, {2, "10.0.0.7"}});
  r.Hops[0].Names[0] = "gw.test";
  r.Hops[1] = Hop({"2", "Unknown Ip", "Unknown Host", "300", "2"},
                  {Lost, {4, "=evil"}, Lost, {6, "=evil"}});
  r.Hops[1].LossHereOnly = true;
  return r;
}

TEST(JsonReport, RoundsAddTheRunsRoundsAndEachHopsStatistics) {
  const auto doc = nlohmann::json::parse(RenderJson(ThreeRounds()));
  EXPECT_EQ(doc["rounds"], 3);
  EXPECT_EQ(doc["rounds_done"], 3);
  EXPECT_EQ(doc["interval_s"], 0.5);
  EXPECT_EQ(doc["hops"][0]["ttl"], 1) << "the route stays as one round shows it";
  EXPECT_EQ(doc["hops"][0]["stats"], nlohmann::json::parse(R"({"sent": 3, "received": 3,
      "loss_pct": 0.0, "last_ms": 2.0, "avg_ms": 1.583, "best_ms": 1.25, "worst_ms": 2.0,
      "stdev_ms": 0.382, "jitter_ms": 0.375, "jitter_max_ms": 0.5,
      "addresses": [{"address": "10.0.0.1", "host": "gw.test", "count": 2},
                    {"address": "10.0.0.7", "host": "10.0.0.7", "count": 1}],
      "loss_here_only": false})"));
  EXPECT_EQ(doc["hops"][1]["stats"]["loss_pct"], 50.0);
  EXPECT_EQ(doc["hops"][1]["stats"]["loss_here_only"], true);
  EXPECT_EQ(doc["hops"][2]["stats"]["avg_ms"], nullptr) << "no answer yet: null, never 0";
  EXPECT_EQ(doc["hops"][2]["stats"]["loss_pct"], nullptr);
}

TEST(Exports, CsvTsvAndTheStatisticsViewShowTheSameFigures) {
  const TReportSnapshot r = ThreeRounds();
  EXPECT_EQ(StatisticsCells(1, r.Hops[0]),
            (TStatisticsCells{"1", "gw.test (+1)", "0.0", "3", "2.0", "1.6", "1.2", "2.0", "0.4"}))
      << "1.25 is printed with its half to the even neighbour";
  EXPECT_EQ(StatisticsCells(2, r.Hops[1]),
            (TStatisticsCells{"2", "=evil", "50.0*", "4", "6.0", "5.0", "4.0", "6.0", "1.4"}));
  EXPECT_EQ(StatisticsCells(3, r.Hops[2]), (TStatisticsCells{"3", "", "", "", "", "", "", "", ""}));

  const std::string csv = RenderCsv(r);
  EXPECT_EQ(csv.substr(0, csv.find("\r\n")),
            "No,Host,Address,Loss %,Sent,Received,Last,Avg,Best,Worst,StDev,Jitter,Jitter max,"
            "Addresses,Note");
  EXPECT_NE(csv.find("\r\n1,gw.test,10.0.0.1,0.0,3,3,2.000,1.583,1.250,2.000,0.382,0.375,0.500,"
                     "\"gw.test (10.0.0.1) 2, 10.0.0.7 1\",\r\n"),
            std::string::npos)
      << csv;
  EXPECT_NE(csv.find("\r\n2,\"'=evil\",\"'=evil\",50.0,4,2,"), std::string::npos) << csv;
  EXPECT_NE(csv.find(std::string(",\"") + LossHereOnlyText + "\"\r\n"), std::string::npos);
  EXPECT_NE(csv.find("\r\n3,,,,,,,,,,,,,,\r\n"), std::string::npos) << "blanks, never 0";

  const std::string tsv = RenderTsv(r, TGridView::gvStatistics);
  EXPECT_EQ(tsv.substr(0, tsv.find('\n')),
            "Target\ttarget.test\tAddress\t10.9.9.9\tStarted\t2026-12-07 18:00:00\tRounds\t3\t"
            "Interval\t0.5 s");
  EXPECT_NE(tsv.find("\nNo\tHost\tLoss %\tSent\tLast\tAvg\tBest\tWorst\tStDev\tAddresses\n"),
            std::string::npos);
  EXPECT_NE(tsv.find("\n2\t=evil\t50.0*\t4\t"), std::string::npos);
  EXPECT_EQ(tsv.substr(tsv.rfind('\n', tsv.size() - 2) + 1),
            std::string("* ") + LossHereOnlyText + "\n");
  const std::string route = RenderTsv(OneRound(), TGridView::gvRoute);
  EXPECT_NE(route.find("\nNo\tIp Address\tHostName\tTime\tTTL\n1\t10.0.0.1\tgw.test\t3\t1\n"),
            std::string::npos)
      << route;
  EXPECT_NE(route.find("\tRounds\t1\t"), std::string::npos);
}

}  // namespace
}  // namespace quillon
