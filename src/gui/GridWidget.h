// The hop grid control: a scrolling table with one fixed header row and one
// fixed column, thin lines between all cells and no editing or selection. It
// holds no texts of its own: every cell is painted by the engine's
// OutGridDrawCell from the engine's grid texts.
#pragma once

#include <QAbstractScrollArea>
#include <QRect>

namespace quillon {

class TTraceRouteForm;

class TOutGridWidget : public QAbstractScrollArea {
 public:
  explicit TOutGridWidget(QWidget* parent = nullptr);

  // The engine whose grid is shown; null shows an empty control.
  void SetForm(const TTraceRouteForm* form);
  // The grid changed: adjusts the scroll range and repaints at once.
  void Refresh();

  // A cell's rectangle in viewport coordinates as the last paint placed it
  // (lines excluded); empty when the cell is scrolled out of sight.
  QRect CellRect(int col, int row) const;
  // The first data row shown below the fixed header row.
  int TopRow() const;

  static constexpr int GridLineWidth = 1;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  int ColCount() const;
  int RowCount() const;
  int ColWidth(int col) const;
  int RowHeight() const;
  // Left edge of a column in viewport coordinates (scrolled columns moved by
  // the horizontal offset).
  int ColLeft(int col) const;
  int RowTop(int row) const;
  int FixedWidth() const;
  int FixedHeight() const;
  // The area of the viewport that shows the cell's kind (corner, fixed row,
  // fixed column or scrolling cells).
  QRect RegionOf(int col, int row) const;
  void UpdateScrollBars();
  void PaintRegion(QPainter& painter, const QRect& clip, int firstCol, int lastCol, int firstRow,
                   int lastRow);

  const TTraceRouteForm* form_ = nullptr;
};

}  // namespace quillon
