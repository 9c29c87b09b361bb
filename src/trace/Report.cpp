#include "trace/Report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <numeric>
#include <optional>

#include "platform/Text.h"
#include "trace/TimeBar.h"

namespace quillon {
namespace {

using json = nlohmann::ordered_json;

constexpr const char* RouteHeaders[RouteTextColumns] = {"No", "Ip Address", "HostName", "Time",
                                                        "TTL"};
constexpr const char* CsvHeaders[] = {"No",       "Host",   "Address",    "Loss %",    "Sent",
                                      "Received", "Last",   "Avg",        "Best",      "Worst",
                                      "StDev",    "Jitter", "Jitter max", "Addresses", "Note"};
constexpr const char* CsvProbeHeaders[] = {"Method", "Port"};
constexpr int RouteTimeColumn = 3;
constexpr int RouteTtlColumn = 4;
// Exports keep the microseconds the times were measured in.
constexpr int ExportDecimals = 3;

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string Fixed(const std::optional<double>& value, int decimals) {
  return value ? Fixed(*value, decimals) : std::string();
}

// A number for JSON: null when there is none, else rounded to the decimals.
json Number(const std::optional<double>& value, int decimals) {
  if (!value) return nullptr;
  const double scale = std::pow(10.0, decimals);
  return std::round(*value * scale) / scale;
}

// A route text as a JSON number: null when empty, 0 when it is no number.
json RouteNumber(const std::string& text) {
  if (Trim(text).empty()) return nullptr;
  return TimeCellValue(text);
}

std::string SecondsText(std::int32_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", ms / 1000.0);
  return text;
}

// The address indexes of a hop, most frequent first (equals in their order).
std::vector<std::size_t> ByCount(const THopStats& stats) {
  std::vector<std::size_t> order(stats.AddressCount);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return stats.Addresses[a].Count > stats.Addresses[b].Count;
  });
  return order;
}

std::string NameOf(const TReportHop& hop, std::size_t index) {
  const std::string& name = hop.Names[index];
  return name.empty() ? hop.Stats.Addresses[index].Address : name;
}

std::string TsvCell(std::string text) {
  std::replace_if(
      text.begin(), text.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
  return text;
}

template <typename Cells>
std::string TsvLine(const Cells& cells) {
  std::string line;
  for (const auto& cell : cells) {
    if (!line.empty() || &cell != &*std::begin(cells)) line += '\t';
    line += TsvCell(cell);
  }
  return line + "\n";
}

std::string RoundsText(const TReportSnapshot& r) {
  std::string text = std::to_string(r.RoundsDone);
  if (r.Rounds == 0) return text + " (until Stop)";
  if (r.Rounds != r.RoundsDone) text.append(" of ").append(std::to_string(r.Rounds));
  return text;
}

json StatsJson(const TReportHop& hop) {
  const THopStats& s = hop.Stats;
  json addresses = json::array();
  for (const std::size_t i : ByCount(s)) {
    addresses.push_back({{"address", s.Addresses[i].Address},
                         {"host", NameOf(hop, i)},
                         {"count", s.Addresses[i].Count}});
  }
  return {{"sent", s.Sent},
          {"received", s.Received},
          {"loss_pct", Number(s.LossPercent(), 2)},
          {"last_ms", Number(s.LastMs, ExportDecimals)},
          {"avg_ms", Number(s.AverageMs(), ExportDecimals)},
          {"best_ms", Number(s.BestMs, ExportDecimals)},
          {"worst_ms", Number(s.WorstMs, ExportDecimals)},
          {"stdev_ms", Number(s.StdDevMs(), ExportDecimals)},
          {"jitter_ms", Number(s.JitterAvgMs(), ExportDecimals)},
          {"jitter_max_ms", Number(s.JitterWorstMs(), ExportDecimals)},
          {"addresses", addresses},
          {"loss_here_only", hop.LossHereOnly}};
}

json AsJson(const TReportHop& hop) {
  if (!hop.As) return nullptr;
  const TAsOrigin& origin = hop.As->Origin;
  return {{"numbers", origin.Numbers},
          {"prefix", origin.Prefix},
          {"country", origin.Country},
          {"registry", origin.Registry},
          {"names", hop.As->Names}};
}

// The cells of a line with the AS cells after them when the report has them.
template <typename Cells>
std::vector<std::string> WithAs(const TReportSnapshot& r, const TReportHop* hop,
                                const Cells& cells) {
  std::vector<std::string> line(std::begin(cells), std::end(cells));
  if (!r.AsLookups) return line;
  if (hop == nullptr) {
    line.insert(line.end(), AsExportHeaders.begin(), AsExportHeaders.end());
  } else {
    const auto as = AsExportCells(*hop);
    line.insert(line.end(), as.begin(), as.end());
  }
  return line;
}

}  // namespace

const std::array<const char*, 5> AsExportHeaders = {"AS", "AS prefix", "AS country", "AS registry",
                                                    "AS name"};

std::array<std::string, 5> AsExportCells(const TReportHop& hop) {
  if (!hop.As) return {};
  const TAsOrigin& origin = hop.As->Origin;
  return {AsNumbersText(origin.Numbers), origin.Prefix, origin.Country, origin.Registry,
          AsNamesText(*hop.As)};
}

const TStatisticsCells StatisticsHeaders = {"No",  "Host", "Loss %", "Sent", "Last",
                                            "Avg", "Best", "Worst",  "StDev"};

std::string FormatMs(const std::optional<double>& ms) {
  return Fixed(ms, 1);
}

TStatisticsCells StatisticsCells(int row, const TReportHop& hop) {
  const THopStats& s = hop.Stats;
  TStatisticsCells cells;
  cells[0] = std::to_string(row);
  const auto order = ByCount(s);
  if (!order.empty()) {
    cells[1] = NameOf(hop, order.front());
    if (order.size() > 1)
      cells[1].append(" (+").append(std::to_string(order.size() - 1)).append(")");
  }
  cells[2] = Fixed(s.LossPercent(), 1);
  if (hop.LossHereOnly) cells[2] += "*";
  if (s.Sent > 0) cells[3] = std::to_string(s.Sent);
  cells[4] = FormatMs(s.LastMs);
  cells[5] = FormatMs(s.AverageMs());
  cells[6] = FormatMs(s.BestMs);
  cells[7] = FormatMs(s.WorstMs);
  cells[8] = FormatMs(s.StdDevMs());
  return cells;
}

std::string AddressList(const TReportHop& hop) {
  std::string list;
  for (const std::size_t i : ByCount(hop.Stats)) {
    if (!list.empty()) list += ", ";
    const std::string& address = hop.Stats.Addresses[i].Address;
    const std::string name = NameOf(hop, i);
    // A name that starts with the address (its "[no DNS]" fallback) says it already.
    list += name.rfind(address, 0) == 0 ? name : name + " (" + address + ")";
    list.append(" ").append(std::to_string(hop.Stats.Addresses[i].Count));
  }
  return list;
}

std::string LossHereOnlyFootnote(const TReportSnapshot& report) {
  const bool any = std::any_of(report.Hops.begin(), report.Hops.end(),
                               [](const TReportHop& hop) { return hop.LossHereOnly; });
  return any ? std::string("* ") + LossHereOnlyText : std::string();
}

namespace {

// The port hop (from 0) was probed at; "" for ICMP.
std::string HopPortText(const TReportSnapshot& r, int hop) {
  if (r.Method == TProbeMethod::pmIcmp) return {};
  return std::to_string(ProbeDestinationPort(r.Method, r.Port, hop));
}

}  // namespace

std::string RunSummary(const TReportSnapshot& r) {
  const std::string target =
      r.Address.empty() || r.Address == r.Target ? r.Target : r.Target + " (" + r.Address + ")";
  std::string rounds = std::to_string(r.RoundsDone) + (r.RoundsDone == 1 ? " round" : " rounds");
  if (r.Rounds == 0) rounds += " (until Stop)";
  if (r.Rounds > 0 && r.Rounds != r.RoundsDone)
    rounds.append(" of ").append(std::to_string(r.Rounds));
  return "Route to " + target + ", started " + r.Started + ", " + rounds + ", interval " +
         SecondsText(r.IntervalMs) + ", probes: " + ProbeMethodText(r.Method, r.Port);
}

std::string CsvField(std::string_view text) {
  const bool formula =
      !text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos;
  const bool special = text.find_first_of(",\"\r\n") != std::string_view::npos;
  if (!formula && !special) return std::string(text);
  std::string field = formula ? "\"'" : "\"";
  for (const char c : text) {
    if (c == '"') field += '"';
    field += c;
  }
  return field + "\"";
}

std::string RenderTsv(const TReportSnapshot& r, TGridView view) {
  std::vector<std::string> heading{"Target",   r.Target,
                                   "Address",  r.Address,
                                   "Started",  r.Started,
                                   "Rounds",   RoundsText(r),
                                   "Interval", SecondsText(r.IntervalMs),
                                   "Method",   ProbeMethodName(r.Method)};
  if (r.Method != TProbeMethod::pmIcmp) {
    heading.insert(heading.end(), {"Port", ProbePortText(r.Method, r.Port)});
  }
  std::string out = TsvLine(heading);
  if (view == TGridView::gvRoute) {
    out += TsvLine(WithAs(r, nullptr, RouteHeaders));
    for (const TReportHop& hop : r.Hops) out += TsvLine(WithAs(r, &hop, hop.Route));
    return out;
  }
  std::vector<std::string> header(StatisticsHeaders.begin(), StatisticsHeaders.end());
  header.push_back("Addresses");
  out += TsvLine(WithAs(r, nullptr, header));
  for (std::size_t i = 0; i < r.Hops.size(); ++i) {
    const auto cells = StatisticsCells(static_cast<int>(i + 1), r.Hops[i]);
    std::vector<std::string> line(cells.begin(), cells.end());
    line.push_back(AddressList(r.Hops[i]));
    out += TsvLine(WithAs(r, &r.Hops[i], line));
  }
  const std::string footnote = LossHereOnlyFootnote(r);
  if (!footnote.empty()) out += TsvCell(footnote) + "\n";
  return out;
}

std::string RenderCsv(const TReportSnapshot& r) {
  // With AS lookups each line ends in its hop's AS cells (the heading's: none);
  // then every row ends with how its hop was probed.
  // Appended, not added to literals: GCC 12 at -O2 misreads that as an overlapping copy.
  const TReportHop* lineHop = nullptr;
  std::string probe = ",";
  probe += CsvField(CsvProbeHeaders[0]);
  probe += ',';
  probe += CsvField(CsvProbeHeaders[1]);
  const auto line = [&](const auto& cells) {
    std::string text;
    const std::vector<std::string> all = WithAs(r, lineHop, cells);
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (i > 0) text += ',';
      text += CsvField(all[i]);
    }
    return text + probe + "\r\n";
  };
  std::string out = line(CsvHeaders);
  for (std::size_t i = 0; i < r.Hops.size(); ++i) {
    const TReportHop& hop = r.Hops[i];
    lineHop = &hop;
    const THopStats& s = hop.Stats;
    const auto order = ByCount(s);
    const std::string main = order.empty() ? std::string() : s.Addresses[order.front()].Address;
    probe.assign(1, ',');
    probe += ProbeMethodName(r.Method);
    probe += ',';
    probe += HopPortText(r, static_cast<int>(i));
    out += line(std::array<std::string, std::size(CsvHeaders)>{
        std::to_string(i + 1), order.empty() ? std::string() : NameOf(hop, order.front()), main,
        Fixed(s.LossPercent(), 1), s.Sent > 0 ? std::to_string(s.Sent) : std::string(),
        s.Sent > 0 ? std::to_string(s.Received) : std::string(), Fixed(s.LastMs, ExportDecimals),
        Fixed(s.AverageMs(), ExportDecimals), Fixed(s.BestMs, ExportDecimals),
        Fixed(s.WorstMs, ExportDecimals), Fixed(s.StdDevMs(), ExportDecimals),
        Fixed(s.JitterAvgMs(), ExportDecimals), Fixed(s.JitterWorstMs(), ExportDecimals),
        AddressList(hop), hop.LossHereOnly ? LossHereOnlyText : ""});
  }
  return out;
}

std::string RenderJson(const TReportSnapshot& r) {
  const bool repeated = r.Rounds != 1;
  json hops = json::array();
  for (std::size_t i = 0; i < r.Hops.size(); ++i) {
    const TReportHop& hop = r.Hops[i];
    const json no = RouteNumber(hop.Route[0]);
    json entry = {{"no", no.is_null() ? json(i + 1) : no},
                  {"address", hop.Route[1]},
                  {"host", hop.Route[2]},
                  {"time_ms", RouteNumber(hop.Route[RouteTimeColumn])},
                  {"ttl", RouteNumber(hop.Route[RouteTtlColumn])}};
    if (repeated) entry["stats"] = StatsJson(hop);
    if (r.AsLookups) entry["as"] = AsJson(hop);
    hops.push_back(std::move(entry));
  }
  json document = {{"target", r.Target},
                   {"address", r.Address},
                   {"route_end_found", r.RouteEndFound},
                   {"route_length", r.RouteLength}};
  // An ICMP document keeps the keys it always had.
  if (r.Method != TProbeMethod::pmIcmp) {
    document["method"] = ProbeMethodName(r.Method);
    const std::int32_t first = ProbeDestinationPort(r.Method, r.Port, 0);
    document["port"] = first;
    if (ProbeDestinationPort(r.Method, r.Port, 1) != first) document["port_per_hop"] = true;
  }
  if (repeated) {
    document["rounds"] = r.Rounds;
    document["rounds_done"] = r.RoundsDone;
    document["interval_s"] = r.IntervalMs / 1000.0;
    document["started"] = r.Started;
  }
  document["hops"] = hops;
  // Names are bytes from the network: invalid UTF-8 becomes U+FFFD instead of
  // failing the whole document; control characters are escaped by the writer.
  return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

std::string RenderReport(const TReportSnapshot& report, TExportFormat format) {
  return format == TExportFormat::efJson ? RenderJson(report) : RenderCsv(report);
}

}  // namespace quillon
