#include "gui/GridWidget.h"

#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>

#include "gui/QtCanvas.h"
#include "trace/GridMenu.h"
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

TTextWidth TOutGridWidget::TextWidth() const {
  return [metrics = QFontMetrics(font())](const std::string& text) {
    return metrics.horizontalAdvance(QString::fromStdString(text));
  };
}

TGridLayout TOutGridWidget::Layout() const {
  if (!form_) return TGridLayout(0, 0, viewport()->width(), viewport()->height());
  return TGridLayout(form_->OutGrid.ColCount(), form_->OutGrid.RowCount(), viewport()->width(),
                     viewport()->height(), verticalScrollBar()->value(),
                     horizontalScrollBar()->value(), GridColWidths(form_->OutGrid, TextWidth()));
}

QString TOutGridWidget::ToolTipAt(const QPoint& point) const {
  if (!form_) return {};
  return QString::fromStdString(GridCellTip(*form_, Layout(), point.x(), point.y(), TextWidth()));
}

QPoint TOutGridWidget::KeyboardMenuPos() const {
  const TGridLayout layout = Layout();
  return viewport()->mapToGlobal(QPoint(layout.FixedWidth(), layout.FixedHeight()));
}

void TOutGridWidget::contextMenuEvent(QContextMenuEvent* event) {
  if (!MenuRequested) return QAbstractScrollArea::contextMenuEvent(event);
  MenuRequested(event->reason() == QContextMenuEvent::Mouse ? event->globalPos()
                                                            : KeyboardMenuPos());
  event->accept();
}

void TOutGridWidget::keyPressEvent(QKeyEvent* event) {
  const bool menuKey = event->key() == Qt::Key_Menu ||
                       (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier);
  if (menuKey && MenuRequested) {
    MenuRequested(KeyboardMenuPos());
  } else if (event->matches(QKeySequence::Copy) && CopyRequested) {
    CopyRequested();
  } else {
    return QAbstractScrollArea::keyPressEvent(event);
  }
  event->accept();
}

bool TOutGridWidget::viewportEvent(QEvent* event) {
  if (event->type() != QEvent::ToolTip) return QAbstractScrollArea::viewportEvent(event);
  const auto* help = static_cast<QHelpEvent*>(event);
  const QString text = ToolTipAt(help->pos());
  if (text.isEmpty()) {
    QToolTip::hideText();
    event->ignore();
  } else {
    QToolTip::showText(help->globalPos(), text, viewport());
  }
  return true;
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
