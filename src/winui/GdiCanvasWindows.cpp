#include "winui/GdiCanvasWindows.h"

namespace quillon {

COLORREF ToColorRef(TColor color) {
  return RGB(color.R, color.G, color.B);
}

TGdiCanvas::TGdiCanvas(HDC dc, COLORREF textColor) : dc_(dc), saved_(SaveDC(dc)) {
  SetTextColor(dc_, textColor);
  SetBkMode(dc_, OPAQUE);
  SetPenColor(TColor{0, 0, 0});
  SetBrushColor(clWhite);
}

TGdiCanvas::~TGdiCanvas() {
  RestoreDC(dc_, saved_);
  if (pen_) DeleteObject(pen_);
  if (brush_) DeleteObject(brush_);
}

void TGdiCanvas::SetPenColor(TColor color) {
  HPEN pen = CreatePen(PS_SOLID, 1, ToColorRef(color));
  SelectObject(dc_, pen);
  if (pen_) DeleteObject(pen_);
  pen_ = pen;
}

void TGdiCanvas::SetBrushColor(TColor color) {
  brushColor_ = ToColorRef(color);
  HBRUSH brush = CreateSolidBrush(brushColor_);
  SelectObject(dc_, brush);
  if (brush_) DeleteObject(brush_);
  brush_ = brush;
}

void TGdiCanvas::Rectangle(const TRect& rect) {
  // GDI's rectangle already leaves out the right and bottom edges and draws
  // a one-pixel pen inside the others.
  if (rect.Right > rect.Left && rect.Bottom > rect.Top)
    ::Rectangle(dc_, rect.Left, rect.Top, rect.Right, rect.Bottom);
}

void TGdiCanvas::FillRect(const TRect& rect) {
  const RECT area{rect.Left, rect.Top, rect.Right, rect.Bottom};
  if (rect.Right > rect.Left && rect.Bottom > rect.Top) ::FillRect(dc_, &area, brush_);
}

void TGdiCanvas::TextOut(int x, int y, const std::string& text) {
  SetBkColor(dc_, brushColor_);
  ::TextOutA(dc_, x, y, text.data(), static_cast<int>(text.size()));
}

void TGdiCanvas::SetClip(const TRect& rect) {
  HRGN region = CreateRectRgn(rect.Left, rect.Top, rect.Right, rect.Bottom);
  SelectClipRgn(dc_, region);
  DeleteObject(region);
}

void TGdiCanvas::ResetClip() {
  SelectClipRgn(dc_, nullptr);
}

}  // namespace quillon
