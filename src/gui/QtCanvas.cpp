#include "gui/QtCanvas.h"

#include <QFontMetrics>
#include <QRect>
#include <QString>

namespace quillon {

namespace {

// The area of a rectangle with exclusive right and bottom edges; empty when
// either side has no length.
QRect Area(const TRect& rect) {
  return QRect(rect.Left, rect.Top, rect.Right - rect.Left, rect.Bottom - rect.Top);
}

}  // namespace

QColor ToQColor(TColor color) {
  return QColor(color.R, color.G, color.B);
}

TQtCanvas::TQtCanvas(QPainter& painter, QColor textColor)
    : painter_(painter), textColor_(textColor) {}

void TQtCanvas::SetPenColor(TColor color) {
  pen_ = ToQColor(color);
}

void TQtCanvas::SetBrushColor(TColor color) {
  brush_ = ToQColor(color);
}

void TQtCanvas::Rectangle(const TRect& rect) {
  const QRect area = Area(rect);
  if (area.isEmpty()) return;
  painter_.fillRect(area, brush_);
  // Four one-pixel strips along the inside of the edges; filling them avoids
  // the half-pixel placement of stroked QPainter lines.
  painter_.fillRect(QRect(area.left(), area.top(), area.width(), 1), pen_);
  painter_.fillRect(QRect(area.left(), area.bottom(), area.width(), 1), pen_);
  painter_.fillRect(QRect(area.left(), area.top(), 1, area.height()), pen_);
  painter_.fillRect(QRect(area.right(), area.top(), 1, area.height()), pen_);
}

void TQtCanvas::FillRect(const TRect& rect) {
  const QRect area = Area(rect);
  if (!area.isEmpty()) painter_.fillRect(area, brush_);
}

void TQtCanvas::TextOut(int x, int y, const std::string& text) {
  const QString s = QString::fromStdString(text);
  const QFontMetrics metrics(painter_.font());
  // The background box covers the text's full advance and line height, as an
  // opaque text output does.
  painter_.fillRect(QRect(x, y, metrics.horizontalAdvance(s), metrics.height()), brush_);
  painter_.setPen(textColor_);
  painter_.drawText(x, y + metrics.ascent(), s);
}

void TQtCanvas::SetClip(const TRect& rect) {
  painter_.setClipRect(Area(rect));
}

void TQtCanvas::ResetClip() {
  painter_.setClipping(false);
}

}  // namespace quillon
