#include "winui/MainWindowWindows.h"

#include <commdlg.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <utility>

#include "platform/ConsoleWindows.h"
#include "platform/ExecutablePath.h"
#include "platform/WideText.h"
#include "trace/SocketRights.h"
#include "winui/AboutFormWindows.h"
#include "winui/GridWindows.h"
#include "winui/PortDialogWindows.h"
#include "winui/ShellWindows.h"

namespace quillon {

namespace {

// Control ids; none is IDOK or IDCANCEL, which the dialog keys send.
enum : int {
  HostId = 201,
  HoopsId,
  TimeOutId,
  OutGridId,
  Button1Id,
  Button2Id,
  SpeedButton1Id,
  SpeedButton2Id,
};

// The grid menu's items are GridMenuItems() in order, from this id on.
constexpr UINT GridMenuFirstId = 301;

constexpr int Panel1Height = 57;
constexpr int Panel3Height = 41;
constexpr int BevelWidth = 1;
constexpr UINT_PTR HostEditSubclass = 1;

::HWND NewStaticText(const char* caption, ::HWND parent, int left, int top, int width, int height) {
  return NewControl("STATIC", caption, SS_LEFT | SS_SUNKEN | SS_CENTERIMAGE, 0, parent, 0, left,
                    top, width, height);
}

::HWND NewEdit(const char* text, ::HWND parent, int id, int left, int top, int width, int height) {
  return NewControl("EDIT", text, WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, parent, id, left,
                    top, width, height);
}

void SetButton(::HWND button, const TButtonState& state) {
  if (WindowText(button) != state.Caption) SetWindowTextA(button, state.Caption.c_str());
  EnableWindow(button, state.Enabled ? TRUE : FALSE);
  ShowWindow(button, state.Visible ? SW_SHOWNA : SW_HIDE);
}

std::string ComboItem(::HWND combo, LRESULT index) {
  const LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length < 0) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(index),
               reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  return text;
}

}  // namespace

std::string AskSaveFileName(::HWND owner, int& typeIndex) {
  // Pairs of a name and a pattern, each ended by a zero, the list by another.
  std::wstring filter;
  for (const TExportFileType& type : ExportFileTypes()) {
    const std::wstring extension = WideFromUtf8(type.Extension);
    filter +=
        WideFromUtf8(type.Name) + L" (*." + extension + L")" + L'\0' + L"*." + extension + L'\0';
  }
  filter += L'\0';
  std::wstring file(32768, L'\0');
  const std::wstring defaultExtension = WideFromUtf8(ExportFileTypes()[0].Extension);
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = static_cast<DWORD>(file.size());
  dialog.lpstrTitle = L"Save as";
  // A name typed without an extension gets that of the type picked.
  dialog.lpstrDefExt = defaultExtension.c_str();
  dialog.Flags =
      OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (!GetSaveFileNameW(&dialog)) return {};
  typeIndex = static_cast<int>(dialog.nFilterIndex) - 1;
  return Utf8FromWide(file.c_str());
}

bool SetClipboardText(::HWND owner, const std::string& utf8) {
  std::wstring text;
  for (const wchar_t c : WideFromUtf8(utf8)) {
    if (c == L'\n' && (text.empty() || text.back() != L'\r')) text += L'\r';
    text += c;
  }
  if (!OpenClipboard(owner)) return false;
  bool done = false;
  if (EmptyClipboard()) {
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
      if (void* target = GlobalLock(memory)) {
        std::memcpy(target, text.c_str(), bytes);
        GlobalUnlock(memory);
        done = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
      }
      // The clipboard owns the memory once it took it.
      if (!done) GlobalFree(memory);
    }
  }
  CloseClipboard();
  return done;
}

TWinMainWindow::TWinMainWindow(TFormFiles files, const std::vector<std::string>& parameters) {
  Create("QuillonMain", WS_EX_CONTROLPARENT, "Quillon", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
         DesignLeft, DesignTop, DesignWidth, DesignHeight, nullptr);
  // Without its window (no desktop to draw on) the program cannot go on.
  if (!Handle()) throw std::runtime_error("Cannot create the window.");
  CreateControls();
  form_ = std::make_unique<TTraceRouteForm>(this, std::move(files));
  OutGrid->SetForm(form_.get());
  Guard([&] { form_->FormCreate(parameters); });
}

TWinMainWindow::~TWinMainWindow() {
  OutGrid->SetForm(nullptr);
  form_.reset();
}

void TWinMainWindow::CreateControls() {
  const ::HWND self = Handle();
  Panel1 = NewPanel(self, BDR_RAISEDINNER, 0, 0, 0, 0);
  Panel2 = NewPanel(self, BDR_RAISEDINNER, 0, 0, 0, 0);
  Panel3 = NewPanel(self, BDR_RAISEDINNER, 0, 0, 0, 0);

  NewStaticText("Host or IP", Panel1, 8, 6, 65, 21);
  NewStaticText("Max Hoops", Panel1, 8, 30, 65, 21);
  // The height covers the drop-down list; the box itself is 21 high.
  Host = NewControl("COMBOBOX", "", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL, 0,
                    Panel1, HostId, 70, 6, 415, 200);
  SendMessageA(Host, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), 15);
  SendMessageA(Host, CB_SETITEMHEIGHT, 0, 13);
  COMBOBOXINFO info{};
  info.cbSize = sizeof(info);
  if (GetComboBoxInfo(Host, &info)) {
    HostEdit = info.hwndItem;
    SetWindowSubclass(HostEdit, &HostEditProcedure, HostEditSubclass,
                      reinterpret_cast<DWORD_PTR>(this));
  }
  Hoops = NewEdit("30", Panel1, HoopsId, 70, 30, 43, 21);
  NewStaticText("Time Out", Panel1, 120, 31, 57, 20);
  TimeOut = NewEdit("5000", Panel1, TimeOutId, 176, 30, 49, 21);

  OutGrid = std::make_unique<TOutGridWindow>(Panel2, OutGridId);
  OutGrid->MenuRequested = [this](POINT screen) { ShowGridMenu(screen); };
  OutGrid->CopyRequested = [this] { GridCommand(TGridCommand::gcCopy); };

  NewSpeedButton("Help", Panel3, SpeedButton1Id, 8, 8, 75, 23);
  Button1 = NewControl("BUTTON", "Start", WS_TABSTOP | BS_PUSHBUTTON, 0, Panel3, Button1Id, 216, 8,
                       75, 25);
  Button2 = NewControl("BUTTON", "Stop", WS_TABSTOP | WS_DISABLED | BS_PUSHBUTTON, 0, Panel3,
                       Button2Id, 216, 8, 75, 25);
  ShowWindow(Button2, SW_HIDE);
  NewSpeedButton("About", Panel3, SpeedButton2Id, 421, 8, 75, 24);
  LayOut();
  SetFocus(Host);
}

void TWinMainWindow::LayOut() {
  RECT client;
  GetClientRect(Handle(), &client);
  const int width = client.right;
  const int height = client.bottom;
  const int middle = std::max(0, height - Panel1Height - Panel3Height);
  MoveWindow(Panel1, 0, 0, width, Panel1Height, TRUE);
  MoveWindow(Panel2, 0, Panel1Height, width, middle, TRUE);
  MoveWindow(Panel3, 0, Panel1Height + middle, width, Panel3Height, TRUE);
  // The grid fills its panel inside the bevel.
  MoveWindow(OutGrid->Handle(), BevelWidth, BevelWidth, std::max(0, width - 2 * BevelWidth),
             std::max(0, middle - 2 * BevelWidth), TRUE);
}

void TWinMainWindow::ShowGridMenu(POINT screen) {
  if (!form_) return;
  const HMENU menu = CreatePopupMenu();
  if (!menu) return;
  const auto& items = GridMenuItems();
  HMENU submenu = nullptr;
  const char* submenuCaption = nullptr;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const TGridMenuItem& item = items[i];
    HMENU into = menu;
    // A submenu shows where its first item would; destroying the menu destroys it.
    if (item.Submenu != nullptr) {
      if (submenu == nullptr || std::strcmp(submenuCaption, item.Submenu) != 0) {
        submenu = CreatePopupMenu();
        submenuCaption = item.Submenu;
        AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(submenu),
                    WideFromUtf8(item.Submenu).c_str());
      }
      into = submenu;
    }
    if (item.SeparatorBefore) AppendMenuW(into, MF_SEPARATOR, 0, nullptr);
    // The key beside its item, after a tab, as the system's menus show it.
    const std::wstring caption = WideFromUtf8(GridCommandCaption(*form_, item)) +
                                 (item.Command == TGridCommand::gcCopy ? L"\tCtrl+C" : L"");
    const UINT id = GridMenuFirstId + static_cast<UINT>(i);
    AppendMenuW(into, GridCommandEnabled(*form_, item.Command) ? MF_STRING : MF_STRING | MF_GRAYED,
                id, caption.c_str());
    // A toggle that is on has its check; the view in sight, the method and
    // the port have the radio mark.
    if (GridCommandChecked(*form_, item.Command) && item.Toggle)
      CheckMenuItem(into, id, MF_BYCOMMAND | MF_CHECKED);
    else if (GridCommandChecked(*form_, item.Command))
      CheckMenuRadioItem(into, id, id, id, MF_BYCOMMAND);
  }
  // The chosen item comes back here rather than as a message.
  const UINT chosen =
      static_cast<UINT>(TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY,
                                       screen.x, screen.y, 0, Handle(), nullptr));
  DestroyMenu(menu);
  if (chosen >= GridMenuFirstId && chosen < GridMenuFirstId + items.size())
    GridCommand(items[chosen - GridMenuFirstId].Command);
}

void TWinMainWindow::GridCommand(TGridCommand command) {
  if (!form_ || !GridCommandEnabled(*form_, command)) return;
  Guard([this, command] {
    if (RunGridCommand(*form_, command)) return;
    if (command == TGridCommand::gcSaveAs) {
      int typeIndex = 0;
      const std::string path = AskSaveFileName(Handle(), typeIndex);
      if (path.empty()) return;
      const std::string failure = form_->SaveReport(path, ExportFormatOf(path, typeIndex));
      if (!failure.empty()) ShowError(failure);
      return;
    }
    if (command == TGridCommand::gcPortOther) {
      const std::string text = AskPortText(Handle(), form_->ProbePort);
      const std::string refusal = text.empty() ? std::string() : ChooseProbePort(*form_, text);
      if (!refusal.empty()) ShowError(refusal);
      return;
    }
    const bool csv = command == TGridCommand::gcCopyCsv;
    if (!SetClipboardText(Handle(), csv ? form_->CopyCsvText() : form_->CopyText()))
      ShowError("Cannot copy: another program holds the clipboard. Try again.");
  });
}

void TWinMainWindow::Guard(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    // A refusal for lack of rights says, as the terminal does, how to allow tracing.
    ShowError(ErrorTextWithHint(e, ExecutablePath()));
  }
  PullControls();
}

void TWinMainWindow::ShowError(const std::string& text) {
  MessageBoxA(Handle(), text.c_str(), "Quillon", MB_OK | MB_ICONERROR);
}

void TWinMainWindow::ShowMessage(const std::string& text) {
  MessageBoxA(Handle(), text.c_str(), "Quillon", MB_OK);
}

void TWinMainWindow::GridChanged() {
  OutGrid->Refresh();
}

void TWinMainWindow::ControlsChanged() {
  PullControls();
}

void TWinMainWindow::PullControls() {
  if (!form_) return;
  pulling_ = true;
  const std::vector<std::string>& items = form_->Host.Items;
  bool same = SendMessageA(Host, CB_GETCOUNT, 0, 0) == static_cast<LRESULT>(items.size());
  for (std::size_t i = 0; same && i < items.size(); ++i)
    same = ComboItem(Host, static_cast<LRESULT>(i)) == items[i];
  if (!same) {
    SendMessageA(Host, CB_RESETCONTENT, 0, 0);
    for (const std::string& item : items)
      SendMessageA(Host, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
  }
  // Only a real change is written back: rewriting the same text would move
  // the caret under the user's hands.
  if (WindowText(Host) != form_->Host.Text) SetWindowTextA(Host, form_->Host.Text.c_str());
  if (WindowText(Hoops) != form_->Hoops.Text) SetWindowTextA(Hoops, form_->Hoops.Text.c_str());
  if (WindowText(TimeOut) != form_->TimeOut.Text)
    SetWindowTextA(TimeOut, form_->TimeOut.Text.c_str());
  // A focused button that goes disabled or hidden would leave the keyboard
  // focus nowhere: it moves on first, to the other button or the Host box.
  const ::HWND focus = GetFocus();
  const auto usable = [](const TButtonState& state) { return state.Enabled && state.Visible; };
  if ((focus == Button1 && !usable(form_->Button1)) ||
      (focus == Button2 && !usable(form_->Button2))) {
    const ::HWND next = focus != Button1 && usable(form_->Button1)   ? Button1
                        : focus != Button2 && usable(form_->Button2) ? Button2
                                                                     : Host;
    if (next == Button1) SetButton(Button1, form_->Button1);
    if (next == Button2) SetButton(Button2, form_->Button2);
    SetFocus(next);
  }
  SetButton(Button1, form_->Button1);
  SetButton(Button2, form_->Button2);
  pulling_ = false;
}

void TWinMainWindow::OnCommand(int id, int code, ::HWND control) {
  if (!form_) return;
  switch (id) {
    case HostId:
      if (pulling_) return;
      // A pick from the list is the box's text only after this message.
      if (code == CBN_SELCHANGE) {
        const LRESULT index = SendMessageA(control, CB_GETCURSEL, 0, 0);
        if (index >= 0) form_->Host.Text = ComboItem(control, index);
      } else if (code == CBN_EDITCHANGE) {
        form_->Host.Text = WindowText(control);
      }
      return;
    case HoopsId:
      if (code == EN_CHANGE && !pulling_) form_->Hoops.Text = WindowText(control);
      return;
    case TimeOutId:
      if (code == EN_CHANGE && !pulling_) form_->TimeOut.Text = WindowText(control);
      return;
    case Button1Id:
      if (code == BN_CLICKED) Guard([this] { form_->Button1Click(); });
      return;
    case Button2Id:
      if (code == BN_CLICKED) Guard([this] { form_->Button2Click(); });
      return;
    case SpeedButton1Id:
      SpeedButton1Click();
      return;
    case SpeedButton2Id:
      SpeedButton2Click();
      return;
    default:
      return;
  }
}

LRESULT CALLBACK TWinMainWindow::HostEditProcedure(::HWND edit, UINT msg, WPARAM wParam,
                                                   LPARAM lParam, UINT_PTR, DWORD_PTR self) {
  auto* window = reinterpret_cast<TWinMainWindow*>(self);
  if (msg == WM_NCDESTROY) {
    // The box's last message: the subclass goes while the box is still there.
    RemoveWindowSubclass(edit, &HostEditProcedure, HostEditSubclass);
    window->HostEdit = nullptr;
    return DefSubclassProc(edit, msg, wParam, lParam);
  }
  if (msg == WM_GETDLGCODE && lParam != 0 &&
      reinterpret_cast<const MSG*>(lParam)->message == WM_KEYDOWN &&
      reinterpret_cast<const MSG*>(lParam)->wParam == VK_RETURN) {
    // Enter belongs to the box, not to the window's dialog keys.
    return DefSubclassProc(edit, msg, wParam, lParam) | DLGC_WANTALLKEYS;
  }
  if (msg == WM_CHAR && window->form_ && wParam < 256) {
    char key = static_cast<char>(wParam);
    window->Guard([window, &key] { window->form_->HostKeyPress(key); });
    // The key goes on to the box unchanged whatever the engine did with it.
  }
  return DefSubclassProc(edit, msg, wParam, lParam);
}

void TWinMainWindow::StopAndSave() {
  // No probe may start once the names are saved: stop first.
  if (form_->Running && !form_->StopRequested) form_->Button2Click();
  form_->FormClose();
}

void TWinMainWindow::SpeedButton1Click() {
  ShowHelp();
}

void TWinMainWindow::SpeedButton2Click() {
  if (about_) about_->ShowModal();
}

LRESULT TWinMainWindow::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<::HWND>(lParam));
      return 0;
    case WM_SIZE:
      if (OutGrid) LayOut();
      return 0;
    case WM_ACTIVATE:
      // The keyboard focus comes back to the control that had it (the Host
      // box at first), not to the window itself.
      if (LOWORD(wParam) == WA_INACTIVE) {
        const ::HWND focus = GetFocus();
        if (focus && IsChild(Handle(), focus)) focus_ = focus;
      } else {
        SetFocus(focus_ && IsWindow(focus_) ? focus_ : Host);
      }
      return 0;
    case WM_GETMINMAXINFO: {
      auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
      limits->ptMinTrackSize = {DesignWidth, MinHeight};
      limits->ptMaxTrackSize.x = DesignWidth;
      limits->ptMaxSize.x = DesignWidth;  // maximised, too, it keeps its width
      return 0;
    }
    case WM_CLOSE:
      if (form_) Guard([this] { StopAndSave(); });
      // A console's close handler waiting for the save may let the system end
      // the process now.
      MarkStateSaved();
      DestroyWindow(Handle());
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      // Logoff or shutdown ends the process once this returns, without WM_CLOSE.
      if (wParam != FALSE && form_) {
        try {
          StopAndSave();
        } catch (const std::exception&) {
          // Nothing can be shown any more; the session ends all the same.
        }
        MarkStateSaved();
        // The Restart Manager (an upgrade, say) closes this program alone: the
        // session goes on, so the program ends itself.
        if ((static_cast<DWORD>(lParam) & ENDSESSION_CLOSEAPP) != 0) DestroyWindow(Handle());
      }
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return TWindowBase::HandleMessage(msg, wParam, lParam);
}

}  // namespace quillon
