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

  static constexpr int GridLineWidth = TGridLayout::LineWidth;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  // Where the cells sit at the current size and scroll position.
  TGridLayout Layout() const;
  void UpdateScrollBars();

  const TTraceRouteForm* form_ = nullptr;
};

}  // namespace quillon
