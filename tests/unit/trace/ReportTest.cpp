// A hop's statistics and every export made of them: the formulas as one table of
// whole scenarios, the loss-here-only rule, CSV quoting, and the documents the
// terminal and both windows write.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "trace/Report.h"

namespace quillon {
namespace {

// One attempt: answered in `ms` by `from`, or lost when `from` is empty. Waiting
// is sent with no report yet; Unsent is a loss reported with nothing in flight.
struct Attempt {
  double ms;
  std::string from;
};
const Attempt Lost{0, ""}, Waiting{0, "?"}, Unsent{0, "!"};

THopStats Attempts(const std::vector<Attempt>& attempts) {
  THopStats hop;
  for (const Attempt& a : attempts) {
    if (a.from != "!") UpdateHopStats(hop, TProbeOutcome::poSent);
    if (a.from == "?") continue;
    const bool lost = a.from.empty() || a.from == "!";
    UpdateHopStats(hop, lost ? TProbeOutcome::poLost : TProbeOutcome::poAnswered, a.ms, a.from);
  }
  return hop;
}

// Sent/received/in flight, then loss, last, avg, best, worst, stdev, jitter and
// its maximum to two places; "-" where the figure is blank.
std::string Figures(const THopStats& s) {
  std::string text =
      std::to_string(s.Sent) + "/" + std::to_string(s.Received) + "/" + std::to_string(s.InFlight);
  const std::optional<double> figures[] = {s.LossPercent(), s.LastMs,         s.AverageMs(),
                                           s.BestMs,        s.WorstMs,        s.StdDevMs(),
                                           s.JitterAvgMs(), s.JitterWorstMs()};
  for (const auto& v : figures) {
    char field[32] = " -";
    if (v) std::snprintf(field, sizeof field, " %.2f", *v);
    text += field;
  }
  return text;
}

TEST(HopStats, Formulas) {
  const std::string A = "10.0.0.1";
  const struct {
    const char* name;
    std::vector<Attempt> attempts;
    const char* figures;
  } rows[] = {
      {"nothing yet: blanks, never 0", {}, "0/0/0 - - - - - - - -"},
      {"five times",
       {{136, A}, {184, A}, {115, A}, {148, A}, {125, A}},
       "5/5/0 0.00 125.00 141.60 115.00 184.00 26.71 43.25 69.00"},
      {"three attempts, the third answered: 2 lost of 3",
       {Lost, Lost, {7, A}},
       "3/1/0 66.67 7.00 7.00 7.00 7.00 - - -"},
      {"only losses", {Lost, Lost}, "2/0/0 100.00 - - - - - - -"},
      {"a loss between two times leaves the jitter to those two",
       {{10, A}, Lost, {4, A}},
       "3/2/0 33.33 4.00 7.00 4.00 10.00 4.24 6.00 6.00"},
      {"waiting is no loss", {{5, A}, Waiting}, "2/1/1 0.00 5.00 5.00 5.00 5.00 - - -"},
      {"loss over ended waits only",
       {Lost, {5, A}, Waiting},
       "3/1/1 50.00 5.00 5.00 5.00 5.00 - - -"},
      {"a loss with none in flight is sent", {Unsent}, "1/0/0 100.00 - - - - - - -"},
  };
  for (const auto& row : rows) EXPECT_EQ(Figures(Attempts(row.attempts)), row.figures) << row.name;
}

TReportHop Hop(TRouteTexts route, std::vector<Attempt> attempts = {}) {
  TReportHop hop;
  hop.Route = std::move(route);
  hop.Stats = Attempts(attempts);
  return hop;
}

TEST(HopStats, AddressesCountedUpToSixteen) {
  TReportHop hop = Hop({}, {{1, "A"}, {1, "A"}, {1, "B"}});
  THopStats& s = hop.Stats;
  EXPECT_EQ(AddressList(hop), "A 2, B 1");
  EXPECT_EQ(s.MainAddress(), "A");
  for (int i = 0; i < 40; ++i) {
    UpdateHopStats(s, TProbeOutcome::poAnswered, 1, "10.1.0." + std::to_string(i));
  }
  EXPECT_EQ(s.AddressCount, MaxHopAddresses) << "memory stays bounded";
  EXPECT_EQ(s.Received, 43u) << "every answer still counts";
  UpdateHopStats(s, TProbeOutcome::poAnswered, 1, "B");
  UpdateHopStats(s, TProbeOutcome::poAnswered, 1, "B");
  EXPECT_EQ(s.MainAddress(), "B") << "the most frequent, ties to the first seen";
  const TReportHop tied = Hop({}, {{1, "B"}, {1, "A"}});
  EXPECT_EQ(std::tuple(tied.Stats.MainAddress(), StatisticsCells(1, tied)[1], AddressList(tied)),
            std::tuple("B", "B (+1)", "B 1, A 1"))
      << "two tied for the most: the first seen leads everywhere";
}

// Each hop as {lost, done}: the first `lost` attempts lost, the rest answered.
// Marked: 'x' where the loss is this hop's only, '.' elsewhere.
TEST(HopStats, LossHereOnlyWhenTheHopsAfterLoseClearlyLess) {
  const struct {
    const char* name;
    std::vector<std::pair<int, int>> route;
    std::string marked;
  } rows[] = {
      {"rate-limited middle hop", {{0, 20}, {14, 20}, {0, 20}}, ".x."},
      {"loss carried on to the target", {{0, 20}, {6, 20}, {7, 20}}, "..."},
      {"lossy link, chance lower at the target", {{0, 20}, {8, 20}, {4, 20}}, "..."},
      {"the last hop has no later hop to compare", {{0, 20}, {10, 20}}, ".."},
      {"a hop that never answered", {{20, 20}, {0, 20}}, ".."},
      {"one lost probe proves nothing", {{1, 10}, {0, 10}}, ".."},
      {"a later silent hop is skipped", {{12, 20}, {20, 20}, {0, 20}}, "x.."},
      {"just above the threshold (z 2.08)", {{0, 20}, {6, 20}, {1, 20}}, ".x."},
      {"just below the threshold (z 1.89)", {{0, 20}, {7, 20}, {2, 20}}, "..."},
  };
  for (const auto& row : rows) {
    std::vector<THopStats> hops;
    for (const auto& [lost, done] : row.route) {
      std::vector<Attempt> attempts(static_cast<std::size_t>(done), Attempt{1, "h"});
      std::fill_n(attempts.begin(), lost, Lost);
      hops.push_back(Attempts(attempts));
    }
    std::string marked;
    for (std::size_t i = 0; i < hops.size(); ++i) marked += LossHereOnly(hops, i) ? 'x' : '.';
    EXPECT_EQ(marked, row.marked) << row.name;
  }
}

TEST(Csv, FieldsQuotedAsRfc4180AndFormulasStayText) {
  const std::pair<const char*, const char*> rows[] = {
      {"gw.test", "gw.test"},
      {"", ""},
      {"a,b", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"two\r\nlines", "\"two\r\nlines\""},
      {"lone\rreturn", "\"lone\rreturn\""},
      {"=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},
      {"+1", "\"'+1\""},
      {"-2+3", "\"'-2+3\""},
      {"@SUM(A1)", "\"'@SUM(A1)\""},
      {"\tcmd", "\"'\tcmd\""},
      {"a=b", "a=b"},
  };
  for (const auto& [text, field] : rows) EXPECT_EQ(CsvField(text), field) << text;
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

// Every export names how the run probed; UDP's default port grows with the hop.
TEST(Exports, UdpAndTcpRunsNameTheirMethodAndPort) {
  TReportSnapshot r = OneRound();
  r.Method = TProbeMethod::pmUdp;
  EXPECT_NE(RenderTsv(r, TGridView::gvRoute).find("\tMethod\tUDP\tPort\t33434+\n"),
            std::string::npos);
  const std::string csv = RenderCsv(r);
  EXPECT_NE(csv.find(",UDP,33434\r\n2,"), std::string::npos) << csv;
  EXPECT_NE(csv.find(",UDP,33437\r\n"), std::string::npos) << csv;
  auto doc = nlohmann::ordered_json::parse(RenderJson(r));
  EXPECT_EQ(std::tuple(doc["method"], doc["port"], doc["port_per_hop"]),
            std::tuple("UDP", 33434, true));
  r.Method = TProbeMethod::pmTcp;
  r.Port = 443;
  EXPECT_TRUE(RunSummary(r).ends_with(", probes: TCP port 443")) << RunSummary(r);
  EXPECT_NE(RenderCsv(r).find(",TCP,443\r\n4,"), std::string::npos);
  doc = nlohmann::ordered_json::parse(RenderJson(r));
  EXPECT_EQ(std::tuple(doc["method"], doc["port"], doc.contains("port_per_hop")),
            std::tuple("TCP", 443, false));
  EXPECT_LT(RenderJson(r).find("\"port\""), RenderJson(r).find("\"hops\""));
}

TEST(JsonReport, NamesKeepTheirBytesEscapedAndInvalidUtf8IsReplaced) {
  const std::string evil = "\x1b]0;owned\x07\"quoted\"\\";
  TReportSnapshot r = OneRound();
  r.Hops = {Hop({"1", "10.0.0.1", evil, "1", "1"}), Hop({"2", "10.0.0.2", "bad\xff", "2", "2"})};
  // The parser refuses raw control bytes in a string: parsed, they were escaped.
  const auto doc = nlohmann::json::parse(RenderJson(r));
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
  EXPECT_EQ(std::tuple(doc["rounds"], doc["rounds_done"], doc["interval_s"]),
            std::tuple(3, 3, 0.5));
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

// The statistics view's cells are the TSV's rows; 1.25 prints as 1.2, its half
// to the even neighbour; a blank hop stays blank, never 0.
TEST(Exports, CsvTsvAndTheStatisticsViewShowTheSameFigures) {
  EXPECT_EQ(
      RenderCsv(ThreeRounds()),
      "No,Host,Address,Loss %,Sent,Received,Last,Avg,Best,Worst,StDev,Jitter,Jitter max,"
      "Addresses,Note,Method,Port\r\n"
      "1,gw.test,10.0.0.1,0.0,3,3,2.000,1.583,1.250,2.000,0.382,0.375,0.500,"
      "\"gw.test (10.0.0.1) 2, 10.0.0.7 1\",,ICMP,\r\n"
      "2,\"'=evil\",\"'=evil\",50.0,4,2,6.000,5.000,4.000,6.000,1.414,2.000,2.000,\"'=evil 2\","
      "\"loss here only: the router limits its ICMP answers, packets pass\",ICMP,\r\n"
      "3,,,,,,,,,,,,,,,ICMP,\r\n4,,,,,,,,,,,,,,,ICMP,\r\n");
  const std::string header = "Target\ttarget.test\tAddress\t10.9.9.9\tStarted\t2026-12-07 18:00:00";
  EXPECT_EQ(
      RenderTsv(ThreeRounds(), TGridView::gvStatistics),
      header +
          "\tRounds\t3\tInterval\t0.5 s\tMethod\tICMP\n"
          "No\tHost\tLoss %\tSent\tLast\tAvg\tBest\tWorst\tStDev\tAddresses\n"
          "1\tgw.test (+1)\t0.0\t3\t2.0\t1.6\t1.2\t2.0\t0.4\tgw.test (10.0.0.1) 2, 10.0.0.7 1\n"
          "2\t=evil\t50.0*\t4\t6.0\t5.0\t4.0\t6.0\t1.4\t=evil 2\n"
          "3\t\t\t\t\t\t\t\t\t\n4\t\t\t\t\t\t\t\t\t\n* loss here only: the router limits its ICMP "
          "answers, packets pass\n");
  // A run still under way names its rounds so far.
  for (const auto& [rounds, done, text] :
       {std::tuple(5, 2, "2 of 5"), std::tuple(0, 3, "3 (until Stop)")}) {
    TReportSnapshot running = ThreeRounds();
    running.Rounds = rounds;
    running.RoundsDone = done;
    const std::string tsv = RenderTsv(running, TGridView::gvRoute);
    EXPECT_EQ(tsv.substr(0, tsv.find('\n')),
              header + "\tRounds\t" + text + "\tInterval\t0.5 s\tMethod\tICMP");
  }
  EXPECT_EQ(RenderTsv(OneRound(), TGridView::gvRoute),
            header +
                "\tRounds\t1\tInterval\t1 s\tMethod\tICMP\nNo\tIp Address\tHostName\tTime\tTTL\n"
                "1\t10.0.0.1\tgw.test\t3\t1\n2\tUnknown Ip\tUnknown Host\t300\t2\n3\t\t\t\t\n"
                "4\t10.9.9.9\t10.9.9.9[no DNS]\t12ms\t 4\n");
}

}  // namespace
}  // namespace quillon
