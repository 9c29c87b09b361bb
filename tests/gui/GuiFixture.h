// The main window over the simulated network, with its two boxes recorded
// instead of shown, and its state files in a folder of the test's own.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gui/GridWidget.h"
#include "gui/MainWindow.h"
#include "support/SimulatedNetwork.h"

namespace quillon::guitest {

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("quillon-gui-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    files_.HistoryPath = (dir_ / "quillon.hst").string();
    files_.CachePath = (dir_ / "quillon.dnb").string();
  }

  void TearDown() override {
    window_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // A three-hop route to target.test (10.9.9.9); the first hop has a name.
  static TSimConfig ThreeHops() {
    TSimConfig config;
    config.Target = "10.9.9.9";
    config.Route = {TSimHop::Router("10.0.0.1", 5), TSimHop::Router("10.0.0.2", 10),
                    TSimHop::Destination("10.9.9.9", 20)};
    config.ForwardNames["target.test"] = TSimForward::To("10.9.9.9");
    config.ReverseNames["10.0.0.1"] = TSimReverse::Name("gw1.test");
    config.ReverseNames["10.9.9.9"] = TSimReverse::Name("target.test");
    return config;
  }

  TMainWindow& Open(const TSimConfig& config, const std::vector<std::string>& parameters = {}) {
    network_ = &InstallSimulatedNetwork(config);
    TMessageBoxes boxes;
    boxes.Message = [this](QWidget*, const QString& text) {
      messages_.push_back(text.toStdString());
    };
    boxes.Error = [this](QWidget*, const QString& text) { errors_.push_back(text.toStdString()); };
    // The real file dialog unless a test answers it itself.
    boxes.SaveFileName = [this](QWidget* owner, int& typeIndex) {
      return saveFileName_ ? saveFileName_(typeIndex) : AskSaveFileName(owner, typeIndex);
    };
    window_ = std::make_unique<TMainWindow>(files_, parameters, boxes);
    window_->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    return *window_;
  }

  template <typename T = QWidget>
  T* Child(const char* name) {
    T* child = window_->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
  }
  QComboBox* HostBox() { return Child<QComboBox>("Host"); }
  QPushButton* StartButton() { return Child<QPushButton>("Button1"); }
  QPushButton* StopButton() { return Child<QPushButton>("Button2"); }

  // Runs the event loop (and with it the worker messages) until the condition
  // holds; false if it does not within the limit.
  static bool WaitUntil(const std::function<bool()>& condition, int limitMs = 15000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
      if (clock.elapsed() > limitMs) return false;
      QTest::qWait(5);
    }
    return true;
  }

  bool WaitIdle() {
    if (WaitUntil([this] { return !window_->Form().Running; })) return true;
    ADD_FAILURE() << Describe();
    return false;
  }

  // What the window and the network show, for a failure message.
  std::string Describe() {
    const TTraceRouteForm& form = window_->Form();
    std::string text = "running=" + std::to_string(form.Running) +
                       " routeEnd=" + std::to_string(form.RouteEndFound) +
                       " length=" + std::to_string(form.RouteLength) +
                       " lastTtl=" + std::to_string(form.LastRequestedTtl) +
                       " probesBusy=" + std::to_string(form.ProbeSlotBusy()) +
                       " resolversBusy=" + std::to_string(form.ResolverSlotBusy()) +
                       " sent=" + std::to_string(network_->Counters().DatagramsSent) +
                       " received=" + std::to_string(network_->Counters().DatagramsReceived) +
                       " pending=" + std::to_string(TMessageQueue::Main().PendingCount()) + "\n";
    for (int row = 0; row < form.OutGrid.RowCount(); ++row) {
      for (int col = 0; col < form.OutGrid.ColCount(); ++col)
        text += form.OutGrid.Cell(col, row) + "|";
      text += "\n";
    }
    return text;
  }

  using Pair = std::pair<std::string, std::string>;
  // The texts of the Hoops and TimeOut boxes.
  Pair Limits() {
    return {Child<QLineEdit>("Hoops")->text().toStdString(),
            Child<QLineEdit>("TimeOut")->text().toStdString()};
  }
  void SetLimits(const char* hoops, const char* timeOut) {
    Child<QLineEdit>("Hoops")->setText(QString::fromLatin1(hoops));
    Child<QLineEdit>("TimeOut")->setText(QString::fromLatin1(timeOut));
  }

  void SetHost(const std::string& text) { HostBox()->setEditText(QString::fromStdString(text)); }

  // A key pressed in the Host box as the platform delivers it: to the focused
  // widget of the active window.
  void PressInHost(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    HostBox()->setFocus();
    QTest::keyClick(QApplication::focusWidget(), key, modifiers);
  }

  // Until the window manager has framed the window and the outer size is fitted.
  static bool WaitFramed(QWidget& window, QSize outer) {
    return WaitUntil([&] { return window.frameGeometry().size() == outer; }, 5000);
  }

  std::string Cell(int col, int row) { return window_->Form().OutGrid.Cell(col, row); }

  // The grid's context menu once the gesture has opened it, or null.
  QMenu* OpenGridMenu(const std::function<void()>& gesture) {
    QMenu& menu = window_->GridMenu();
    menu.hide();
    gesture();
    return WaitUntil([&] { return menu.isVisible(); }, 5000) ? &menu : nullptr;
  }
  // A right click in the grid as the platform delivers it, to the window, which
  // turns it into a context menu request.
  void RightClickGrid(QPoint point) {
    QWidget* viewport = window_->Grid().viewport();
    QTest::mouseClick(window_->windowHandle(), Qt::RightButton, {},
                      viewport->mapTo(window_.get(), point));
  }
  // A click on the menu's item with that caption, as the user would.
  static void Choose(QMenu* menu, const QString& caption) {
    ASSERT_NE(menu, nullptr) << caption.toStdString();
    for (QAction* action : menu->actions()) {
      if (action->text() != caption) continue;
      QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
      return;
    }
    ADD_FAILURE() << "no item " << caption.toStdString();
  }
  // Acts on the next modal window (a dialog) once it is up, within ten seconds.
  static void WhenModal(std::function<void(QWidget*)> act) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, act = std::move(act), tries = 500]() mutable {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal && --tries > 0) return;
      timer->stop();
      timer->deleteLater();
      if (modal) act(modal);
    });
    timer->start(20);
  }

  // Keeps a picture of a window under the build tree (found from the
  // environment, or three levels above build/tests/gui/quillon_gui_tests), for
  // people to look at.
  static void SaveArtefact(QWidget& widget, const std::string& name) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path binaryDir;
    if (const char* dir = std::getenv("QUILLON_BINARY_DIR")) {
      binaryDir = dir;
    } else {
      binaryDir =
          fs::read_symlink("/proc/self/exe", error).parent_path().parent_path().parent_path();
    }
    if (error || binaryDir.empty()) return;
    const fs::path dir = binaryDir / "tests" / "gui" / "artefacts";
    fs::create_directories(dir, error);
    // Pictures taken on a real desktop are kept beside the offscreen ones.
    const QString platform = QGuiApplication::platformName();
    const QString file = QString::fromStdString((dir / name).string());
    widget.grab().save(platform == "offscreen" ? file : file.chopped(4) + "-" + platform + ".png");
  }

  std::filesystem::path dir_;
  TFormFiles files_;
  TSimNetwork* network_ = nullptr;
  std::unique_ptr<TMainWindow> window_;
  std::vector<std::string> messages_;
  std::vector<std::string> errors_;
  std::function<QString(int& typeIndex)> saveFileName_;
};

}  // namespace quillon::guitest
