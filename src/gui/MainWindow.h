// The main window on Qt: shows the engine's state (TTraceRouteForm) and
// forwards the user's actions to its event handlers. The trace logic itself
// lives in the engine; this class only mirrors control state both ways.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "trace/GridMenu.h"
#include "trace/TraceRouteForm.h"
#include "trace/TraceView.h"

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QToolButton;

namespace quillon {

class TAboutFrm;
class TOutGridWidget;

// How the window shows its two kinds of boxes; tests replace them to read what
// would be shown without a modal loop.
struct TMessageBoxes {
  std::function<void(QWidget* owner, const QString& text)> Message;  // OK box
  std::function<void(QWidget* owner, const QString& text)> Error;    // error box
  // "Save as…": the chosen path (empty: cancelled) and file type's index.
  std::function<QString(QWidget* owner, int& typeIndex)> SaveFileName;
  // The port "Other…" stands for, as typed (empty: cancelled); current is the
  // port in use (0: the method's default).
  std::function<QString(QWidget* owner, int current)> PortText;
};

// The platform's file dialog of "Save as…": the chosen path, empty when
// cancelled, and the index of the file type picked (ExportFileTypes).
QString AskSaveFileName(QWidget* owner, int& typeIndex);
// The small box of "Other…" in the port menu: the text typed, empty when cancelled.
QString AskPortText(QWidget* owner, int current);

class TMainWindow : public QWidget, public TTraceView {
 public:
  // Creates the controls, then the engine (its components first), then runs
  // the engine's FormCreate with the program's parameters, which may start a
  // trace before the window is shown.
  TMainWindow(TFormFiles files, const std::vector<std::string>& parameters,
              TMessageBoxes boxes = {}, QWidget* parent = nullptr);
  ~TMainWindow() override;

  TTraceRouteForm& Form() { return *form_; }
  TOutGridWidget& Grid() { return *OutGrid; }
  // The grid's context menu, shown by ShowGridMenu.
  QMenu& GridMenu() { return *GridMenu_; }
  // The About window the About button shows (created after this window).
  void SetAboutForm(TAboutFrm* about) { about_ = about; }

  // --- TTraceView ---
  void ShowMessage(const std::string& text) override;
  void GridChanged() override;
  void ControlsChanged() override;

  // --- event handlers of the buttons without engine logic ---
  void SpeedButton1Click();
  void SpeedButton2Click();
  // --- the grid's context menu ---
  void ShowGridMenu(const QPoint& globalPos);
  void GridCommand(TGridCommand command);

  static constexpr int DesignLeft = 216;
  static constexpr int DesignTop = 109;
  static constexpr int DesignWidth = 511;
  static constexpr int DesignHeight = 440;
  static constexpr int MinHeight = 270;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls();
  // Runs an engine handler; an exception that leaves it goes to the error box.
  void Guard(const std::function<void()>& handler);
  void ShowError(const std::string& text);
  // Copies the engine's control state into the widgets.
  void PullControls();
  void CreateGridMenu();
  void SaveAsClick();
  void OtherPortClick();

  TMessageBoxes boxes_;
  TAboutFrm* about_ = nullptr;
  bool pulling_ = false;

  QFrame* Panel1;
  QFrame* Panel2;
  QFrame* Panel3;
  QLabel* StaticText5;
  QLabel* StaticText1;
  QLabel* StaticText2;
  QComboBox* Host;
  QLineEdit* Hoops;
  QLineEdit* TimeOut;
  QToolButton* SpeedButton1;
  QToolButton* SpeedButton2;
  QPushButton* Button1;
  QPushButton* Button2;
  TOutGridWidget* OutGrid;
  QMenu* GridMenu_;

  std::unique_ptr<TTraceRouteForm> form_;
};

// Lets the Qt event loop dispatch the platform's window messages: every post
// from a worker queues one dispatch call into the loop. Errors that leave a
// message handler go to the reporter (window thread).
void InstallMessagePump(std::function<void(const std::string&)> reportError);

}  // namespace quillon
