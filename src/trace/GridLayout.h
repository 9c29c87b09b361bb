// Where the hop grid's cells sit in a window that shows part of it: one fixed
// header row and one fixed column, the engine's row height and column widths,
// and a one-pixel line right of and below every cell. Every window that shows
// the grid (the Qt one, the native Windows one) places, scrolls and paints its
// cells through this, so that they agree to the pixel.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>

#include "trace/Canvas.h"

namespace quillon {

class THopGrid;
class TTraceRouteForm;

class TGridLayout {
 public:
  // The most columns a view of the grid has (the statistics view's).
  static constexpr int KnownCols = 9;
  using TColWidths = std::array<int, KnownCols>;
  // The engine's widths, in pixels, of the route view's six columns, or of the
  // statistics view's nine when the grid has that many.
  static TColWidths DefaultColWidths(int colCount = 6);

  // A view of width x height pixels onto a grid of colCount x rowCount cells;
  // rowOffset data rows are scrolled away below the fixed row, and the scrolling
  // columns are moved scrollX pixels to the left.
  TGridLayout(int colCount, int rowCount, int width, int height, int rowOffset = 0, int scrollX = 0,
              const std::optional<TColWidths>& colWidths = std::nullopt);

  static constexpr int FixedCols = 1;
  static constexpr int FixedRows = 1;
  static constexpr int LineWidth = 1;
  int ColWidth(int col) const;
  static int RowHeight();

  int ColCount() const { return colCount_; }
  int RowCount() const { return rowCount_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  // The first data row shown below the fixed row.
  int TopRow() const { return FixedRows + rowOffset_; }
  // Left edge of a column, top edge of a row, in view coordinates.
  int ColLeft(int col) const;
  int RowTop(int row) const;
  int FixedWidth() const;
  int FixedHeight() const;
  // The part of the view that shows the cell's kind (corner, fixed row, fixed
  // column or scrolling cells).
  TRect RegionOf(int col, int row) const;
  // The cell's rectangle (lines excluded); empty when it is out of sight.
  TRect CellRect(int col, int row) const;
  // The cell in sight at a point of the view (its lines included); false where
  // the view shows no cell.
  bool CellAt(int x, int y, int& col, int& row) const;

  // Vertical scrolling, in rows: offsets 0..MaxRowOffset, a page of PageRows.
  int PageRows() const;
  int MaxRowOffset() const;
  // Horizontal scrolling, in pixels: 0..MaxScrollX, a page of PageWidth.
  int PageWidth() const;
  int MaxScrollX() const;

 private:
  int colCount_;
  int rowCount_;
  int width_;
  int height_;
  int rowOffset_;
  int scrollX_;
  TColWidths colWidths_;
};

// A text's width in pixels in the font the window draws its cells with.
using TTextWidth = std::function<int(const std::string&)>;

// The narrowest the host name and time chart columns get for the address
// column's sake: half their width, so a name's start and the bars stay readable.
constexpr int MinHostNameColWidth = 96;
constexpr int MinTimeChartColWidth = 48;

// The column widths for the grid's texts. A route with an IPv6 address gives
// the address column the width its longest address needs, taken first from the
// host name column down to MinHostNameColWidth, then from the time chart down to
// MinTimeChartColWidth, so the grid stays as wide as the window made for it;
// an address wider still is cut (CutCellText). Any other grid, and the
// statistics view, keeps the engine's widths.
TGridLayout::TColWidths GridColWidths(const THopGrid& grid, const TTextWidth& textWidth);

// The whole text of the cell at a point of the view when the cell cannot show
// all of it, otherwise empty: the windows show it as the cell's tooltip.
std::string CutCellText(const THopGrid& grid, const TGridLayout& layout, int x, int y,
                        const TTextWidth& textWidth);

// Paints every cell in sight through the engine's OutGridDrawCell and then the
// lines right of and below it, the scrolling cells first and each kind of cell
// clipped to its own area, so that scrolled cells never cover the fixed ones.
// A cell whose drawing fails stays as it is.
void PaintGrid(const TTraceRouteForm& form, TCanvas& canvas, const TGridLayout& layout,
               TColor lineColor);

}  // namespace quillon
