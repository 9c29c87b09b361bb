// The QPainter canvas draws what the grid's cell code expects of a desktop
// canvas: outlines inside the rectangle, right and bottom edges exclusive, and
// text on an opaque box of the brush colour.
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include "gui/QtCanvas.h"

namespace quillon {
namespace {

constexpr QRgb Blank = qRgb(1, 2, 3);
constexpr TColor Green{0, 200, 0};

class QtCanvasTest : public ::testing::Test {
 protected:
  QtCanvasTest() : image_(40, 30, QImage::Format_RGB32) { image_.fill(Blank); }

  template <typename Draw>
  void Paint(Draw draw) {
    QPainter painter(&image_);
    TQtCanvas canvas(painter, Qt::black);
    draw(canvas);
  }

  QRgb At(int x, int y) const { return image_.pixel(x, y); }

  QImage image_;
};

TEST_F(QtCanvasTest, RectangleOutlinesInsideAndFillsTheRest) {
  Paint([](TCanvas& canvas) {
    canvas.SetPenColor(clRed);
    canvas.SetBrushColor(Green);
    canvas.Rectangle({2, 3, 7, 9});
  });
  const QRgb red = qRgb(255, 0, 0);
  const QRgb green = qRgb(0, 200, 0);
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 40; ++x) {
      const bool inside = x >= 2 && x < 7 && y >= 3 && y < 9;
      const bool edge = x == 2 || x == 6 || y == 3 || y == 8;
      const QRgb expected = !inside ? Blank : edge ? red : green;
      ASSERT_EQ(At(x, y), expected) << x << "," << y;
    }
  }
}

TEST_F(QtCanvasTest, EmptyRectanglesDrawNothingAndFillRectHasNoOutline) {
  Paint([](TCanvas& canvas) {
    canvas.SetPenColor(clRed);
    canvas.SetBrushColor(Green);
    canvas.Rectangle({5, 5, 5, 10});  // no width
    canvas.Rectangle({5, 5, 10, 4});  // upside down
    canvas.FillRect({20, 20, 23, 22});
  });
  EXPECT_EQ(At(5, 5), Blank);
  EXPECT_EQ(At(5, 7), Blank);
  for (int y = 20; y < 22; ++y)
    for (int x = 20; x < 23; ++x) EXPECT_EQ(At(x, y), qRgb(0, 200, 0)) << x << "," << y;
  EXPECT_EQ(At(23, 20), Blank);
  EXPECT_EQ(At(20, 22), Blank);
}

TEST_F(QtCanvasTest, TextSitsOnAnOpaqueBoxOfTheBrushColour) {
  int advance = 0;
  int height = 0;
  Paint([&](TCanvas& canvas) {
    canvas.SetBrushColor(clLightRed);
    canvas.TextOut(3, 4, "Hi");
  });
  {
    QPainter painter(&image_);
    const QFontMetrics metrics(painter.font());
    advance = metrics.horizontalAdvance(QStringLiteral("Hi"));
    height = metrics.height();
  }
  ASSERT_GT(advance, 0);
  int lightRed = 0;
  int dark = 0;
  for (int y = 0; y < image_.height(); ++y) {
    for (int x = 0; x < image_.width(); ++x) {
      const bool inBox = x >= 3 && x < 3 + advance && y >= 4 && y < 4 + height;
      if (!inBox) {
        ASSERT_EQ(At(x, y), Blank) << x << "," << y;
      } else if (At(x, y) == qRgb(255, 220, 220)) {
        ++lightRed;
      } else if (qGray(At(x, y)) < 128) {
        ++dark;
      }
    }
  }
  EXPECT_GT(lightRed, advance * height / 2);  // mostly background
  EXPECT_GT(dark, 0);                         // and the letters on it
}

}  // namespace
}  // namespace quillon
