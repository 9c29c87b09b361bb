#include "trace/GridLayout.h"

#include <algorithm>
#include <exception>
#include <iterator>

#include "trace/HopGrid.h"
#include "trace/TraceRouteForm.h"

namespace quillon {

namespace {

constexpr int DefaultColWidth = 64;

bool Intersects(const TRect& a, const TRect& b) {
  return a.Left < b.Right && b.Left < a.Right && a.Top < b.Bottom && b.Top < a.Bottom;
}

}  // namespace

TGridLayout::TGridLayout(int colCount, int rowCount, int width, int height, int rowOffset,
                         int scrollX)
    : colCount_(colCount),
      rowCount_(rowCount),
      width_(width),
      height_(height),
      rowOffset_(rowOffset),
      scrollX_(scrollX) {}

int TGridLayout::ColWidth(int col) {
  constexpr int known = static_cast<int>(std::size(THopGrid::ColWidths));
  return col >= 0 && col < known ? THopGrid::ColWidths[col] : DefaultColWidth;
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
      const int right = left + TGridLayout::ColWidth(col);
      if (right <= clip.Left) continue;
      try {
        form.OutGridDrawCell(canvas, col, row, {left, top, right, top + height});
      } catch (const std::exception&) {
        // A cell that cannot be drawn stays as it is; painting must go on.
      }
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

}  // namespace quillon
