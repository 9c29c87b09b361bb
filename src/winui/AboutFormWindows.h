// The About window on Windows: the product line with the executable's file
// version, the licence notice and the link to the project's home page. Created
// once, hidden, and shown modally by the main window's About button.
#pragma once

#include "winui/Win32.h"

#include "winui/ControlsWindows.h"

namespace quillon {

class TWinAboutFrm : public TWindowBase {
 public:
  // Owned by the given window, which it is centred over and which it blocks
  // while shown.
  explicit TWinAboutFrm(::HWND owner);

  // Shows the window centred over its owner and returns once it is closed.
  void ShowModal();

  // --- event handlers ---
  void FormCreate();
  void Button1Click();
  void Label2Click();

  static constexpr int DesignWidth = 307;
  static constexpr int DesignHeight = 330;

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  ::HWND owner_;
  ::HWND Label1 = nullptr;
  ::HWND Memo1 = nullptr;
  ::HWND StaticText1 = nullptr;
  ::HWND Label2 = nullptr;
  ::HWND Button1 = nullptr;
};

}  // namespace quillon
