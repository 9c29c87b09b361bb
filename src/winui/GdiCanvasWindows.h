// The hop grid's drawing surface on a GDI device context: solid one-pixel pens,
// solid brushes, rectangles whose right and bottom edges are exclusive, and
// opaque text on the brush colour, as the grid's cell code expects.
#pragma once

#include "winui/Win32.h"

#include "trace/Canvas.h"

namespace quillon {

class TGdiCanvas : public TCanvas {
 public:
  // Texts are drawn in textColor with the font selected into dc. The
  // context's pen, brush, colours and clipping are restored when the canvas goes.
  TGdiCanvas(HDC dc, COLORREF textColor);
  ~TGdiCanvas() override;
  TGdiCanvas(const TGdiCanvas&) = delete;
  TGdiCanvas& operator=(const TGdiCanvas&) = delete;

  void SetPenColor(TColor color) override;
  void SetBrushColor(TColor color) override;
  void Rectangle(const TRect& rect) override;
  void FillRect(const TRect& rect) override;
  void TextOut(int x, int y, const std::string& text) override;
  void SetClip(const TRect& rect) override;
  void ResetClip() override;

 private:
  HDC dc_;
  int saved_;
  COLORREF brushColor_ = RGB(255, 255, 255);
  HPEN pen_ = nullptr;
  HBRUSH brush_ = nullptr;
};

COLORREF ToColorRef(TColor color);

}  // namespace quillon
