#include "gui/GridWidget.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include "gui/QtCanvas.h"
#include "trace/TraceRouteForm.h"

namespace quillon {

namespace {

constexpr TColor LineColor{192, 192, 192};

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

TGridLayout TOutGridWidget::Layout() const {
  return TGridLayout(form_ ? form_->OutGrid.ColCount() : 0, form_ ? form_->OutGrid.RowCount() : 0,
                     viewport()->width(), viewport()->height(), verticalScrollBar()->value(),
                     horizontalScrollBar()->value());
}

int TOutGridWidget::TopRow() const {
  return Layout().TopRow();
}

QRect TOutGridWidget::CellRect(int col, int row) const {
  const TRect cell = Layout().CellRect(col, row);
  if (cell.Right <= cell.Left) return {};
  return QRect(cell.Left, cell.Top, cell.Right - cell.Left, cell.Bottom - cell.Top);
}

void TOutGridWidget::UpdateScrollBars() {
  const TGridLayout layout = Layout();
  QScrollBar* vertical = verticalScrollBar();
  vertical->setRange(0, layout.MaxRowOffset());
  vertical->setPageStep(layout.PageRows());
  QScrollBar* horizontal = horizontalScrollBar();
  horizontal->setRange(0, layout.MaxScrollX());
  horizontal->setPageStep(layout.PageWidth());
}

void TOutGridWidget::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
}

void TOutGridWidget::scrollContentsBy(int, int) {
  viewport()->update();
}

void TOutGridWidget::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  painter.setFont(font());
  painter.fillRect(viewport()->rect(), palette().color(QPalette::Base));
  if (!form_) return;
  TQtCanvas canvas(painter, palette().color(QPalette::Text));
  PaintGrid(*form_, canvas, Layout(), LineColor);
}

}  // namespace quillon
