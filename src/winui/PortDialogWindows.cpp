#include "winui/PortDialogWindows.h"

#include <string>
#include <vector>

#include "net/ProbeMethod.h"
#include "platform/WideText.h"

namespace quillon {
namespace {

constexpr WORD kPortEdit = 100;
// The predefined window classes of a dialog template's items.
constexpr WORD kButton = 0x0080;
constexpr WORD kEdit = 0x0081;
constexpr WORD kStatic = 0x0082;

// A dialog template in memory (DLGTEMPLATE and its DLGITEMTEMPLATEs), so that
// the program needs no resource script for one small box.
class TDialogTemplate {
 public:
  TDialogTemplate(const std::wstring& title, short cx, short cy, WORD items) {
    Dword(DS_MODALFRAME | DS_CENTER | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU);
    Dword(0);
    words_.insert(words_.end(), {items, 0, 0, static_cast<WORD>(cx), static_cast<WORD>(cy)});
    words_.insert(words_.end(), {0, 0});  // no menu, the dialog class
    Text(title);
    words_.push_back(8);
    Text(L"MS Shell Dlg");
  }
  void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD windowClass,
            const std::wstring& text) {
    if (words_.size() % 2 != 0) words_.push_back(0);  // each item starts on a DWORD
    Dword(style | WS_CHILD | WS_VISIBLE);
    Dword(0);
    words_.insert(words_.end(), {static_cast<WORD>(x), static_cast<WORD>(y), static_cast<WORD>(cx),
                                 static_cast<WORD>(cy), id, 0xFFFF, windowClass});
    Text(text);
    words_.push_back(0);  // no creation data
  }
  const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  void Dword(DWORD value) { words_.insert(words_.end(), {LOWORD(value), HIWORD(value)}); }
  void Text(const std::wstring& text) {
    words_.insert(words_.end(), text.begin(), text.end());
    words_.push_back(0);
  }
  std::vector<WORD> words_;
};

struct TPortAnswer {
  std::wstring Text;
  bool Accepted = false;
};

INT_PTR CALLBACK PortDialogProcedure(::HWND dialog, UINT message, ::WPARAM wParam,
                                     ::LPARAM lParam) {
  auto* answer = reinterpret_cast<TPortAnswer*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      answer = reinterpret_cast<TPortAnswer*>(lParam);
      SetDlgItemTextW(dialog, kPortEdit, answer->Text.c_str());
      SendDlgItemMessageW(dialog, kPortEdit, EM_SETSEL, 0, -1);
      return TRUE;  // the focus goes to the edit box, the first item that takes it
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        wchar_t text[32] = {};
        GetDlgItemTextW(dialog, kPortEdit, text, static_cast<int>(std::size(text)));
        answer->Text = text;
        answer->Accepted = true;
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

std::string AskPortText(::HWND owner, int current) {
  const std::wstring label = L"Destination port (" + std::to_wstring(MinProbePort) + L" to " +
                             std::to_wstring(MaxProbePort) + L"):";
  TDialogTemplate box(WideFromUtf8(PortDialogTitle), 160, 62, 4);
  box.Item(SS_LEFT, 7, 7, 146, 10, 0xFFFF, kStatic, label);
  box.Item(ES_AUTOHSCROLL | ES_NUMBER | WS_BORDER | WS_TABSTOP, 7, 20, 146, 13, kPortEdit, kEdit,
           L"");
  box.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 49, 41, 50, 14, IDOK, kButton, L"OK");
  box.Item(BS_PUSHBUTTON | WS_TABSTOP, 103, 41, 50, 14, IDCANCEL, kButton, L"Cancel");
  TPortAnswer answer;
  if (current > 0) answer.Text = std::to_wstring(current);
  DialogBoxIndirectParamW(GetModuleHandleW(nullptr), box.Get(), owner, &PortDialogProcedure,
                          reinterpret_cast<LPARAM>(&answer));
  return answer.Accepted ? Utf8FromWide(answer.Text) : std::string();
}

}  // namespace quillon
