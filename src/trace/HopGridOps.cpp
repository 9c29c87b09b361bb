// The hop grid's operations on the main window: its reset, its refresh from the
// hop table, the time figures and the owner drawing of every cell.
#include <algorithm>
#include <array>
#include <string>

#include "platform/Text.h"
#include "trace/TimeBar.h"
#include "trace/TraceRouteForm.h"

namespace quillon {
namespace {

constexpr int ColumnCount = 6;
constexpr int TimeColumn = 3;
constexpr int BarColumn = 5;
const char* const Headers[ColumnCount] = {"No",   "Ip Address", "HostName",
                                          "Time", "TTL",        "Time Chart"};

template <typename Cells>
void WriteCells(THopGrid& grid, int row, const Cells& cells) {
  int col = 0;
  for (const auto& text : cells) grid.SetCell(col++, row, std::string(text));
  for (; col < grid.ColCount(); ++col) grid.SetCell(col, row, "");
}

bool HasTime(const THopGrid& grid, int row) {
  return !Trim(grid.Cell(TimeColumn, row)).empty();
}

}  // namespace

TRouteTexts RouteRowTexts(int row, const THopEntry& entry) {
  if (!entry.Filled) return {std::to_string(row), "", "", "", ""};
  return {std::to_string(row), entry.Address, entry.HostName, std::to_string(entry.Time),
          std::to_string(entry.HopNo)};
}

void TTraceRouteForm::GridChanged() {
  if (view_ != nullptr) view_->GridChanged();
}

void TTraceRouteForm::WriteHeaders() {
  if (gridView_ == TGridView::gvStatistics) {
    OutGrid.SetColCount(StatisticsColumns);
    WriteCells(OutGrid, 0, StatisticsHeaders);
  } else {
    OutGrid.SetColCount(ColumnCount);
    WriteCells(OutGrid, 0, Headers);
  }
}

bool TTraceRouteForm::RowsShown() const {
  return (RouteEndFound ? RouteLength : HighestAnsweringHop) > 0 || keptRows_ > 0;
}

void TTraceRouteForm::WriteRows() {
  const int rows = OutGrid.RowCount() - 1;
  if (!RowsShown()) {
    for (int row = 1; row <= rows; ++row) WriteCells(OutGrid, row, std::array{std::to_string(row)});
  } else if (gridView_ == TGridView::gvStatistics) {
    const TReportSnapshot report = Report();
    for (int row = 1; row <= rows; ++row) {
      const TReportHop& hop = report.Hops[static_cast<std::size_t>(row - 1)];
      auto cells = StatisticsCells(row, hop);
      if (AsInHostCell && hop.As) cells[1] = AsHostCellPrefix(*hop.As) + cells[1];
      WriteCells(OutGrid, row, cells);
    }
  } else {
    for (int row = 1; row <= rows; ++row) {
      auto texts = RouteRowTexts(row, Hops[static_cast<std::size_t>(row)]);
      // The AS goes in front of the name, as the grid's widths stay as they are.
      const auto as = AsInHostCell ? HopAs(RowAddress(row)) : std::nullopt;
      if (as) texts[2] = AsHostCellPrefix(*as) + texts[2];
      WriteCells(OutGrid, row, texts);
    }
  }
}

void TTraceRouteForm::ResetGrid() {
  OutGrid.SetRowCount(2);
  WriteHeaders();
  WriteCells(OutGrid, 1, std::array{std::string("1")});
  // Only these two fields say whether an entry belongs to the coming run.
  for (int hop = 1; hop <= MaxHopEntries; ++hop) {
    Hops[static_cast<std::size_t>(hop)].Filled = false;
    Hops[static_cast<std::size_t>(hop)].Address.clear();
  }
  GridChanged();
}

void TTraceRouteForm::RefreshGrid() {
  try {
    int n = RouteEndFound ? RouteLength : HighestAnsweringHop;
    if (n > MaxHopEntries) n = MaxHopEntries;
    // Later rounds keep the rows of the longest route a round has committed.
    n = std::max(n, keptRows_);
    if (n <= 0) {
      // Nothing to show yet: a mark in the corner says the trace is under way.
      OutGrid.SetCell(0, 0, "*");
    } else {
      OutGrid.SetRowCount(n + 1);
      WriteRows();
    }
    ComputeTimeStats();
    GridChanged();
  } catch (...) {
    // The grid keeps what was written so far.
  }
}

void TTraceRouteForm::ComputeTimeStats() {
  TimeCount = 0;
  TimeMax = 0;
  if (gridView_ != TGridView::gvRoute) return;  // no time column, no bars
  for (int row = 1; row < OutGrid.RowCount(); ++row) {
    if (!HasTime(OutGrid, row)) continue;
    const std::int32_t value = TimeCellValue(OutGrid.Cell(TimeColumn, row));
    ++TimeCount;
    if (value > TimeMax) TimeMax = value;
  }
}

void TTraceRouteForm::OutGridDrawCell(TCanvas& canvas, int col, int row, const TRect& rect) const {
  if (gridView_ == TGridView::gvRoute && col == BarColumn && row != 0 && HasTime(OutGrid, row)) {
    canvas.SetPenColor(clWhite);
    canvas.SetBrushColor(clLightRed);
    canvas.Rectangle(rect);
    canvas.SetPenColor(clRed);
    canvas.SetBrushColor(clRed);
    const int length = TimeBarLength(TimeCellValue(OutGrid.Cell(TimeColumn, row)),
                                     rect.Right - rect.Left, TimeCount, TimeMax);
    if (length < 0) return;  // background only
    canvas.Rectangle({rect.Left, rect.Top + 2, rect.Left + length, rect.Bottom - 2});
    return;
  }
  canvas.SetPenColor(clWhite);
  canvas.SetBrushColor(clWhite);
  canvas.Rectangle(rect);
  canvas.TextOut(rect.Left + THopGrid::TextInset, rect.Top + 2, OutGrid.Cell(col, row));
}

}  // namespace quillon
