#include "trace/GridLayout.h"

#include <algorithm>
#include <exception>
#include <iterator>
#include <utility>

#include "platform/Text.h"
#include "trace/HopGrid.h"
#include "trace/TraceRouteForm.h"

namespace quillon {

namespace {

constexpr int DefaultColWidth = 64;
constexpr int AddressCol = 1;
constexpr int HostNameCol = 2;
constexpr int TimeChartCol = 5;

bool Intersects(const TRect& a, const TRect& b) {
  return a.Left < b.Right && b.Left < a.Right && a.Top < b.Bottom && b.Top < a.Bottom;
}

}  // namespace

TGridLayout::TColWidths TGridLayout::DefaultColWidths(int colCount) {
  static_assert(std::size(THopGrid::StatisticsColWidths) == KnownCols);
  TColWidths widths{};  // 0: a column of no view, DefaultColWidth wide
  if (colCount == KnownCols) {
    std::copy(std::begin(THopGrid::StatisticsColWidths), std::end(THopGrid::StatisticsColWidths),
              widths.begin());
  } else {
    std::copy(std::begin(THopGrid::ColWidths), std::end(THopGrid::ColWidths), widths.begin());
  }
  return widths;
}

TGridLayout::TGridLayout(int colCount, int rowCount, int width, int height, int rowOffset,
                         int scrollX, const std::optional<TColWidths>& colWidths)
    : colCount_(colCount),
      rowCount_(rowCount),
      width_(width),
      height_(height),
      rowOffset_(rowOffset),
      scrollX_(scrollX),
      colWidths_(colWidths.value_or(DefaultColWidths(colCount))) {}

int TGridLayout::ColWidth(int col) const {
  const bool known = col >= 0 && col < KnownCols && colWidths_[static_cast<std::size_t>(col)] > 0;
  return known ? colWidths_[static_cast<std::size_t>(col)] : DefaultColWidth;
}

int TGridLayout::RowHeight() {
  return THopGrid::DefaultRowHeight;
}

int TGridLayout::ColLeft(int col) const {
  int x = 0;
  for (int c = 0; c < col; ++c) x += ColWidth(c) + LineWidth;
  return col < FixedCols ? x : x - scrollX_;
}

int TGridLayout::RowTop(int row) const {
  const int pitch = RowHeight() + LineWidth;
  if (row < FixedRows) return row * pitch;
  return (row - TopRow() + FixedRows) * pitch;
}

int TGridLayout::FixedWidth() const {
  int width = 0;
  for (int c = 0; c < FixedCols; ++c) width += ColWidth(c) + LineWidth;
  return width;
}

int TGridLayout::FixedHeight() const {
  return FixedRows * (RowHeight() + LineWidth);
}

TRect TGridLayout::RegionOf(int col, int row) const {
  return {col < FixedCols ? 0 : FixedWidth(), row < FixedRows ? 0 : FixedHeight(),
          col < FixedCols ? FixedWidth() : width_, row < FixedRows ? FixedHeight() : height_};
}

TRect TGridLayout::CellRect(int col, int row) const {
  if (col < 0 || row < 0 || col >= colCount_ || row >= rowCount_) return {};
  if (row >= FixedRows && row < TopRow()) return {};
  const TRect cell{ColLeft(col), RowTop(row), ColLeft(col) + ColWidth(col),
                   RowTop(row) + RowHeight()};
  return Intersects(RegionOf(col, row), cell) ? cell : TRect{};
}

bool TGridLayout::CellAt(int x, int y, int& col, int& row) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return false;
  const int pitch = RowHeight() + LineWidth;
  row = y < FixedHeight() ? y / pitch : TopRow() + (y - FixedHeight()) / pitch;
  // Scrolled columns pass under the fixed one: only the kind in sight counts.
  const bool fixedCol = x < FixedWidth();
  for (col = fixedCol ? 0 : FixedCols; col < (fixedCol ? FixedCols : colCount_); ++col) {
    const int left = ColLeft(col);
    if (x >= left && x < left + ColWidth(col) + LineWidth) return row < rowCount_;
  }
  return false;
}

int TGridLayout::PageRows() const {
  const int pitch = RowHeight() + LineWidth;
  return std::max(1, (height_ - FixedHeight()) / pitch);
}

int TGridLayout::MaxRowOffset() const {
  return std::max(0, rowCount_ - FixedRows - PageRows());
}

int TGridLayout::PageWidth() const {
  return std::max(1, width_ - FixedWidth());
}

int TGridLayout::MaxScrollX() const {
  int scrolling = 0;
  for (int c = FixedCols; c < colCount_; ++c) scrolling += ColWidth(c) + LineWidth;
  return std::max(0, scrolling - std::max(0, width_ - FixedWidth()));
}

namespace {

void PaintRegion(const TTraceRouteForm& form, TCanvas& canvas, const TGridLayout& layout,
                 TColor lineColor, const TRect& clip, int firstCol, int lastCol, int firstRow,
                 int lastRow) {
  if (clip.Right <= clip.Left || clip.Bottom <= clip.Top) return;
  canvas.SetClip(clip);
  const int height = TGridLayout::RowHeight();
  const int line = TGridLayout::LineWidth;
  for (int row = firstRow; row <= lastRow; ++row) {
    const int top = layout.RowTop(row);
    if (top >= clip.Bottom) break;
    for (int col = firstCol; col <= lastCol; ++col) {
      const int left = layout.ColLeft(col);
      if (left >= clip.Right) break;
      const int right = left + layout.ColWidth(col);
      if (right <= clip.Left) continue;
      // A text longer than its cell stops at the cell's edge, also at the last
      // column, where nothing else would cover it; its tooltip shows it whole.
      const TRect cell{left, top, right, top + height};
      canvas.SetClip({std::max(cell.Left, clip.Left), std::max(cell.Top, clip.Top),
                      std::min(cell.Right, clip.Right), std::min(cell.Bottom, clip.Bottom)});
      try {
        form.OutGridDrawCell(canvas, col, row, cell);
      } catch (const std::exception&) {
        // A cell that cannot be drawn stays as it is; painting must go on.
      }
      canvas.SetClip(clip);
      // Drawn after the cell, so that text running over its edge does not
      // hide them.
      canvas.SetBrushColor(lineColor);
      canvas.FillRect({right, top, right + line, top + height + line});
      canvas.FillRect({left, top + height, right + line, top + height + line});
    }
  }
  canvas.ResetClip();
}

}  // namespace

void PaintGrid(const TTraceRouteForm& form, TCanvas& canvas, const TGridLayout& layout,
               TColor lineColor) {
  const int cols = layout.ColCount();
  const int rows = layout.RowCount();
  if (cols == 0 || rows == 0) return;
  constexpr int fc = TGridLayout::FixedCols;
  constexpr int fr = TGridLayout::FixedRows;
  const int top = layout.TopRow();
  PaintRegion(form, canvas, layout, lineColor, layout.RegionOf(fc, fr), fc, cols - 1, top,
              rows - 1);
  PaintRegion(form, canvas, layout, lineColor, layout.RegionOf(0, fr), 0, fc - 1, top, rows - 1);
  PaintRegion(form, canvas, layout, lineColor, layout.RegionOf(fc, 0), fc, cols - 1, 0, fr - 1);
  PaintRegion(form, canvas, layout, lineColor, layout.RegionOf(0, 0), 0, fc - 1, 0, fr - 1);
}

TGridLayout::TColWidths GridColWidths(const THopGrid& grid, const TTextWidth& textWidth) {
  TGridLayout::TColWidths widths = TGridLayout::DefaultColWidths(grid.ColCount());
  // The statistics view names hops rather than list their addresses.
  if (grid.ColCount() != 6) return widths;
  bool ipv6 = false;
  for (int row = TGridLayout::FixedRows; row < grid.RowCount() && !ipv6; ++row) {
    ipv6 = IsIPv6Text(grid.Cell(AddressCol, row));
  }
  // An IPv4 route keeps the design to the pixel.
  if (!ipv6 || !textWidth) return widths;
  int needed = 0;
  for (int row = TGridLayout::FixedRows; row < grid.RowCount(); ++row) {
    needed = std::max(needed, textWidth(grid.Cell(AddressCol, row)));
  }
  needed += 2 * THopGrid::TextInset;
  for (const auto& [col, least] : {std::pair{HostNameCol, MinHostNameColWidth},
                                   std::pair{TimeChartCol, MinTimeChartColWidth}}) {
    auto& giver = widths[static_cast<std::size_t>(col)];
    const int given = std::clamp(needed - widths[AddressCol], 0, std::max(0, giver - least));
    giver -= given;
    widths[AddressCol] += given;
  }
  return widths;
}

std::string CutCellText(const THopGrid& grid, const TGridLayout& layout, int x, int y,
                        const TTextWidth& textWidth) {
  int col = 0;
  int row = 0;
  if (!textWidth || !layout.CellAt(x, y, col, row)) return {};
  const std::string& text = grid.Cell(col, row);
  if (text.empty() || THopGrid::TextInset + textWidth(text) <= layout.ColWidth(col)) return {};
  return text;
}

}  // namespace quillon
