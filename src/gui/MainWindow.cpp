#include "gui/MainWindow.h"

#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFrame>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QStringList>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <map>
#include <utility>

#include "gui/AboutForm.h"
#include "gui/Fonts.h"
#include "gui/GridWidget.h"
#include "gui/OuterFrame.h"
#include "gui/Shell.h"
#include "platform/ExecutablePath.h"
#include "platform/MessageQueue.h"
#include "trace/SocketRights.h"

namespace quillon {

namespace {

QString ToQString(const std::string& text) {
  return QString::fromStdString(text);
}

void DefaultMessageBox(QWidget* owner, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(), text,
                  QMessageBox::Ok, owner);
  box.exec();
}

void DefaultErrorBox(QWidget* owner, const QString& text) {
  QMessageBox::critical(owner, QApplication::applicationDisplayName(), text);
}

// A control of the window's design: its component name, its place and its
// caption (or text).
template <typename T>
T* NewControl(const char* name, const char* caption, QWidget* parent, int left, int top, int width,
              int height) {
  auto* control = new T(parent);
  control->setObjectName(QString::fromLatin1(name));
  control->setText(QString::fromLatin1(caption));
  control->setGeometry(left, top, width, height);
  return control;
}

QLabel* NewStaticText(const char* name, const char* caption, QWidget* parent, int left, int top,
                      int width, int height) {
  auto* label = NewControl<QLabel>(name, caption, parent, left, top, width, height);
  label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  // A small indent, so that the longest caption fits its fixed width.
  label->setIndent(1);
  label->setFocusPolicy(Qt::NoFocus);
  return label;
}

QToolButton* NewSpeedButton(const char* name, const char* caption, QWidget* parent, int left,
                            int top, int width, int height) {
  auto* button = NewControl<QToolButton>(name, caption, parent, left, top, width, height);
  button->setAutoRaise(true);
  button->setFocusPolicy(Qt::NoFocus);
  button->setCursor(Qt::PointingHandCursor);
  return button;
}

QFrame* NewPanel(const char* name, QWidget* parent) {
  auto* panel = new QFrame(parent);
  panel->setObjectName(QString::fromLatin1(name));
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  return panel;
}

void SetButton(QPushButton* button, const TButtonState& state) {
  button->setText(ToQString(state.Caption));
  button->setEnabled(state.Enabled);
  button->setVisible(state.Visible);
}

}  // namespace

QString AskSaveFileName(QWidget* owner, int& typeIndex) {
  QFileDialog dialog(owner, QStringLiteral("Save as"));
  dialog.setObjectName(QStringLiteral("SaveAsDialog"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  QStringList filters;
  for (const TExportFileType& type : ExportFileTypes())
    filters
        << QStringLiteral("%1 (*.%2)").arg(QLatin1String(type.Name), QLatin1String(type.Extension));
  dialog.setNameFilters(filters);
  // A name typed without an extension gets that of the type picked.
  const auto suffixOf = [&filters](const QString& filter) {
    const auto index = static_cast<std::size_t>(std::max<qsizetype>(0, filters.indexOf(filter)));
    return QLatin1String(ExportFileTypes()[index].Extension);
  };
  dialog.setDefaultSuffix(suffixOf(filters.front()));
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                   [&](const QString& filter) { dialog.setDefaultSuffix(suffixOf(filter)); });
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  typeIndex = static_cast<int>(filters.indexOf(dialog.selectedNameFilter()));
  return dialog.selectedFiles().front();
}

QString AskPortText(QWidget* owner, int current) {
  QInputDialog dialog(owner);
  dialog.setObjectName(QStringLiteral("PortDialog"));
  dialog.setWindowTitle(QStringLiteral("Port"));
  dialog.setLabelText(
      QStringLiteral("Destination port (%1 to %2):").arg(MinProbePort).arg(MaxProbePort));
  dialog.setTextValue(current > 0 ? QString::number(current) : QString());
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.textValue();
}

// --- message pump ---

namespace {

// Lives on the window thread for the whole process: a worker's wake call may
// still run while the program ends, so the object it posts to is never freed.
QObject* PumpTarget() {
  static QObject* target = new QObject;
  return target;
}

std::function<void(const std::string&)>& PumpErrorReporter() {
  static std::function<void(const std::string&)> reporter;
  return reporter;
}

void DispatchWindowMessages() {
  // One message at a time, so that an exception leaving one handler does not
  // hold back the messages behind it.
  for (;;) {
    try {
      if (!TMessageQueue::Main().ProcessOneMessage()) return;
    } catch (const std::exception& e) {
      if (const auto& report = PumpErrorReporter()) report(e.what());
    }
  }
}

}  // namespace

void InstallMessagePump(std::function<void(const std::string&)> reportError) {
  QObject* target = PumpTarget();
  PumpErrorReporter() = std::move(reportError);
  TMessageQueue::Main().SetWakeHandler([target] {
    QMetaObject::invokeMethod(target, &DispatchWindowMessages, Qt::QueuedConnection);
  });
}

// --- window ---

TMainWindow::TMainWindow(TFormFiles files, const std::vector<std::string>& parameters,
                         TMessageBoxes boxes, QWidget* parent)
    : QWidget(parent), boxes_(std::move(boxes)) {
  if (!boxes_.Message) boxes_.Message = &DefaultMessageBox;
  if (!boxes_.Error) boxes_.Error = &DefaultErrorBox;
  if (!boxes_.SaveFileName) boxes_.SaveFileName = &AskSaveFileName;
  if (!boxes_.PortText) boxes_.PortText = &AskPortText;
  CreateControls();
  InstallMessagePump([this](const std::string& text) {
    ShowError(text);
    PullControls();
  });
  form_ = std::make_unique<TTraceRouteForm>(this, std::move(files));
  OutGrid->SetForm(form_.get());
  Guard([&] { form_->FormCreate(parameters); });
}

TMainWindow::~TMainWindow() {
  InstallMessagePump(nullptr);
  OutGrid->SetForm(nullptr);
  form_.reset();
}

void TMainWindow::CreateControls() {
  setObjectName(QStringLiteral("TraceRouteForm"));
  setWindowTitle(QStringLiteral("Quillon"));
  setFont(WindowFont());
  // The sizes are those of the outer frame, fitted once the window manager has
  // framed the window; until then the client area takes the whole size.
  move(DesignLeft, DesignTop);
  new TOuterFrame(*this, DesignWidth, DesignHeight, MinHeight, TOuterFrame::TAnchor::TopLeft);

  Panel1 = NewPanel("Panel1", this);
  Panel1->setFixedHeight(57);
  Panel2 = NewPanel("Panel2", this);
  Panel3 = NewPanel("Panel3", this);
  Panel3->setFixedHeight(41);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(Panel1);
  layout->addWidget(Panel2, 1);
  layout->addWidget(Panel3);

  StaticText5 = NewStaticText("StaticText5", "Host or IP", Panel1, 8, 6, 65, 21);
  StaticText1 = NewStaticText("StaticText1", "Max Hoops", Panel1, 8, 30, 65, 21);
  Host = new QComboBox(Panel1);
  Host->setObjectName(QStringLiteral("Host"));
  Host->setEditable(true);
  Host->setInsertPolicy(QComboBox::NoInsert);
  Host->setGeometry(70, 6, 415, 21);
  Host->setEditText(QStringLiteral("localhost"));
  // A key pressed in the box reaches the box itself, which hands it to its line
  // editor directly; a key sent to the editor meets the editor's filter.
  Host->installEventFilter(this);
  Host->lineEdit()->installEventFilter(this);
  Hoops = NewControl<QLineEdit>("Hoops", "30", Panel1, 70, 30, 43, 21);
  StaticText2 = NewStaticText("StaticText2", "Time Out", Panel1, 120, 31, 57, 20);
  TimeOut = NewControl<QLineEdit>("TimeOut", "5000", Panel1, 176, 30, 49, 21);

  OutGrid = new TOutGridWidget(Panel2);
  OutGrid->setObjectName(QStringLiteral("OutGrid"));
  OutGrid->setFont(GridFont());
  CreateGridMenu();
  auto* gridLayout = new QVBoxLayout(Panel2);
  gridLayout->setContentsMargins(0, 0, 0, 0);
  gridLayout->addWidget(OutGrid);

  SpeedButton1 = NewSpeedButton("SpeedButton1", "Help", Panel3, 8, 8, 75, 23);
  Button1 = NewControl<QPushButton>("Button1", "Start", Panel3, 216, 8, 75, 25);
  Button2 = NewControl<QPushButton>("Button2", "Stop", Panel3, 216, 8, 75, 25);
  Button2->setEnabled(false);
  Button2->hide();
  SpeedButton2 = NewSpeedButton("SpeedButton2", "About", Panel3, 421, 8, 75, 24);

  setTabOrder(Host, Hoops);
  setTabOrder(Hoops, TimeOut);
  setTabOrder(TimeOut, OutGrid);
  setTabOrder(OutGrid, Button1);
  setTabOrder(Button1, Button2);
  Host->setFocus();

  // Typed text goes into the engine's control state as it changes, so that
  // the engine always acts on what the user sees.
  connect(Host, &QComboBox::editTextChanged, this, [this](const QString& text) {
    if (!pulling_ && form_) form_->Host.Text = text.toStdString();
  });
  connect(Hoops, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (!pulling_ && form_) form_->Hoops.Text = text.toStdString();
  });
  connect(TimeOut, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (!pulling_ && form_) form_->TimeOut.Text = text.toStdString();
  });
  connect(Button1, &QPushButton::clicked, this,
          [this] { Guard([this] { form_->Button1Click(); }); });
  connect(Button2, &QPushButton::clicked, this,
          [this] { Guard([this] { form_->Button2Click(); }); });
  connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
  connect(SpeedButton2, &QToolButton::clicked, this, [this] { SpeedButton2Click(); });
}

void TMainWindow::CreateGridMenu() {
  GridMenu_ = new QMenu(this);
  GridMenu_->setObjectName(QStringLiteral("GridMenu"));
  // The two views, the methods and the ports each show as a group of radio items.
  std::map<int, QActionGroup*> groups;
  QMenu* submenu = nullptr;
  for (const TGridMenuItem& item : GridMenuItems()) {
    QMenu* menu = GridMenu_;
    if (item.Submenu != nullptr) {
      if (submenu == nullptr || submenu->title() != QString::fromUtf8(item.Submenu))
        submenu = GridMenu_->addMenu(QString::fromUtf8(item.Submenu));
      menu = submenu;
    }
    if (item.SeparatorBefore) menu->addSeparator();
    QAction* action = menu->addAction(QString::fromUtf8(item.Caption));
    action->setData(static_cast<int>(item.Command));
    if (const int group = GridRadioGroup(item.Command); group != 0) {
      action->setCheckable(true);
      QActionGroup*& radio = groups[group];
      if (radio == nullptr) radio = new QActionGroup(GridMenu_);
      radio->addAction(action);
    }
    if (item.Toggle) action->setCheckable(true);
    // Shown beside the item; the grid itself answers Ctrl+C.
    if (item.Command == TGridCommand::gcCopy) {
      action->setShortcut(QKeySequence::Copy);
      action->setShortcutContext(Qt::WidgetShortcut);
    }
    const TGridCommand command = item.Command;
    connect(action, &QAction::triggered, this, [this, command] { GridCommand(command); });
  }
  OutGrid->MenuRequested = [this](const QPoint& globalPos) { ShowGridMenu(globalPos); };
  OutGrid->CopyRequested = [this] { GridCommand(TGridCommand::gcCopy); };
}

void TMainWindow::ShowGridMenu(const QPoint& globalPos) {
  if (!form_) return;
  const auto show = [this](QMenu* menu, const auto& self) -> void {
    for (QAction* action : menu->actions()) {
      if (action->isSeparator()) continue;
      if (action->menu() != nullptr) {
        self(action->menu(), self);
        continue;
      }
      const auto command = static_cast<TGridCommand>(action->data().toInt());
      for (const TGridMenuItem& item : GridMenuItems())
        if (item.Command == command)
          action->setText(QString::fromStdString(GridCommandCaption(*form_, item)));
      action->setEnabled(GridCommandEnabled(*form_, command));
      action->setChecked(GridCommandChecked(*form_, command));
    }
  };
  show(GridMenu_, show);
  GridMenu_->popup(globalPos);
}

void TMainWindow::GridCommand(TGridCommand command) {
  if (!form_ || !GridCommandEnabled(*form_, command)) return;
  Guard([this, command] {
    if (RunGridCommand(*form_, command)) return;
    if (command == TGridCommand::gcSaveAs) return SaveAsClick();
    if (command == TGridCommand::gcPortOther) return OtherPortClick();
    const bool csv = command == TGridCommand::gcCopyCsv;
    QGuiApplication::clipboard()->setText(
        QString::fromStdString(csv ? form_->CopyCsvText() : form_->CopyText()));
  });
}

void TMainWindow::OtherPortClick() {
  const QString text = boxes_.PortText(this, form_->ProbePort);
  if (text.isEmpty()) return;
  const std::string refusal = ChooseProbePort(*form_, text.toStdString());
  if (!refusal.empty()) ShowError(refusal);
}

void TMainWindow::SaveAsClick() {
  int typeIndex = 0;
  const QString path = boxes_.SaveFileName(this, typeIndex);
  if (path.isEmpty()) return;
  // The file system's own bytes for the name, as the engine's files use them.
  const std::string name = QFile::encodeName(path).toStdString();
  const std::string failure = form_->SaveReport(name, ExportFormatOf(name, typeIndex));
  if (!failure.empty()) ShowError(failure);
}

void TMainWindow::Guard(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    // A refused socket also says how to allow tracing here, as the terminal does.
    ShowError(ErrorTextWithHint(e, ExecutablePath()));
  }
  PullControls();
}

void TMainWindow::ShowError(const std::string& text) {
  boxes_.Error(this, ToQString(text));
}

void TMainWindow::ShowMessage(const std::string& text) {
  boxes_.Message(this, ToQString(text));
}

void TMainWindow::GridChanged() {
  OutGrid->Refresh();
}

void TMainWindow::ControlsChanged() {
  PullControls();
}

void TMainWindow::PullControls() {
  if (!form_) return;
  pulling_ = true;
  QStringList items;
  for (const std::string& item : form_->Host.Items) items.append(ToQString(item));
  QStringList shown;
  for (int i = 0; i < Host->count(); ++i) shown.append(Host->itemText(i));
  if (shown != items) {
    Host->clear();
    Host->addItems(items);
  }
  // Only a real change is written back: rewriting the same text would move
  // the cursor under the user's hands.
  const QString hostText = ToQString(form_->Host.Text);
  if (Host->currentText() != hostText) Host->setEditText(hostText);
  const QString hoopsText = ToQString(form_->Hoops.Text);
  if (Hoops->text() != hoopsText) Hoops->setText(hoopsText);
  const QString timeOutText = ToQString(form_->TimeOut.Text);
  if (TimeOut->text() != timeOutText) TimeOut->setText(timeOutText);
  SetButton(Button1, form_->Button1);
  SetButton(Button2, form_->Button2);
  pulling_ = false;
}

bool TMainWindow::eventFilter(QObject* watched, QEvent* event) {
  if ((watched == Host || watched == Host->lineEdit()) && event->type() == QEvent::KeyPress &&
      form_) {
    const auto* keyEvent = static_cast<QKeyEvent*>(event);
    char key = 0;
    if (keyEvent->key() == Qt::Key_Return || keyEvent->key() == Qt::Key_Enter) {
      key = '\r';
    } else if (keyEvent->text().size() == 1 && keyEvent->text().at(0).unicode() < 128) {
      key = keyEvent->text().at(0).toLatin1();
    }
    // The key goes on to the box unchanged whatever the engine does with it.
    if (key != 0) Guard([this, &key] { form_->HostKeyPress(key); });
  }
  return QWidget::eventFilter(watched, event);
}

void TMainWindow::SpeedButton1Click() {
  // Without an opener Qt only writes a line to standard error, which a user
  // who started the window from a menu never sees.
  if (!ShowHelp()) ShowMessage(NoHelpOpenerText());
}

void TMainWindow::SpeedButton2Click() {
  if (about_) about_->ShowModal(this);
}

void TMainWindow::closeEvent(QCloseEvent* event) {
  Guard([this] { form_->FormClose(); });
  event->accept();
}

}  // namespace quillon
