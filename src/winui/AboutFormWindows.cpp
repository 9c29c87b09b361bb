#include "winui/AboutFormWindows.h"

#include <string>

#include "platform/FileVersion.h"
#include "winui/ShellWindows.h"

namespace quillon {

namespace {

constexpr int Label2Id = 102;

std::string NoticeText() {
  std::string text;
  for (const char* line : LicenceNotice) {
    if (!text.empty()) text += "\r\n";
    text += line;
  }
  return text;
}

}  // namespace

TWinAboutFrm::TWinAboutFrm(::HWND owner) : owner_(owner) {
  Create("QuillonAbout", WS_EX_CONTROLPARENT, "About",
         WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_CLIPCHILDREN, CW_USEDEFAULT,
         CW_USEDEFAULT, DesignWidth, DesignHeight, owner);
  ::HWND self = Handle();
  Label1 = NewControl("STATIC", "", SS_CENTER, 0, self, 101, 11, 16, 270, 17);
  Memo1 = NewControl("EDIT", NoticeText().c_str(), ES_MULTILINE | ES_READONLY | ES_CENTER,
                     WS_EX_STATICEDGE, self, 103, 11, 48, 273, 145);
  ::HWND panel = NewPanel(self, BDR_SUNKENINNER, 11, 208, 273, 41);
  StaticText1 = NewControl("STATIC", "Check for newer versions at ", SS_CENTER | SS_NOTIFY, 0,
                           panel, 104, 4, 1, 265, 17);
  Label2 = NewControl("STATIC", MakerWebAddress, SS_CENTER | SS_NOTIFY, 0, panel, Label2Id, 3, 16,
                      265, 17);
  SendMessageA(Label2, WM_SETFONT, reinterpret_cast<WPARAM>(LinkFont()), FALSE);
  Button1 =
      NewControl("BUTTON", "Ok", WS_TABSTOP | BS_DEFPUSHBUTTON, 0, self, IDOK, 104, 264, 75, 25);
  FormCreate();
}

void TWinAboutFrm::FormCreate() {
  SetWindowTextA(Label1, ProductLine(ReadFileVersion()).c_str());
}

void TWinAboutFrm::Button1Click() {
  // The owner first: with it still disabled, hiding this window would hand the
  // activation to some other program's window.
  if (owner_) EnableWindow(owner_, TRUE);
  ShowWindow(Handle(), SW_HIDE);
}

void TWinAboutFrm::Label2Click() {
  OpenWebAddress(MakerWebAddress);
}

void TWinAboutFrm::ShowModal() {
  RECT frame;
  RECT over;
  GetWindowRect(Handle(), &frame);
  GetWindowRect(owner_, &over);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  SetWindowPos(Handle(), nullptr, (over.left + over.right - width) / 2,
               (over.top + over.bottom - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  EnableWindow(owner_, FALSE);
  ShowWindow(Handle(), SW_SHOW);
  SetFocus(Button1);
  // The owner's messages (a trace's worker reports among them) go on being
  // handled while the window is shown.
  MSG message;
  while (IsWindowVisible(Handle())) {
    const BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == 0) {
      PostQuitMessage(static_cast<int>(message.wParam));  // for the outer loop
      ShowWindow(Handle(), SW_HIDE);
      break;
    }
    if (got < 0) break;
    if (IsDialogMessageA(Handle(), &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  EnableWindow(owner_, TRUE);
  SetActiveWindow(owner_);
}

LRESULT TWinAboutFrm::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        Button1Click();
        return 0;
      }
      if (LOWORD(wParam) == Label2Id && HIWORD(wParam) == STN_CLICKED) {
        Label2Click();
        return 0;
      }
      break;
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<::HWND>(lParam) == Label2) {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, RGB(0, 0, 255));
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
      }
      break;
    case WM_SETCURSOR: {
      const auto over = reinterpret_cast<::HWND>(wParam);
      if (over == Label2 || over == StaticText1) {
        SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32649)));  // IDC_HAND
        return TRUE;
      }
      break;
    }
    case WM_CLOSE:
      Button1Click();
      return 0;
    default:
      break;
  }
  return TWindowBase::HandleMessage(msg, wParam, lParam);
}

}  // namespace quillon
