#include "winui/ControlsWindows.h"

#include <vector>

#include "platform/MessageQueue.h"

namespace quillon {

namespace {

constexpr char PanelClass[] = "QuillonPanel";
constexpr char SpeedButtonClass[] = "QuillonSpeedButton";

HFONT MakeFont(bool underline) {
  return CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, underline ? TRUE : FALSE, FALSE, ANSI_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_SWISS, "Verdana");
}

void RegisterOnce(const char* name, WNDPROC procedure, LPCSTR cursor) {
  WNDCLASSEXA existing{};
  existing.cbSize = sizeof(existing);
  if (GetClassInfoExA(ModuleInstance(), name, &existing)) return;
  WNDCLASSEXA cls{};
  cls.cbSize = sizeof(cls);
  cls.style = CS_HREDRAW | CS_VREDRAW;
  cls.lpfnWndProc = procedure;
  cls.hInstance = ModuleInstance();
  cls.hCursor = LoadCursorA(nullptr, cursor);
  // The executable's own icon (resource 1), in the caption and the task bar.
  cls.hIcon = LoadIconA(ModuleInstance(), MAKEINTRESOURCEA(1));
  cls.hIconSm = static_cast<HICON>(LoadImageA(ModuleInstance(), MAKEINTRESOURCEA(1), IMAGE_ICON,
                                              GetSystemMetrics(SM_CXSMICON),
                                              GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  cls.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  cls.lpszClassName = name;
  RegisterClassExA(&cls);
}

// Fills the window with the face colour, draws the edge (0: none) and, if asked,
// the window's text centred in its font, moved down and right while sunken.
void PaintFace(::HWND window, UINT edge, bool withCaption) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  RECT rect;
  GetClientRect(window, &rect);
  FillRect(dc, &rect, GetSysColorBrush(COLOR_BTNFACE));
  if (edge != 0) DrawEdge(dc, &rect, edge, BF_RECT);
  if (withCaption) {
    const std::string caption = WindowText(window);
    HGDIOBJ old =
        SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(window, WM_GETFONT, 0, 0)));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    if (edge & BDR_SUNKEN) OffsetRect(&rect, 1, 1);
    DrawTextA(dc, caption.c_str(), static_cast<int>(caption.size()), &rect,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectObject(dc, old);
  }
  EndPaint(window, &paint);
}

// Panel: the bevel kind is kept in the window's user data.
LRESULT CALLBACK PanelProcedure(::HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_PAINT:
      PaintFace(window, static_cast<UINT>(GetWindowLongPtrA(window, GWLP_USERDATA)), false);
      return 0;
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_DRAWITEM:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORLISTBOX:
      return SendMessageA(GetParent(window), msg, wParam, lParam);
    default:
      return DefWindowProcA(window, msg, wParam, lParam);
  }
}

// Flat button: the user data holds whether it is pressed, a property its font.
constexpr char FontProperty[] = "QuillonFont";

bool PointerInside(::HWND window, LPARAM lParam) {
  RECT rect;
  GetClientRect(window, &rect);
  const POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  return PtInRect(&rect, point) != FALSE;
}

void SetPressed(::HWND window, bool pressed) {
  if ((GetWindowLongPtrA(window, GWLP_USERDATA) != 0) == pressed) return;
  SetWindowLongPtrA(window, GWLP_USERDATA, pressed ? 1 : 0);
  InvalidateRect(window, nullptr, TRUE);
}

LRESULT CALLBACK SpeedButtonProcedure(::HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_SETFONT:
      SetPropA(window, FontProperty, reinterpret_cast<HANDLE>(wParam));
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(GetPropA(window, FontProperty));
    case WM_NCDESTROY:
      RemovePropA(window, FontProperty);
      break;
    case WM_LBUTTONDOWN:
      SetCapture(window);
      SetPressed(window, true);
      return 0;
    case WM_MOUSEMOVE:
      if (GetCapture() == window) SetPressed(window, PointerInside(window, lParam));
      return 0;
    case WM_LBUTTONUP:
      if (GetCapture() != window) return 0;
      ReleaseCapture();
      SetPressed(window, false);
      if (PointerInside(window, lParam))
        SendMessageA(GetParent(window), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(window), BN_CLICKED),
                     reinterpret_cast<LPARAM>(window));
      return 0;
    case WM_CAPTURECHANGED:
      SetPressed(window, false);
      return 0;
    case WM_PAINT:
      PaintFace(window, GetWindowLongPtrA(window, GWLP_USERDATA) != 0 ? BDR_SUNKENOUTER : 0, true);
      return 0;
    default:
      break;
  }
  return DefWindowProcA(window, msg, wParam, lParam);
}

}  // namespace

HINSTANCE ModuleInstance() {
  return GetModuleHandleA(nullptr);
}

HFONT WindowFont() {
  static HFONT font = MakeFont(false);
  return font;
}

HFONT LinkFont() {
  static HFONT font = MakeFont(true);
  return font;
}

TWindowBase::~TWindowBase() {
  if (handle_) {
    SetWindowLongPtrA(handle_, GWLP_USERDATA, 0);
    DestroyWindow(handle_);
  }
}

void TWindowBase::Create(const char* className, DWORD exStyle, const char* caption, DWORD style,
                         int left, int top, int width, int height, ::HWND parent) {
  RegisterOnce(className, &TWindowBase::Procedure, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  CreateWindowExA(exStyle, className, caption, style, left, top, width, height, parent, nullptr,
                  ModuleInstance(), this);
}

LRESULT TWindowBase::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(handle_, msg, wParam, lParam);
}

LRESULT CALLBACK TWindowBase::Procedure(::HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* self =
        static_cast<TWindowBase*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    self->handle_ = window;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<TWindowBase*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcA(window, msg, wParam, lParam);
  if (msg == WM_NCDESTROY) {
    self->handle_ = nullptr;
    SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    return DefWindowProcA(window, msg, wParam, lParam);
  }
  try {
    return self->HandleMessage(msg, wParam, lParam);
  } catch (...) {
    // Raised again by the loop that dispatched the message.
    KeepHandlerError(std::current_exception());
    return 0;
  }
}

::HWND NewControl(const char* className, const char* caption, DWORD style, DWORD exStyle,
                  ::HWND parent, int id, int left, int top, int width, int height) {
  ::HWND control = CreateWindowExA(
      exStyle, className, caption, WS_CHILD | WS_VISIBLE | style, left, top, width, height, parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ModuleInstance(), nullptr);
  SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(WindowFont()), FALSE);
  return control;
}

::HWND NewPanel(::HWND parent, UINT bevel, int left, int top, int width, int height) {
  RegisterOnce(PanelClass, &PanelProcedure, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  ::HWND panel = NewControl(PanelClass, "", WS_CLIPCHILDREN, WS_EX_CONTROLPARENT, parent, 0, left,
                            top, width, height);
  SetWindowLongPtrA(panel, GWLP_USERDATA, static_cast<LONG_PTR>(bevel));
  return panel;
}

::HWND NewSpeedButton(const char* caption, ::HWND parent, int id, int left, int top, int width,
                      int height) {
  RegisterOnce(SpeedButtonClass, &SpeedButtonProcedure, MAKEINTRESOURCEA(32649));  // IDC_HAND
  return NewControl(SpeedButtonClass, caption, 0, 0, parent, id, left, top, width, height);
}

std::string WindowText(::HWND window) {
  const int length = GetWindowTextLengthA(window);
  std::vector<char> text(static_cast<std::size_t>(length) + 1);
  const int copied = GetWindowTextA(window, text.data(), length + 1);
  return std::string(text.data(), static_cast<std::size_t>(copied > 0 ? copied : 0));
}

}  // namespace quillon
