// The texts a run is exported as (tab-separated for the clipboard, CSV, JSON)
// and the statistics view's cells: pure functions of a snapshot of the run, the
// one source of every export of the terminal and both windows.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/ProbeMethod.h"
#include "trace/AsRecords.h"
#include "trace/HopGrid.h"
#include "trace/HopStats.h"

namespace quillon {

enum class TExportFormat { efCsv, efJson };

// The route view's texts of a row without its bar: No, Ip Address, HostName, Time, TTL.
constexpr int RouteTextColumns = 5;
using TRouteTexts = std::array<std::string, RouteTextColumns>;

// The statistics view: No, Host, Loss %, Sent, Last, Avg, Best, Worst, StDev.
constexpr int StatisticsColumns = 9;
using TStatisticsCells = std::array<std::string, StatisticsColumns>;
extern const TStatisticsCells StatisticsHeaders;

struct TReportHop {
  TRouteTexts Route;                                 // as the route view shows the hop
  THopStats Stats;                                   // over every committed round
  std::array<std::string, MaxHopAddresses> Names{};  // of Stats.Addresses, "" when none yet
  bool LossHereOnly = false;
  std::optional<THopAs> As{};  // of the hop's address, when known
};

struct TReportSnapshot {
  std::string Target;
  std::string Address;
  std::string Started;  // local time of the run's start, "YYYY-MM-DD HH:MM:SS"
  bool RouteEndFound = false;
  std::int32_t RouteLength = 0;
  std::int32_t Rounds = 1;  // asked for; 0: until Stop
  std::int32_t RoundsDone = 0;
  std::int32_t IntervalMs = 1000;
  TProbeMethod Method = TProbeMethod::pmIcmp;  // how the run probed
  std::int32_t Port = 0;                       // fixed by the user; 0: the method's default
  bool AsLookups = false;                      // the exports then carry each hop's AS
  std::vector<TReportHop> Hops;                // hop 1 first
};

// A time as the views show it: milliseconds with one decimal; "" for none.
std::string FormatMs(const std::optional<double>& ms);
// The statistics view's row of a hop (row: its number). The Host cell holds the
// most frequent address's name (its address until one is known) and " (+n)" for
// the n others; the Loss % cell ends in '*' with the loss-here-only hint.
TStatisticsCells StatisticsCells(int row, const TReportHop& hop);
// Every address of a hop with its count (and name), most frequent first:
// "gw.test (10.0.0.1) 9, 10.0.0.7 1".
std::string AddressList(const TReportHop& hop);
// The footnote of a report whose hops carry the hint; "" when none does.
std::string LossHereOnlyFootnote(const TReportSnapshot& report);

// One line naming the run: "Route to T (A), started S, N rounds, interval I s,
// probes: M" (M as ProbeMethodText gives it).
std::string RunSummary(const TReportSnapshot& report);

// One field of a CSV line (RFC 4180): quoted when it holds a comma, a quote or a
// line break, and, when a spreadsheet would take it for a formula (it starts
// with = + - @, a tab or a carriage return), quoted behind an apostrophe, so it
// stays text.
std::string CsvField(std::string_view text);

// The clipboard's text: a first line naming the target, its address, the start
// time, the rounds, the interval and the method (and its port), then the view's header and rows,
// tab-separated (tabs and line breaks inside a cell become blanks), "\n" line ends.
std::string RenderTsv(const TReportSnapshot& report, TGridView view);
// The AS columns the exports add when AS lookups are on, and a hop's cells
// for them (all empty while its AS is not known).
extern const std::array<const char*, 5> AsExportHeaders;
std::array<std::string, 5> AsExportCells(const TReportHop& hop);

// Every hop's statistics and addresses as a CSV table, CRLF line ends; each
// row ends with the method and the port its hop was probed at.
std::string RenderCsv(const TReportSnapshot& report);
// {"target", "address", "route_end_found", "route_length", "hops": [{"no",
// "address", "host", "time_ms", "ttl"}...]}; a run of more than one round adds
// "rounds", "rounds_done", "interval_s" and each hop's "stats"; a UDP or TCP
// run adds "method" and "port" (the first hop's; "port_per_hop" when it grows
// with the hop); with AS lookups each hop has "as": null or {"numbers",
// "prefix", "country", "registry", "names"}. Ends with "\n".
std::string RenderJson(const TReportSnapshot& report);
std::string RenderReport(const TReportSnapshot& report, TExportFormat format);

}  // namespace quillon
