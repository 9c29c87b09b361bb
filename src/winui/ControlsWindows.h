// What the native windows share: the window font, a base that routes a
// window's messages to its object, and our two small control classes (the
// bevelled panel and the flat button with the hand cursor).
#pragma once

#include "winui/Win32.h"

#include <string>

namespace quillon {

HINSTANCE ModuleInstance();

// Verdana, 11 pixels, ANSI: the windows' own font (plain or underlined for a
// link). Made once, kept for the process.
HFONT WindowFont();
HFONT LinkFont();

// A window whose messages reach a C++ object; the object outlives its window.
class TWindowBase {
 public:
  TWindowBase() = default;
  virtual ~TWindowBase();
  TWindowBase(const TWindowBase&) = delete;
  TWindowBase& operator=(const TWindowBase&) = delete;

  ::HWND Handle() const { return handle_; }

 protected:
  // Registers the class on first use and creates the window.
  void Create(const char* className, DWORD exStyle, const char* caption, DWORD style, int left,
              int top, int width, int height, ::HWND parent);
  virtual LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);

 private:
  static LRESULT CALLBACK Procedure(::HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
  ::HWND handle_ = nullptr;
};

// A child control in the window font.
::HWND NewControl(const char* className, const char* caption, DWORD style, DWORD exStyle,
                  ::HWND parent, int id, int left, int top, int width, int height);
// A panel with a one-pixel bevel (BDR_RAISEDINNER or BDR_SUNKENINNER) that
// passes its children's notifications on to its own parent.
::HWND NewPanel(::HWND parent, UINT bevel, int left, int top, int width, int height);
// A flat button: no focus, the hand cursor, a sunken edge while pressed; a click
// reaches the parent as WM_COMMAND with BN_CLICKED.
::HWND NewSpeedButton(const char* caption, ::HWND parent, int id, int left, int top, int width,
                      int height);

std::string WindowText(::HWND window);

}  // namespace quillon
