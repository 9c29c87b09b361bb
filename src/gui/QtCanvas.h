// The hop grid's drawing surface on a QPainter. Rectangles follow the desktop
// drawing rules the grid's cell code was written for: a one-pixel outline in the
// pen colour inside the rectangle, the inside filled with the brush, right and
// bottom edges exclusive.
#pragma once

#include <QColor>
#include <QPainter>

#include "trace/Canvas.h"

namespace quillon {

class TQtCanvas : public TCanvas {
 public:
  // Texts are drawn in textColor with the painter's font.
  TQtCanvas(QPainter& painter, QColor textColor);

  void SetPenColor(TColor color) override;
  void SetBrushColor(TColor color) override;
  void Rectangle(const TRect& rect) override;
  void FillRect(const TRect& rect) override;
  void TextOut(int x, int y, const std::string& text) override;
  void SetClip(const TRect& rect) override;
  void ResetClip() override;

 private:
  QPainter& painter_;
  QColor textColor_;
  QColor pen_{Qt::black};
  QColor brush_{Qt::white};
};

QColor ToQColor(TColor color);

}  // namespace quillon
