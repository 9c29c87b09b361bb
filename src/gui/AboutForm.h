// The About window: the product line with the executable's file version, a
// short licence notice and the link to the project's home page. Created once,
// hidden, and shown modally by the main window's About button.
#pragma once

#include <QDialog>
#include <string>

class QLabel;
class QTextEdit;
class QPushButton;

namespace quillon {

class TAboutFrm : public QDialog {
 public:
  explicit TAboutFrm(QWidget* parent = nullptr);

  // Shows the window centred over the given one and returns once it is closed.
  void ShowModal(QWidget* over);

  // --- event handlers ---
  void FormCreate();
  void Button1Click();
  void Label2Click();

  static constexpr int DesignWidth = 307;
  static constexpr int DesignHeight = 330;

 private:
  QLabel* Label1;
  QTextEdit* Memo1;
  QLabel* Label2;
  QPushButton* Button1;
};

}  // namespace quillon
