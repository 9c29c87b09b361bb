#include "winui/GridWindows.h"

#include <windowsx.h>

#include <algorithm>
#include <utility>

#include "trace/GridMenu.h"
#include "trace/TraceRouteForm.h"
#include "winui/GdiCanvasWindows.h"

namespace quillon {

namespace {

constexpr TColor LineColor{192, 192, 192};
constexpr int ScrollStepX = 8;

// The desktop's user-interface font at its 96-dpi size: the grid's cells are
// laid out in 96-dpi pixels, and the system scales the window as a whole (the
// manifest says so). Where it does not, as under wine, the font still fits.
HFONT CellFont() {
  static const HFONT font = [] {
    LOGFONTA face{};
    if (GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof face, &face) == 0) return HFONT{};
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ReleaseDC(nullptr, screen);
    if (dpi > 0) face.lfHeight = MulDiv(face.lfHeight, 96, dpi);
    return CreateFontIndirectA(&face);
  }();
  return font;
}

}  // namespace

TOutGridWindow::TOutGridWindow(::HWND parent, int id) {
  Create("QuillonGrid", WS_EX_CLIENTEDGE, "",
         WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | WS_HSCROLL, 0, 0, 0, 0, parent);
  SetWindowLongPtrA(Handle(), GWLP_ID, id);
  CreateToolTip();
}

void TOutGridWindow::CreateToolTip() {
  toolTip_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                             WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, Handle(), nullptr, nullptr, nullptr);
  if (!toolTip_) return;  // cut cells then simply have no tooltip
  // One tool over the whole grid; its text is asked for when it shows.
  TTTOOLINFOA tool{};
  tool.cbSize = TTTOOLINFOA_V2_SIZE;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = Handle();
  tool.uId = reinterpret_cast<UINT_PTR>(Handle());
  tool.lpszText = LPSTR_TEXTCALLBACKA;
  SendMessageA(toolTip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

void TOutGridWindow::TrackToolTip(int x, int y) {
  std::string text = ToolTipAt(x, y);
  if (!toolTip_ || text == toolTipText_) return;
  // Another cell: the tip in sight belongs to the last one.
  toolTipText_ = std::move(text);
  SendMessageA(toolTip_, TTM_POP, 0, 0);
}

void TOutGridWindow::SetForm(const TTraceRouteForm* form) {
  form_ = form;
  Refresh();
}

void TOutGridWindow::Refresh() {
  if (!Handle()) return;  // gone with its parent
  UpdateScrollBars();
  InvalidateRect(Handle(), nullptr, FALSE);
  UpdateWindow(Handle());
}

TGridLayout TOutGridWindow::Layout() const {
  RECT client{};
  GetClientRect(Handle(), &client);
  if (!form_) return TGridLayout(0, 0, client.right, client.bottom);
  HDC dc = GetDC(Handle());
  const TGridLayout::TColWidths widths = GridColWidths(form_->OutGrid, GridTextWidth(dc));
  ReleaseDC(Handle(), dc);
  return TGridLayout(form_->OutGrid.ColCount(), form_->OutGrid.RowCount(), client.right,
                     client.bottom, rowOffset_, scrollX_, widths);
}

std::string TOutGridWindow::ToolTipAt(int x, int y) const {
  if (!form_) return {};
  HDC dc = GetDC(Handle());
  std::string text = GridCellTip(*form_, Layout(), x, y, GridTextWidth(dc));
  ReleaseDC(Handle(), dc);
  return text;
}

void TOutGridWindow::RequestMenu(LPARAM screenPoint) {
  if (!MenuRequested) return;
  POINT point{GET_X_LPARAM(screenPoint), GET_Y_LPARAM(screenPoint)};
  if (point.x == -1 && point.y == -1) {
    const TGridLayout layout = Layout();
    point = {layout.FixedWidth(), layout.FixedHeight()};
    ClientToScreen(Handle(), &point);
  }
  MenuRequested(point);
}

TTextWidth GridTextWidth(HDC dc) {
  return [dc](const std::string& text) {
    HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    SIZE size{};
    GetTextExtentPoint32A(dc, text.data(), static_cast<int>(text.size()), &size);
    SelectObject(dc, oldFont);
    return static_cast<int>(size.cx);
  };
}

void TOutGridWindow::UpdateScrollBars() {
  // Shrinking the grid may leave the view past its end: move back first.
  TGridLayout layout = Layout();
  rowOffset_ = std::clamp(rowOffset_, 0, layout.MaxRowOffset());
  scrollX_ = std::clamp(scrollX_, 0, layout.MaxScrollX());
  layout = Layout();
  SCROLLINFO info{};
  info.cbSize = sizeof(info);
  info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
  // A page one past the range's end hides the bar when everything fits.
  info.nMax = layout.MaxRowOffset() + layout.PageRows() - 1;
  info.nPage = static_cast<UINT>(layout.PageRows());
  info.nPos = rowOffset_;
  SetScrollInfo(Handle(), SB_VERT, &info, TRUE);
  info.nMax = layout.MaxScrollX() + layout.PageWidth() - 1;
  info.nPage = static_cast<UINT>(layout.PageWidth());
  info.nPos = scrollX_;
  SetScrollInfo(Handle(), SB_HORZ, &info, TRUE);
}

void TOutGridWindow::Scroll(int bar, int position) {
  const TGridLayout layout = Layout();
  if (bar == SB_VERT)
    rowOffset_ = std::clamp(position, 0, layout.MaxRowOffset());
  else
    scrollX_ = std::clamp(position, 0, layout.MaxScrollX());
  SetScrollPos(Handle(), bar, bar == SB_VERT ? rowOffset_ : scrollX_, TRUE);
  InvalidateRect(Handle(), nullptr, FALSE);
}

void TOutGridWindow::OnScroll(int bar, WORD request) {
  const TGridLayout layout = Layout();
  const int position = bar == SB_VERT ? rowOffset_ : scrollX_;
  const int step = bar == SB_VERT ? 1 : ScrollStepX;
  const int page = bar == SB_VERT ? layout.PageRows() : layout.PageWidth();
  SCROLLINFO info{};
  info.cbSize = sizeof(info);
  info.fMask = SIF_TRACKPOS;
  GetScrollInfo(Handle(), bar, &info);
  switch (request) {
    case SB_LINEUP:
      Scroll(bar, position - step);
      break;
    case SB_LINEDOWN:
      Scroll(bar, position + step);
      break;
    case SB_PAGEUP:
      Scroll(bar, position - page);
      break;
    case SB_PAGEDOWN:
      Scroll(bar, position + page);
      break;
    case SB_TOP:
      Scroll(bar, 0);
      break;
    case SB_BOTTOM:
      Scroll(bar, 1 << 20);
      break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION:
      Scroll(bar, info.nTrackPos);
      break;
    default:
      break;
  }
}

void TOutGridWindow::PaintTo(HDC dc) const {
  PaintGridView(dc, form_, Layout());
}

void PaintGridView(HDC dc, const TTraceRouteForm* form, const TGridLayout& layout) {
  const RECT view{0, 0, layout.Width(), layout.Height()};
  FillRect(dc, &view, GetSysColorBrush(COLOR_WINDOW));
  if (!form) return;
  // Cell texts use the desktop's user-interface font, not the window's.
  const HFONT cellFont = CellFont();
  HGDIOBJ oldFont = SelectObject(
      dc, cellFont ? static_cast<HGDIOBJ>(cellFont) : GetStockObject(DEFAULT_GUI_FONT));
  {
    TGdiCanvas canvas(dc, GetSysColor(COLOR_WINDOWTEXT));
    PaintGrid(*form, canvas, layout, LineColor);
  }
  SelectObject(dc, oldFont);
}

LRESULT TOutGridWindow::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(Handle(), &paint);
      RECT client;
      GetClientRect(Handle(), &client);
      // Drawn off screen first, so that a refresh after every hop does not flicker.
      HDC memory = CreateCompatibleDC(dc);
      HBITMAP bitmap =
          CreateCompatibleBitmap(dc, std::max(1L, client.right), std::max(1L, client.bottom));
      HGDIOBJ old = SelectObject(memory, bitmap);
      PaintTo(memory);
      BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
      SelectObject(memory, old);
      DeleteObject(bitmap);
      DeleteDC(memory);
      EndPaint(Handle(), &paint);
      return 0;
    }
    case WM_PRINTCLIENT:
      PaintTo(reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_SIZE:
      UpdateScrollBars();
      InvalidateRect(Handle(), nullptr, FALSE);
      return 0;
    case WM_VSCROLL:
      OnScroll(SB_VERT, LOWORD(wParam));
      return 0;
    case WM_HSCROLL:
      OnScroll(SB_HORZ, LOWORD(wParam));
      return 0;
    case WM_MOUSEWHEEL: {
      // A touchpad sends small deltas: they add up until a line's worth is
      // there, and the rest waits for the next one. Lines per notch as the
      // user set them (a page for WHEEL_PAGESCROLL).
      UINT lines = 3;
      SystemParametersInfoA(SPI_GETWHEELSCROLLLINES, 0, &lines, 0);
      if (lines == 0) return 0;
      const int perNotch =
          lines == WHEEL_PAGESCROLL ? std::max(1, Layout().PageRows()) : static_cast<int>(lines);
      wheelRest_ += GET_WHEEL_DELTA_WPARAM(wParam) * perNotch;
      const int rows = wheelRest_ / WHEEL_DELTA;
      wheelRest_ -= rows * WHEEL_DELTA;
      if (rows != 0) Scroll(SB_VERT, rowOffset_ - rows);
      return 0;
    }
    case WM_LBUTTONDOWN:
      SetFocus(Handle());
      return 0;
    case WM_RBUTTONDOWN:
      // The menu follows when the button comes up (WM_CONTEXTMENU).
      SetFocus(Handle());
      break;
    case WM_MOUSEMOVE:
      TrackToolTip(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
      return 0;
    case WM_NOTIFY: {
      auto* info = reinterpret_cast<NMTTDISPINFOA*>(lParam);
      if (info->hdr.hwndFrom != toolTip_ || info->hdr.code != TTN_GETDISPINFOA) break;
      // An empty text shows no tip; the buffer lives until the next mouse move.
      info->lpszText = toolTipText_.data();
      return 0;
    }
    case WM_CONTEXTMENU: {
      // Over a scroll bar the system's own scrolling menu shows.
      POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      RECT client{};
      GetClientRect(Handle(), &client);
      const bool keyboard = point.x == -1 && point.y == -1;
      if (!keyboard && (!ScreenToClient(Handle(), &point) || !PtInRect(&client, point))) break;
      RequestMenu(lParam);
      return 0;
    }
    case WM_GETDLGCODE:
      // Characters too, so that Ctrl+C is no mnemonic for the dialog keys.
      return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_SYSKEYDOWN:
      if (wParam != VK_F10 || GetKeyState(VK_SHIFT) >= 0) break;
      RequestMenu(-1);
      return 0;
    case WM_KEYUP:
      // The menu key was answered when it went down.
      if (wParam == VK_APPS) return 0;
      break;
    case WM_KEYDOWN:
      switch (wParam) {
        case VK_APPS:
          RequestMenu(-1);
          return 0;
        case VK_F10:
          if (GetKeyState(VK_SHIFT) >= 0) break;
          RequestMenu(-1);
          return 0;
        case 'C':
          if (GetKeyState(VK_CONTROL) >= 0 || !CopyRequested) break;
          CopyRequested();
          return 0;
        case VK_UP:
          OnScroll(SB_VERT, SB_LINEUP);
          return 0;
        case VK_DOWN:
          OnScroll(SB_VERT, SB_LINEDOWN);
          return 0;
        case VK_PRIOR:
          OnScroll(SB_VERT, SB_PAGEUP);
          return 0;
        case VK_NEXT:
          OnScroll(SB_VERT, SB_PAGEDOWN);
          return 0;
        case VK_HOME:
          OnScroll(SB_VERT, SB_TOP);
          return 0;
        case VK_END:
          OnScroll(SB_VERT, SB_BOTTOM);
          return 0;
        case VK_LEFT:
          OnScroll(SB_HORZ, SB_LINEUP);
          return 0;
        case VK_RIGHT:
          OnScroll(SB_HORZ, SB_LINEDOWN);
          return 0;
        default:
          break;
      }
      break;
    default:
      break;
  }
  return TWindowBase::HandleMessage(msg, wParam, lParam);
}

}  // namespace quillon
