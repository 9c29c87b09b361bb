// The main window on Windows, built on the system's own controls: shows the
// engine's state (TTraceRouteForm) and forwards the user's actions to its event
// handlers, as the Qt window does. The trace logic itself lives in the engine.
#pragma once

#include "winui/Win32.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "trace/GridMenu.h"
#include "trace/TraceRouteForm.h"
#include "trace/TraceView.h"
#include "winui/ControlsWindows.h"

namespace quillon {

class TOutGridWindow;
class TWinAboutFrm;

// The system's file dialog of "Save as…": the chosen path (UTF-8), empty when
// cancelled, and the index of the file type picked (ExportFileTypes).
std::string AskSaveFileName(::HWND owner, int& typeIndex);
// Puts the text on the clipboard as Unicode text with CR LF line ends.
bool SetClipboardText(::HWND owner, const std::string& utf8);

class TWinMainWindow : public TWindowBase, public TTraceView {
 public:
  // Creates the window and its controls, then the engine (its components
  // first), then runs the engine's FormCreate with the program's parameters,
  // which may start a trace before the window is shown.
  TWinMainWindow(TFormFiles files, const std::vector<std::string>& parameters);
  ~TWinMainWindow() override;

  TTraceRouteForm& Form() { return *form_; }
  // The About window the About button shows (created after this window).
  void SetAboutForm(TWinAboutFrm* about) { about_ = about; }

  // --- TTraceView ---
  void ShowMessage(const std::string& text) override;
  void GridChanged() override;
  void ControlsChanged() override;

  // --- event handlers of the buttons without engine logic ---
  void SpeedButton1Click();
  void SpeedButton2Click();
  // --- the grid's context menu ---
  void ShowGridMenu(POINT screen);
  void GridCommand(TGridCommand command);

  // Runs an engine handler; an exception that leaves it goes to the error box.
  void Guard(const std::function<void()>& handler);
  // The application's error box, with an OK button.
  void ShowError(const std::string& text);

  static constexpr int DesignLeft = 216;
  static constexpr int DesignTop = 109;
  static constexpr int DesignWidth = 511;
  static constexpr int DesignHeight = 440;
  static constexpr int MinHeight = 270;

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  void CreateControls();
  // Closing, logoff, shutdown: stops the trace and saves the names.
  void StopAndSave();
  void LayOut();
  // Copies the engine's control state into the controls.
  void PullControls();
  // Copies what the user changed in a box into the engine's control state.
  void OnCommand(int id, int code, ::HWND control);
  static LRESULT CALLBACK HostEditProcedure(::HWND edit, UINT msg, WPARAM wParam, LPARAM lParam,
                                            UINT_PTR id, DWORD_PTR self);

  TWinAboutFrm* about_ = nullptr;
  bool pulling_ = false;
  ::HWND focus_ = nullptr;  // the control to give the focus back to

  ::HWND Panel1 = nullptr;
  ::HWND Panel2 = nullptr;
  ::HWND Panel3 = nullptr;
  ::HWND Host = nullptr;
  ::HWND HostEdit = nullptr;
  ::HWND Hoops = nullptr;
  ::HWND TimeOut = nullptr;
  ::HWND Button1 = nullptr;
  ::HWND Button2 = nullptr;
  std::unique_ptr<TOutGridWindow> OutGrid;

  std::unique_ptr<TTraceRouteForm> form_;
};

}  // namespace quillon
