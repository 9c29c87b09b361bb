#include "cli/HopTable.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "cli/TerminalText.h"
#include "platform/Text.h"
#include "trace/TimeBar.h"
#include "trace/TraceRouteForm.h"

namespace quillon {
namespace {

constexpr int ColumnCount = 6;
constexpr int TimeColumn = 3;
constexpr int BarColumn = 5;
constexpr std::array<bool, ColumnCount> RightAligned = {true, false, false, true, true, false};
constexpr int PlainBarWidth = 20;
constexpr const char* Separator = "  ";

// Eighths of a block, from one eighth (U+258F) to seven (U+2589).
constexpr std::array<const char*, 8> PartialBlocks = {"",       "\u258F", "\u258E", "\u258D",
                                                      "\u258C", "\u258B", "\u258A", "\u2589"};
constexpr const char* FullBlock = "\u2588";

int DataRows(const TTraceSnapshot& s) {
  return s.Grid ? std::max(0, s.Grid->RowCount() - 1) : 0;
}

const std::string& CellOf(const TTraceSnapshot& s, int col, int row) {
  return s.Grid->Cell(col, row);
}

bool HasTime(const TTraceSnapshot& s, int row) {
  return !Trim(CellOf(s, TimeColumn, row)).empty();
}

// The AS column goes after the address (grid column 1), only with AS lookups.
constexpr int AsAfterColumn = 1;
constexpr const char* AsHeader = "AS";

std::string AsCellOf(const TTraceSnapshot& s, int row) {
  if (row == 0) return AsHeader;
  const auto index = static_cast<std::size_t>(row - 1);
  return index < s.AsCells.size() ? s.AsCells[index] : std::string();
}

// The AS cell inserted into a line's cells, when the snapshot has the column.
void InsertAsCell(const TTraceSnapshot& s, std::vector<std::string>& cells, std::string cell) {
  if (s.AsCells.empty()) return;
  cells.insert(cells.begin() + AsAfterColumn + 1, std::move(cell));
}

int AsColumnWidth(const TTraceSnapshot& s) {
  int width = 0;
  for (int row = 0; row <= DataRows(s); ++row)
    width = std::max(width, DisplayWidth(SanitizeForTerminal(AsCellOf(s, row))));
  return width;
}

std::string JoinLine(const std::vector<std::string>& cells) {
  std::string line;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (i > 0) line += Separator;
    line += cells[i];
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

}  // namespace

TTraceSnapshot SnapshotOf(const TTraceRouteForm& form) {
  TTraceSnapshot s;
  s.Grid = &form.OutGrid;
  s.TimeCount = form.TimeCount;
  s.TimeMax = form.TimeMax;
  s.Target = form.TargetHost;
  s.Address = form.TargetAddress;
  s.RouteEndFound = form.RouteEndFound;
  s.RouteLength = form.RouteLength;
  if (form.AsLookups) {
    for (int row = 1; row < form.OutGrid.RowCount(); ++row) {
      const THopEntry& entry = form.Hops[static_cast<std::size_t>(row)];
      const auto as = entry.Filled ? form.HopAs(entry.Address) : std::nullopt;
      s.AsCells.push_back(as ? AsNumbersText(as->Origin.Numbers) : std::string());
    }
  }
  return s;
}

std::string TimeBarText(const TTraceSnapshot& s, int row, int width, bool eighths) {
  if (s.Grid == nullptr || row < 1 || row >= s.Grid->RowCount() || !HasTime(s, row)) return {};
  const int units = eighths ? width * 8 : width;
  const int length = std::min(units, TimeBarLength(TimeCellValue(CellOf(s, TimeColumn, row)), units,
                                                   s.TimeCount, s.TimeMax));
  if (length <= 0) return {};
  if (!eighths) return std::string(static_cast<std::size_t>(length), '#');
  std::string bar;
  for (int i = 0; i < length / 8; ++i) bar += FullBlock;
  bar += PartialBlocks[static_cast<std::size_t>(length % 8)];
  return bar;
}

std::vector<std::string> RenderLiveTable(const TTraceSnapshot& s, const TTableStyle& style) {
  std::vector<std::string> lines;
  if (s.Grid == nullptr) return lines;
  // Fixed columns first; the host name takes what is left, the bar a third of
  // it. On a narrow terminal the bar goes first, then the host name shrinks.
  const int usable = std::max(1, style.Columns - 1);
  const int separators =
      static_cast<int>(std::char_traits<char>::length(Separator)) * (ColumnCount - 1);
  std::array<int, ColumnCount> widths = {3, 15, 0, 6, 3, 0};
  // An address is only of use whole: the column takes the longest of the
  // route's (an IPv6 one reaches 39 characters, more with a zone), while an
  // IPv4 route keeps the 15 of a dotted address.
  for (int row = 1; row <= DataRows(s); ++row) {
    widths[1] = std::max(widths[1], DisplayWidth(SanitizeForTerminal(CellOf(s, 1, row))));
  }
  const int asWidth = s.AsCells.empty() ? 0 : AsColumnWidth(s);
  const int fixed = widths[0] + widths[1] + widths[3] + widths[4] + separators +
                    (s.AsCells.empty() ? 0 : asWidth + static_cast<int>(std::strlen(Separator)));
  const int rest = std::max(0, usable - fixed);
  widths[BarColumn] = rest >= 30 ? std::min(40, rest / 3) : 0;
  widths[2] = std::max(4, rest - widths[BarColumn]);
  // Lines still too wide are cut as a whole, and then carry no colour.
  const bool cut = fixed + widths[2] + widths[BarColumn] > usable;
  const bool color = style.Color && !cut;

  const auto line = [&](int row, bool header) {
    std::vector<std::string> cells;
    for (int col = 0; col < ColumnCount; ++col) {
      const auto width = widths[static_cast<std::size_t>(col)];
      if (col == BarColumn && !header) {
        std::string bar = TimeBarText(s, row, width, style.Unicode);
        if (color && !bar.empty()) bar = "\x1b[31m" + bar + "\x1b[0m";
        cells.push_back(bar);
      } else {
        cells.push_back(
            FitToWidth(CellOf(s, col, row), width, RightAligned[static_cast<std::size_t>(col)]));
      }
    }
    InsertAsCell(s, cells, FitToWidth(AsCellOf(s, row), asWidth));
    std::string text = JoinLine(cells);
    if (cut && DisplayWidth(text) > usable) {
      text = FitToWidth(text, usable);
      while (!text.empty() && text.back() == ' ') text.pop_back();
    }
    if (header && color) text = "\x1b[1m" + text + "\x1b[0m";
    return text;
  };
  lines.push_back(line(0, true));
  for (int row = 1; row <= DataRows(s); ++row) lines.push_back(line(row, false));
  return lines;
}

std::string RenderPlainTable(const TTraceSnapshot& s) {
  if (s.Grid == nullptr) return {};
  std::array<int, ColumnCount> widths{};
  for (int row = 0; row <= DataRows(s); ++row) {
    for (int col = 0; col < BarColumn; ++col) {
      auto& width = widths[static_cast<std::size_t>(col)];
      width = std::max(width, DisplayWidth(SanitizeForTerminal(CellOf(s, col, row))));
    }
  }
  widths[BarColumn] = std::max(PlainBarWidth, DisplayWidth(CellOf(s, BarColumn, 0)));
  std::string out;
  for (int row = 0; row <= DataRows(s); ++row) {
    std::vector<std::string> cells;
    for (int col = 0; col < ColumnCount; ++col) {
      const auto width = widths[static_cast<std::size_t>(col)];
      if (col == BarColumn && row > 0) {
        cells.push_back(TimeBarText(s, row, width, false));
      } else {
        cells.push_back(
            FitToWidth(CellOf(s, col, row), width, RightAligned[static_cast<std::size_t>(col)]));
      }
    }
    InsertAsCell(s, cells, FitToWidth(AsCellOf(s, row), AsColumnWidth(s)));
    out += JoinLine(cells) + "\n";
  }
  return out;
}

std::vector<std::string> RenderStatisticsLines(const TReportSnapshot& report, int width) {
  // With AS lookups a column "AS" follows the hop's number.
  const int asColumns = report.AsLookups ? 1 : 0;
  const int hostColumn = 1 + asColumns;
  const auto withAs = [&](const TStatisticsCells& cells, std::string as) {
    std::vector<std::string> line(cells.begin(), cells.end());
    if (report.AsLookups) line.insert(line.begin() + 1, std::move(as));
    return line;
  };
  std::vector<std::vector<std::string>> rows{withAs(StatisticsHeaders, AsHeader)};
  for (std::size_t i = 0; i < report.Hops.size(); ++i) {
    const TReportHop& hop = report.Hops[i];
    rows.push_back(withAs(StatisticsCells(static_cast<int>(i + 1), hop),
                          hop.As ? AsNumbersText(hop.As->Origin.Numbers) : std::string()));
  }
  const int columns = StatisticsColumns + asColumns;
  std::vector<int> widths(static_cast<std::size_t>(columns), 0);
  for (auto& cells : rows) {
    for (std::size_t col = 0; col < cells.size(); ++col) {
      cells[col] = SanitizeForTerminal(cells[col]);
      widths[col] = std::max(widths[col], DisplayWidth(cells[col]));
    }
  }
  if (width > 0) {
    // Every figure whole; the host name takes what is left, at least a few characters.
    int fixed = static_cast<int>(std::char_traits<char>::length(Separator)) * (columns - 1);
    for (int col = 0; col < columns; ++col) {
      if (col != hostColumn) fixed += widths[static_cast<std::size_t>(col)];
    }
    auto& host = widths[static_cast<std::size_t>(hostColumn)];
    host = std::clamp(width - 1 - fixed, 4, std::max(4, host));
  }
  std::vector<std::string> lines;
  for (const auto& cells : rows) {
    std::vector<std::string> fitted;
    for (std::size_t col = 0; col < cells.size(); ++col) {
      // Figures right-aligned; the host and the AS read from the left.
      const bool text = static_cast<int>(col) == hostColumn || (asColumns > 0 && col == 1);
      fitted.push_back(FitToWidth(cells[col], widths[col], !text));
    }
    std::string line = JoinLine(fitted);
    if (width > 0 && DisplayWidth(line) >= width) line = FitToWidth(line, width - 1);
    lines.push_back(line);
  }
  const std::string footnote = LossHereOnlyFootnote(report);
  if (!footnote.empty()) lines.push_back(width > 0 ? FitToWidth(footnote, width - 1) : footnote);
  return lines;
}

}  // namespace quillon
