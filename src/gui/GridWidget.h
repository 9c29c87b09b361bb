// The hop grid control: a scrolling table with one fixed header row and one
// fixed column, thin lines between all cells and no editing or selection. It
// holds no texts of its own: every cell is painted by the engine's
// OutGridDrawCell from the engine's grid texts.
#pragma once

#include <QAbstractScrollArea>
#include <QRect>
#include <functional>

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
  // The tooltip at a viewport point: the whole text of a cell shown cut and
  // the engine's hint for the cell, or empty.
  QString ToolTipAt(const QPoint& point) const;
  // Where the menu opened from the keyboard shows: the first data cell's corner.
  QPoint KeyboardMenuPos() const;

  // The context menu is asked for (right click, Shift+F10, the menu key) at a
  // screen point; Ctrl+C asks for a copy. The window answers both.
  std::function<void(const QPoint& globalPos)> MenuRequested;
  std::function<void()> CopyRequested;

  static constexpr int GridLineWidth = TGridLayout::LineWidth;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  bool viewportEvent(QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // Where the cells sit at the current size and scroll position, the columns
  // sized for the grid's texts in the control's font.
  TGridLayout Layout() const;
  TTextWidth TextWidth() const;
  void UpdateScrollBars();

  const TTraceRouteForm* form_ = nullptr;
};

}  // namespace quillon
