// The hop grid's operations on the main window: its reset, its refresh from the
// hop table, the time figures and the owner drawing of every cell.
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

void WriteRow(THopGrid& grid, int row, const THopEntry& entry) {
  grid.SetCell(0, row, std::to_string(row));
  if (entry.Filled) {
    grid.SetCell(1, row, entry.Address);
    grid.SetCell(2, row, entry.HostName);
    grid.SetCell(3, row, std::to_string(entry.Time));
    grid.SetCell(4, row, std::to_string(entry.HopNo));
    grid.SetCell(5, row, "");
  } else {
    for (int col = 1; col < ColumnCount; ++col) grid.SetCell(col, row, "");
  }
}

bool HasTime(const THopGrid& grid, int row) {
  return !Trim(grid.Cell(TimeColumn, row)).empty();
}

}  // namespace

void TTraceRouteForm::GridChanged() {
  if (view_ != nullptr) view_->GridChanged();
}

void TTraceRouteForm::ResetGrid() {
  OutGrid.SetColCount(ColumnCount);
  OutGrid.SetRowCount(2);
  for (int col = 0; col < ColumnCount; ++col) OutGrid.SetCell(col, 0, Headers[col]);
  OutGrid.SetCell(0, 1, "1");
  for (int col = 1; col < ColumnCount; ++col) OutGrid.SetCell(col, 1, "");
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
    if (n <= 0) {
      // Nothing to show yet: a mark in the corner says the trace is under way.
      OutGrid.SetCell(0, 0, "*");
    } else {
      OutGrid.SetRowCount(n + 1);
      for (int row = 1; row <= n; ++row)
        WriteRow(OutGrid, row, Hops[static_cast<std::size_t>(row)]);
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
  for (int row = 1; row < OutGrid.RowCount(); ++row) {
    if (!HasTime(OutGrid, row)) continue;
    const std::int32_t value = TimeCellValue(OutGrid.Cell(TimeColumn, row));
    ++TimeCount;
    if (value > TimeMax) TimeMax = value;
  }
}

void TTraceRouteForm::OutGridDrawCell(TCanvas& canvas, int col, int row, const TRect& rect) const {
  if (col == BarColumn && row != 0 && HasTime(OutGrid, row)) {
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
