// The hop grid control: a scrolling table with one fixed header row and one
// fixed column, thin lines between all cells and no editing or selection. It
// holds no texts of its own: every cell is painted by the engine's
// OutGridDrawCell from the engine's grid texts.
#pragma once

#include <QAbstractScrollArea>
#include <QRect>

#include "trace/GridLayout.h"

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
  // The tooltip at a viewport point: the whole text of a cell shown cut, or empty.
  QString ToolTipAt(const QPoint& point) const;

  static constexpr int GridLineWidth = TGridLayout::LineWidth;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  bool viewportEvent(QEvent* event) override;

 private:
  // Where the cells sit at the current size and scroll position, the columns
  // sized for the grid's texts in the control's font.
  TGridLayout Layout() const;
  TTextWidth TextWidth() const;
  void UpdateScrollBars();

  const TTraceRouteForm* form_ = nullptr;
};

}  // namespace quillon
