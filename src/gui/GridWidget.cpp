#include "gui/GridWidget.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <exception>

#include "gui/QtCanvas.h"
#include "trace/TraceRouteForm.h"

namespace quillon {

namespace {

constexpr int FixedCols = 1;
constexpr int FixedRows = 1;
constexpr int DefaultColWidth = 64;
const QColor LineColor(192, 192, 192);

}  // namespace

TOutGridWidget::TOutGridWidget(QWidget* parent) : QAbstractScrollArea(parent) {
  setFocusPolicy(Qt::StrongFocus);
  setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  // The grid paints every pixel itself; no background fill before each paint.
  viewport()->setAutoFillBackground(false);
  verticalScrollBar()->setSingleStep(1);
  horizontalScrollBar()->setSingleStep(8);
}

void TOutGridWidget::SetForm(const TTraceRouteForm* form) {
  form_ = form;
  Refresh();
}

void TOutGridWidget::Refresh() {
  UpdateScrollBars();
  viewport()->repaint();
}

int TOutGridWidget::ColCount() const {
  return form_ ? form_->OutGrid.ColCount() : 0;
}

int TOutGridWidget::RowCount() const {
  return form_ ? form_->OutGrid.RowCount() : 0;
}

int TOutGridWidget::ColWidth(int col) const {
  constexpr int known = static_cast<int>(std::size(THopGrid::ColWidths));
  return col >= 0 && col < known ? THopGrid::ColWidths[col] : DefaultColWidth;
}

int TOutGridWidget::RowHeight() const {
  return THopGrid::DefaultRowHeight;
}

int TOutGridWidget::TopRow() const {
  return FixedRows + verticalScrollBar()->value();
}

int TOutGridWidget::ColLeft(int col) const {
  int x = 0;
  for (int c = 0; c < col; ++c) x += ColWidth(c) + GridLineWidth;
  return col < FixedCols ? x : x - horizontalScrollBar()->value();
}

int TOutGridWidget::RowTop(int row) const {
  const int pitch = RowHeight() + GridLineWidth;
  if (row < FixedRows) return row * pitch;
  return (row - TopRow() + FixedRows) * pitch;
}

int TOutGridWidget::FixedWidth() const {
  int width = 0;
  for (int c = 0; c < FixedCols; ++c) width += ColWidth(c) + GridLineWidth;
  return width;
}

int TOutGridWidget::FixedHeight() const {
  return FixedRows * (RowHeight() + GridLineWidth);
}

QRect TOutGridWidget::RegionOf(int col, int row) const {
  const int width = viewport()->width();
  const int height = viewport()->height();
  const int left = col < FixedCols ? 0 : FixedWidth();
  const int right = col < FixedCols ? FixedWidth() : width;
  const int top = row < FixedRows ? 0 : FixedHeight();
  const int bottom = row < FixedRows ? FixedHeight() : height;
  return QRect(left, top, right - left, bottom - top);
}

QRect TOutGridWidget::CellRect(int col, int row) const {
  if (col < 0 || row < 0 || col >= ColCount() || row >= RowCount()) return {};
  if (row >= FixedRows && row < TopRow()) return {};
  const QRect cell(ColLeft(col), RowTop(row), ColWidth(col), RowHeight());
  return RegionOf(col, row).intersects(cell) ? cell : QRect();
}

void TOutGridWidget::UpdateScrollBars() {
  const int pitch = RowHeight() + GridLineWidth;
  const int dataRows = std::max(0, RowCount() - FixedRows);
  const int visibleRows = std::max(1, (viewport()->height() - FixedRows * pitch) / pitch);
  QScrollBar* vertical = verticalScrollBar();
  vertical->setRange(0, std::max(0, dataRows - visibleRows));
  vertical->setPageStep(visibleRows);

  int scrollingWidth = 0;
  for (int c = FixedCols; c < ColCount(); ++c) scrollingWidth += ColWidth(c) + GridLineWidth;
  const int available = std::max(0, viewport()->width() - FixedWidth());
  QScrollBar* horizontal = horizontalScrollBar();
  horizontal->setRange(0, std::max(0, scrollingWidth - available));
  horizontal->setPageStep(std::max(1, available));
}

void TOutGridWidget::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
}

void TOutGridWidget::scrollContentsBy(int, int) {
  viewport()->update();
}

void TOutGridWidget::PaintRegion(QPainter& painter, const QRect& clip, int firstCol, int lastCol,
                                 int firstRow, int lastRow) {
  if (clip.isEmpty() || !form_) return;
  painter.save();
  painter.setClipRect(clip);
  TQtCanvas canvas(painter, palette().color(QPalette::Text));
  const int bottomLimit = clip.bottom() + 1;
  const int rightLimit = clip.right() + 1;
  for (int row = firstRow; row <= lastRow; ++row) {
    const int top = RowTop(row);
    if (top >= bottomLimit) break;
    for (int col = firstCol; col <= lastCol; ++col) {
      const int left = ColLeft(col);
      if (left >= rightLimit) break;
      const int right = left + ColWidth(col);
      if (right <= clip.left()) continue;
      const TRect rect{left, top, right, top + RowHeight()};
      try {
        form_->OutGridDrawCell(canvas, col, row, rect);
      } catch (const std::exception&) {
        // A cell that cannot be drawn stays as it is; painting must go on.
      }
      // The lines right of and below the cell, drawn after the cell so that
      // text running over its edge does not hide them.
      painter.fillRect(QRect(right, top, GridLineWidth, RowHeight() + GridLineWidth), LineColor);
      painter.fillRect(QRect(left, rect.Bottom, ColWidth(col) + GridLineWidth, GridLineWidth),
                       LineColor);
    }
  }
  painter.restore();
}

void TOutGridWidget::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  painter.setFont(font());
  painter.fillRect(viewport()->rect(), palette().color(QPalette::Base));
  const int cols = ColCount();
  const int rows = RowCount();
  if (cols == 0 || rows == 0) return;

  const int lastCol = cols - 1;
  const int lastRow = rows - 1;
  // The scrolling cells first, then the fixed column, the fixed row and the
  // corner, each kept inside its own area so that scrolled cells never cover
  // the fixed ones.
  PaintRegion(painter, RegionOf(FixedCols, FixedRows), FixedCols, lastCol, TopRow(), lastRow);
  PaintRegion(painter, RegionOf(0, FixedRows), 0, FixedCols - 1, TopRow(), lastRow);
  PaintRegion(painter, RegionOf(FixedCols, 0), FixedCols, lastCol, 0, FixedRows - 1);
  PaintRegion(painter, RegionOf(0, 0), 0, FixedCols - 1, 0, FixedRows - 1);
}

}  // namespace quillon
