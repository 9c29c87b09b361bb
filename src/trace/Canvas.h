// The small drawing surface the hop grid paints on: the Qt window implements it
// with QPainter, the native Windows window with GDI, tests record the calls.
#pragma once

#include <cstdint>
#include <string>

namespace quillon {

struct TColor {
  std::uint8_t R = 0, G = 0, B = 0;
  friend bool operator==(const TColor&, const TColor&) = default;
};

constexpr TColor clWhite{255, 255, 255};
constexpr TColor clLightRed{255, 220, 220};
constexpr TColor clRed{255, 0, 0};

// Right and Bottom are exclusive.
struct TRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  friend bool operator==(const TRect&, const TRect&) = default;
};

class TCanvas {
 public:
  virtual ~TCanvas() = default;
  virtual void SetPenColor(TColor color) = 0;
  virtual void SetBrushColor(TColor color) = 0;
  // Fills with the brush and outlines with a one-pixel pen, inside the rectangle.
  virtual void Rectangle(const TRect& rect) = 0;
  // Fills with the brush only.
  virtual void FillRect(const TRect& rect) = 0;
  // Text with its top-left corner at (x, y) on an opaque background of the brush colour.
  virtual void TextOut(int x, int y, const std::string& text) = 0;
  // Keeps later drawing inside the rectangle until ResetClip. Surfaces that
  // only record the calls may ignore both.
  virtual void SetClip(const TRect& rect) { (void)rect; }
  virtual void ResetClip() {}
};

}  // namespace quillon
