// The main window over the simulated network: layout, the ways to start and
// stop a trace, what the boxes show, and the two state files.
#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFontInfo>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QLabel>
#include <QProcess>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <fstream>
#include <iterator>
#include <set>

#include "GuiFixture.h"
#include "gui/DesktopApp.h"
#include "gui/Shell.h"
#include "platform/ExecutablePath.h"
#include "platform/Text.h"
#include "trace/HopGrid.h"
#include "trace/HopStats.h"
#include "trace/SocketRights.h"

namespace quillon::guitest {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct TControlLayout {
  const char* Name;
  const char* Parent;
  QRect Geometry;
  const char* Caption;  // label, button or box text; nullptr: none checked
};

QString CaptionOf(QWidget* widget) {
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text();
  if (auto* combo = qobject_cast<QComboBox*>(widget)) return combo->currentText();
  return {};
}

TEST_F(MainWindowTest, ControlsSitWhereTheDesignPutsThem) {
  TMainWindow& window = Open(ThreeHops());
  EXPECT_EQ(window.windowTitle(), "Quillon");
  EXPECT_EQ(QApplication::applicationDisplayName(), "Quillon");
  // The sizes are the outer frame's (the offscreen platform draws a thin one, a
  // window manager its own once it has framed the window).
  EXPECT_TRUE(WaitFramed(window, QSize(511, 440)))
      << window.frameGeometry().size().width() << "x" << window.frameGeometry().size().height();
  EXPECT_EQ(window.frameGeometry(), QRect(216, 109, 511, 440));
  const QSize frame = window.frameGeometry().size() - window.size();
  EXPECT_EQ(window.minimumWidth() + frame.width(), 511);
  EXPECT_EQ(window.maximumWidth() + frame.width(), 511);
  EXPECT_EQ(window.minimumHeight() + frame.height(), 270);
  const int width = window.width();
  const int height = window.height();

  const TControlLayout layouts[] = {
      {"Panel1", "TraceRouteForm", QRect(0, 0, width, 57), nullptr},
      {"Panel2", "TraceRouteForm", QRect(0, 57, width, height - 57 - 41), nullptr},
      {"Panel3", "TraceRouteForm", QRect(0, height - 41, width, 41), nullptr},
      {"StaticText5", "Panel1", QRect(8, 6, 65, 21), "Host or IP"},
      {"StaticText1", "Panel1", QRect(8, 30, 65, 21), "Max Hoops"},
      {"Host", "Panel1", QRect(70, 6, 415, 21), "localhost"},
      {"Hoops", "Panel1", QRect(70, 30, 43, 21), "30"},
      {"StaticText2", "Panel1", QRect(120, 31, 57, 20), "Time Out"},
      {"TimeOut", "Panel1", QRect(176, 30, 49, 21), "5000"},
      {"SpeedButton1", "Panel3", QRect(8, 8, 75, 23), "Help"},
      {"Button1", "Panel3", QRect(216, 8, 75, 25), "Start"},
      {"Button2", "Panel3", QRect(216, 8, 75, 25), "Stop"},
      {"SpeedButton2", "Panel3", QRect(421, 8, 75, 24), "About"},
  };
  for (const TControlLayout& layout : layouts) {
    SCOPED_TRACE(layout.Name);
    QWidget* widget = Child(layout.Name);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->parentWidget()->objectName(), layout.Parent);
    EXPECT_EQ(widget->geometry(), layout.Geometry);
    if (layout.Caption) {
      EXPECT_EQ(CaptionOf(widget), layout.Caption);
    }
  }
  // The grid fills the middle panel inside its bevel.
  QWidget* grid = Child("OutGrid");
  EXPECT_EQ(grid->parentWidget()->objectName(), "Panel2");
  EXPECT_EQ(grid->geometry(), Child("Panel2")->contentsRect());

  EXPECT_TRUE(StartButton()->isVisible());
  EXPECT_TRUE(StartButton()->isEnabled());
  EXPECT_FALSE(StopButton()->isVisible());
  EXPECT_FALSE(StopButton()->isEnabled());
  // The first start without files: the list holds only the default host.
  ASSERT_EQ(HostBox()->count(), 1);
  EXPECT_EQ(HostBox()->itemText(0), "localhost");

  // Verdana where installed, else the metric-alike; the grid keeps the
  // desktop's own family, at a size whose texts (drawn 2 pixels below a row's
  // top) fit the row, descenders included.
  EXPECT_EQ(window.font().pixelSize(), 11);
  EXPECT_TRUE(window.font().family() == "Verdana" || window.font().family() == "DejaVu Sans")
      << window.font().family().toStdString();
  EXPECT_EQ(grid->font().family(), QApplication::font().family());
  EXPECT_LE(2 + QFontMetrics(grid->font()).height(), THopGrid::DefaultRowHeight);
  EXPECT_EQ(Child("Hoops")->font(), window.font());
}

TEST_F(MainWindowTest, HeightFollowsTheUserButNotBelowTheMinimum) {
  TMainWindow& window = Open(ThreeHops());
  ASSERT_TRUE(WaitFramed(window, QSize(511, 440)));
  const QSize frame = window.frameGeometry().size() - window.size();
  const int width = window.width();
  window.resize(width, 600);
  EXPECT_EQ(Child("Panel3")->geometry(), QRect(0, 559, width, 41));
  EXPECT_EQ(Child("Panel2")->geometry(), QRect(0, 57, width, 502));
  window.resize(700, 100);
  EXPECT_EQ(window.size() + frame, QSize(511, 270));
  EXPECT_EQ(Child("Panel1")->geometry(), QRect(0, 0, width, 57));
}

TEST_F(MainWindowTest, KeyboardFocusRunsThroughBoxesGridAndVisibleButton) {
  TMainWindow& window = Open(ThreeHops());
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  HostBox()->setFocus();
  auto focused = [] {
    QWidget* widget = QApplication::focusWidget();
    // The editable box takes focus through its line editor.
    if (widget && qobject_cast<QComboBox*>(widget->parentWidget())) return widget->parentWidget();
    return widget;
  };
  ASSERT_EQ(focused(), HostBox());
  const char* order[] = {"Hoops", "TimeOut", "OutGrid", "Button1", "Host"};
  for (const char* name : order) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_NE(focused(), nullptr);
    EXPECT_EQ(focused()->objectName().toStdString(), name);
  }
  for (const char* name :
       {"StaticText5", "StaticText1", "StaticText2", "SpeedButton1", "SpeedButton2"}) {
    EXPECT_EQ(Child(name)->focusPolicy(), Qt::NoFocus) << name;
  }
}

TEST_F(MainWindowTest, StartClickTracesTheRouteIntoEveryCell) {
  Open(ThreeHops());
  SetHost("target.test");
  QTest::mouseClick(StartButton(), Qt::LeftButton);
  ASSERT_TRUE(WaitIdle());

  const TTraceRouteForm& form = window_->Form();
  ASSERT_EQ(form.OutGrid.RowCount(), 4);
  const std::vector<std::string> headers = {"No",   "Ip Address", "HostName",
                                            "Time", "TTL",        "Time Chart"};
  for (int col = 0; col < 6; ++col) EXPECT_EQ(Cell(col, 0), headers[std::size_t(col)]);
  const char* addresses[] = {"10.0.0.1", "10.0.0.2", "10.9.9.9"};
  const char* names[] = {"gw1.test", "10.0.0.2[no DNS]", "target.test"};
  for (int row = 1; row <= 3; ++row) {
    SCOPED_TRACE(row);
    EXPECT_EQ(Cell(0, row), std::to_string(row));
    EXPECT_EQ(Cell(1, row), addresses[row - 1]);
    EXPECT_EQ(Cell(2, row), names[row - 1]);
    EXPECT_TRUE(TryStrToInt(Cell(3, row)).has_value()) << Cell(3, row);
    EXPECT_EQ(Cell(4, row), std::to_string(row));
    EXPECT_EQ(Cell(5, row), "");
  }
  EXPECT_TRUE(StartButton()->isVisible());
  EXPECT_FALSE(StopButton()->isVisible());
  EXPECT_TRUE(messages_.empty());
  EXPECT_TRUE(errors_.empty());
  // The typed host went to the top of the list and of the history file.
  EXPECT_EQ(HostBox()->itemText(0), "target.test");
  EXPECT_EQ(HostBox()->currentText(), "target.test");
  EXPECT_EQ(ReadFile(files_.HistoryPath), "target.test\r\nlocalhost\r\n");
  SaveArtefact(*window_, "MainWindow-trace.png");
}

TEST_F(MainWindowTest, EnterInTheHostBoxStartsButNotWhileARunIsActive) {
  TSimConfig config = ThreeHops();
  // The destination's name is held back, so the run stays active until released.
  config.ReverseNames["10.9.9.9"] = TSimReverse::HeldName("target.test");
  Open(config);
  SetHost("target.test");
  PressInHost(Qt::Key_Return);
  ASSERT_TRUE(WaitUntil([this] { return Cell(1, 3) == "10.9.9.9"; }));
  ASSERT_TRUE(window_->Form().Running);
  EXPECT_FALSE(StartButton()->isVisible());
  EXPECT_TRUE(StopButton()->isVisible());

  const std::uint16_t runId = window_->Form().RunId;
  const std::size_t lookups = network_->Lookups().size();
  SetHost("other.test");
  PressInHost(Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(window_->Form().RunId, runId);
  EXPECT_EQ(ReadFile(files_.HistoryPath), "target.test\r\nlocalhost\r\n");
  // The key went on to the box: its text is still what was typed.
  EXPECT_EQ(HostBox()->currentText(), "other.test");

  network_->ReleaseHeldLookups();
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Cell(2, 3), "target.test");
  // No forward lookup of other.test was made.
  for (std::size_t i = lookups; i < network_->Lookups().size(); ++i)
    EXPECT_NE(network_->Lookups()[i].Query, "other.test");
}

TEST_F(MainWindowTest, StartRewritesBoxesOutsideTheirRanges) {
  Open(ThreeHops());
  SetHost("target.test");
  SetLimits("101", "abc");
  QTest::mouseClick(StartButton(), Qt::LeftButton);
  EXPECT_EQ(Limits(), Pair("30", "9000"));
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(window_->Form().MaxHops, 30);
  EXPECT_EQ(window_->Form().TimeOutMs, 9000);

  SetLimits("2", "0");
  QTest::mouseClick(StartButton(), Qt::LeftButton);
  EXPECT_EQ(Limits(), Pair("2", "5000"));
  ASSERT_TRUE(WaitIdle());
  // The hop limit ends the route at hop 2.
  EXPECT_EQ(window_->Form().OutGrid.RowCount(), 3);
  EXPECT_EQ(Cell(1, 2), "10.0.0.2");
}

TEST_F(MainWindowTest, UnknownHostShowsTheBoxAndReturnsToIdle) {
  Open(ThreeHops());
  SetHost("  nowhere.test ");
  QTest::mouseClick(StartButton(), Qt::LeftButton);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "Host not found: nowhere.test");
  EXPECT_TRUE(errors_.empty());
  EXPECT_FALSE(window_->Form().Running);
  EXPECT_TRUE(StartButton()->isVisible());
  EXPECT_TRUE(StartButton()->isEnabled());
  EXPECT_FALSE(StopButton()->isVisible());
  EXPECT_EQ(network_->Counters().DatagramsSent, 0);
  // The history keeps the host as typed, blanks included.
  EXPECT_EQ(ReadFile(files_.HistoryPath), "  nowhere.test \r\nlocalhost\r\n");
}

TEST_F(MainWindowTest, RefusedRawSocketShowsTheErrorBoxAndReturnsToIdle) {
  TSimConfig config = ThreeHops();
  config.OpenFailure = TSimFailure{10013, -1};
  Open(config);
  SetHost("target.test");
  QTest::mouseClick(StartButton(), Qt::LeftButton);
  ASSERT_EQ(errors_.size(), 1u);
  // The first line as the socket layer says it, then how to allow tracing.
  EXPECT_EQ(errors_[0], "Cannot allocate socket.\n" + PrivilegeHint(ExecutablePath()));
  EXPECT_TRUE(messages_.empty());
  EXPECT_FALSE(window_->Form().Running);
  EXPECT_TRUE(StartButton()->isVisible());
  EXPECT_FALSE(StopButton()->isVisible());
}

TEST_F(MainWindowTest, StopLaunchesNoFurtherProbeAndEndsTheRun) {
  TSimConfig config;
  config.Target = "10.9.9.9";
  config.Route = {TSimHop::Router("10.0.0.1", 2)};
  for (int i = 2; i <= 9; ++i)
    config.Route.push_back(TSimHop::Silent("10.0.0." + std::to_string(i)));
  config.Route.push_back(TSimHop::Destination("10.9.9.9", 2));
  config.ForwardNames["target.test"] = TSimForward::To("10.9.9.9");
  Open(config);
  SetHost("target.test");
  SetLimits("30", "2000");
  QTest::mouseClick(StartButton(), Qt::LeftButton);
  // Hop 1 answers at once; the silent hops take three time-outs each, so the
  // fourth silent result (the end of the route) is six seconds away.
  ASSERT_TRUE(WaitUntil([this] { return window_->Form().HighestAnsweringHop == 1; }));
  QTest::mouseClick(StopButton(), Qt::LeftButton);
  EXPECT_TRUE(StopButton()->isVisible());
  EXPECT_FALSE(StopButton()->isEnabled());
  const int lastRequested = window_->Form().LastRequestedTtl;

  ASSERT_TRUE(WaitIdle());
  EXPECT_TRUE(StartButton()->isVisible());
  EXPECT_TRUE(StartButton()->isEnabled());
  EXPECT_FALSE(StopButton()->isVisible());
  for (const TSimSentDatagram& sent : network_->Sent()) EXPECT_LE(sent.Ttl, lastRequested);
}

TEST_F(MainWindowTest, CommandLineFillsTheBoxesAndTracesBeforeTheWindowShows) {
  Open(ThreeHops(), {"-h", "2", "-w", "1000", "target.test"});
  EXPECT_EQ(HostBox()->currentText(), "target.test");
  EXPECT_EQ(Limits(), Pair("2", "1000"));
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(window_->Form().OutGrid.RowCount(), 3);
  EXPECT_EQ(Cell(2, 1), "gw1.test");
}

TEST_F(MainWindowTest, CommandLineWithUnknownHostShowsTheBoxAtCreation) {
  Open(ThreeHops(), {"nowhere.test"});
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "Host not found: nowhere.test");
  EXPECT_TRUE(StartButton()->isVisible());
}

TEST_F(MainWindowTest, HistoryAndNameCacheSurviveARestart) {
  Open(ThreeHops());
  EXPECT_FALSE(std::filesystem::exists(files_.HistoryPath));
  SetHost("Target.test");
  QTest::mouseClick(StartButton(), Qt::LeftButton);
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(ReadFile(files_.HistoryPath), "Target.test\r\nlocalhost\r\n");
  EXPECT_FALSE(std::filesystem::exists(files_.CachePath));

  window_->close();  // FormClose saves the names found
  const std::string cache = ReadFile(files_.CachePath);
  // Probes beyond the destination answer too and may look its name up again,
  // so the record count varies; the names do not.
  ASSERT_EQ(cache.size() % 288, 0u);
  ASSERT_GE(cache.size(), 3u * 288u);
  std::set<std::string> cached;
  for (std::size_t offset = 0; offset < cache.size(); offset += 288) {
    const char* base = cache.data() + offset;
    const std::string address(base + 1, std::size_t(static_cast<unsigned char>(base[0])));
    const std::string name(base + 22, std::size_t(static_cast<unsigned char>(base[21])));
    cached.insert(address + "=" + name);
  }
  EXPECT_EQ(cached, (std::set<std::string>{"10.0.0.1=gw1.test", "10.0.0.2=10.0.0.2[no DNS]",
                                           "10.9.9.9=target.test"}));

  // A new window reads both: the list, and names without asking the resolver.
  window_.reset();
  Open(ThreeHops());
  ASSERT_EQ(HostBox()->count(), 2);
  EXPECT_EQ(HostBox()->itemText(0), "Target.test");
  EXPECT_EQ(HostBox()->currentText(), "Target.test");
  // Typed again in other letters: one entry, in the new letters.
  SetHost("TARGET.TEST");
  PressInHost(Qt::Key_Enter, Qt::KeypadModifier);
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(ReadFile(files_.HistoryPath), "TARGET.TEST\r\nlocalhost\r\n");
  EXPECT_EQ(Cell(2, 2), "10.0.0.2[no DNS]");
  for (const TSimLookup& lookup : network_->Lookups())
    EXPECT_EQ(lookup.Kind, TSimLookupKind::Forward) << lookup.Query;
}

TEST_F(MainWindowTest, HelpButtonOpensTheHelpPageInTheBrowserOrSaysThereIsNoOpener) {
  std::vector<QUrl> opened;
  bool desktopTakesIt = true;
  SetUrlOpener([&](const QUrl& url) {
    opened.push_back(url);
    return desktopTakesIt;
  });
  const std::string previous = HelpFile();
  SetHelpFile("/opt/quillon-test/help/index.html");
  Open(ThreeHops());
  QTest::mouseClick(Child<QToolButton>("SpeedButton1"), Qt::LeftButton);
  const std::size_t boxesWhenTaken = messages_.size();
  // Without xdg-open Qt answers false, and only writes a line to stderr.
  desktopTakesIt = false;
  QTest::mouseClick(Child<QToolButton>("SpeedButton1"), Qt::LeftButton);
  SetUrlOpener(nullptr);
  SetHelpFile(previous);
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[0], QUrl("file:///opt/quillon-test/help/index.html"));
  EXPECT_EQ(boxesWhenTaken, 0u);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_NE(messages_[0].find("xdg-utils"), std::string::npos) << messages_[0];
  EXPECT_NE(messages_[0].find("/opt/quillon-test/help/index.html"), std::string::npos);
  // A program run where it was built, as this test is, opens a page that exists
  // though nothing was installed.
  EXPECT_TRUE(std::filesystem::is_regular_file(BuiltInHelpFile())) << BuiltInHelpFile();
}

// Closing ends the process at once, though the run's probes still wait out
// three time-outs of 9 s at silent hops; the name cache is saved first. The
// window runs in a child process of this test, as in the program.
TEST_F(MainWindowTest, ClosingEndsTheProcessWhateverWorkersAreUnderWay) {
  const QString childDir = qEnvironmentVariable("QUILLON_CLOSING_CHILD");
  if (!childDir.isEmpty()) {
    files_.HistoryPath = childDir.toStdString() + "/quillon.hst";
    files_.CachePath = childDir.toStdString() + "/quillon.dnb";
    TMainWindow& window = Open(ThreeHops());
    SetHost("target.test");
    QTest::mouseClick(StartButton(), Qt::LeftButton);
    ASSERT_TRUE(WaitIdle());
    network_->Update([](TSimConfig& c) {
      for (TSimHop& hop : c.Route) hop = TSimHop::Silent(hop.Address);
    });
    SetLimits("30", "9000");
    const int sent = static_cast<int>(network_->Sent().size());
    QTest::mouseClick(StartButton(), Qt::LeftButton);
    ASSERT_TRUE(network_->WaitForSent(sent + 5, 5000));
    ASSERT_TRUE(window.Form().Running);
    ASSERT_TRUE(window.Form().ProbeSlotBusy());
    QTimer::singleShot(0, &window, [&window] { window.close(); });
    RunMainWindow(window);
    ADD_FAILURE() << "no worker was under way when the window closed";
    return;
  }

  QProcess child;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("QUILLON_CLOSING_CHILD", QString::fromStdString(dir_.string()));
  child.setProcessEnvironment(environment);
  child.setProcessChannelMode(QProcess::MergedChannels);
  child.start(QCoreApplication::applicationFilePath(),
              {"--gtest_filter=MainWindowTest.ClosingEndsTheProcessWhateverWorkersAreUnderWay"});
  // Well short of the 27 s the set-aside probes take.
  const bool ended = child.waitForFinished(15000);
  if (!ended) {
    child.kill();
    child.waitForFinished();
  }
  ASSERT_TRUE(ended) << "the process outlived its window\n" << child.readAll().toStdString();
  EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(child.exitCode(), 0) << child.readAll().toStdString();
  EXPECT_NE(ReadFile((dir_ / "quillon.dnb").string()), "") << "the name cache was not saved";
}

TEST_F(MainWindowTest, GridMenuRepeatsSwitchesViewsCopiesAndSaves) {
  TMainWindow& window = Open(ThreeHops());
  TOutGridWidget& grid = window.Grid();
  TTraceRouteForm& form = window.Form();
  const auto menuBy = [&](Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
    return OpenGridMenu([&] {
      if (key == Qt::Key_unknown) return RightClickGrid(grid.CellRect(1, 1).center());
      QTest::keyClick(&grid, key, modifiers);
    });
  };
  // Before a run there is nothing to copy or save.
  QMenu* menu = menuBy(Qt::Key_unknown);
  ASSERT_NE(menu, nullptr);
  QStringList items;
  for (QAction* action : menu->actions())
    if (!action->isSeparator()) items << action->text() + (action->isEnabled() ? "" : "-");
  EXPECT_EQ(items, QStringList({"Repeat until Stop", "Statistics", "Route", "Copy-", "Copy as CSV-",
                                QString::fromUtf8("Save as\u2026-"), "AS numbers", "ICMP probes",
                                "UDP probes", "TCP probes", "Port"}));
  SaveArtefact(*menu, "GridMenu.png");
  menu->hide();

  // Rounds a second apart until Stop, with a silent router at hop 2 whose
  // first-round attempts wait 3 x 2 s: the statistics view's Sent of hop 1
  // rises by one a second all the same.
  network_->Update([](TSimConfig& c) { c.Route[1] = TSimHop::Silent("10.0.0.2"); });
  SetLimits("30", "2000");
  SetHost("target.test");
  Choose(menuBy(Qt::Key_unknown), "Repeat until Stop");
  Choose(menuBy(Qt::Key_unknown), "Statistics");
  QElapsedTimer clock;
  ASSERT_TRUE(WaitUntil([&] { return Cell(3, 1) == "2"; })) << Describe();
  clock.start();
  ASSERT_TRUE(WaitUntil([&] { return Cell(3, 1) == "4"; })) << Describe();
  EXPECT_GE(clock.elapsed(), 1500) << "a round a second, not faster";
  EXPECT_FALSE(form.Hops[2].Filled) << "the silent hop's first round still waits";
  int rounds = 0;
  for (const TSimSentDatagram& sent : network_->Sent()) rounds += sent.Ttl == 1;
  QTest::mouseClick(StopButton(), Qt::LeftButton);
  ASSERT_TRUE(WaitIdle());

  // Shift+F10 and the menu key open the menu below the header row.
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  grid.setFocus();
  menu = menuBy(Qt::Key_F10, Qt::ShiftModifier);
  ASSERT_NE(menu, nullptr);
  QTest::keyClick(menu, Qt::Key_Escape);
  Choose(menuBy(Qt::Key_Menu), "Statistics");
  EXPECT_TRUE(menu->geometry().contains(grid.KeyboardMenuPos()));
  // The statistics view: more columns, all in the grid's width.
  const int lastCol = form.OutGrid.ColCount() - 1;
  ASSERT_GT(lastCol, 5);
  EXPECT_FALSE(grid.CellRect(lastCol, 0).isEmpty());
  EXPECT_LE(grid.CellRect(lastCol, 0).right(), grid.viewport()->width() - 1);
  EXPECT_EQ(Cell(3, 0) + "=" + Cell(3, 1), "Sent=" + std::to_string(rounds)) << Describe();
  SaveArtefact(window, "MainWindow-statistics.png");

  // Ctrl+C: the view as text under a line naming the target, read back; then
  // Copy as CSV.
  QClipboard* clipboard = QApplication::clipboard();
  clipboard->clear();
  QTest::keyClick(&grid, Qt::Key_C, Qt::ControlModifier);
  const std::string copied = clipboard->text().toStdString();
  EXPECT_EQ(copied, form.CopyText());
  EXPECT_EQ(copied.rfind("Target\ttarget.test\tAddress\t10.9.9.9\t", 0), 0u) << copied;
  EXPECT_NE(copied.find("\n1\tgw1.test\t"), std::string::npos) << copied;
  Choose(menuBy(Qt::Key_unknown), "Copy as CSV");
  EXPECT_EQ(clipboard->text().toStdString(), form.CopyCsvText());

  // Save as…, through the file dialog: a name without an extension takes the
  // type picked, a typed extension wins over it.
  for (const auto& [typed, saved] : {std::pair("route", "route.csv"), {"r.json", "r.json"}}) {
    WhenModal([&, typed = typed](QWidget* modal) {
      auto* dialog = qobject_cast<QFileDialog*>(modal);
      auto* name = dialog ? qobject_cast<QLineEdit*>(dialog->focusWidget()) : nullptr;
      if (!name || dialog->windowTitle() != "Save as") return modal->close(), void();
      dialog->selectNameFilter("CSV (*.csv)");
      dialog->setDirectory(QString::fromStdString(dir_.string()));
      name->clear();
      QTest::keyClicks(name, typed);
      QPushButton* save = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Save);
      WaitUntil([&] { return save->isEnabled(); }, 5000);
      save->click();
      // A dialog still up would hold the test for good.
      if (!WaitUntil([&] { return !dialog->isVisible(); }, 5000)) {
        ADD_FAILURE() << name->text().toStdString();
        dialog->reject();
      }
    });
    Choose(menuBy(Qt::Key_unknown), QString::fromUtf8("Save as\u2026"));
    EXPECT_TRUE(std::filesystem::exists(dir_ / saved)) << saved;
  }
  EXPECT_EQ(ReadFile((dir_ / "route.csv").string()), form.CopyCsvText());
  EXPECT_EQ(ReadFile((dir_ / "r.json").string()).rfind("{\n", 0), 0u);
  // A save that fails says why and leaves nothing behind.
  saveFileName_ = [this](int&) { return QString::fromStdString((dir_ / "no" / "r.csv").string()); };
  Choose(menuBy(Qt::Key_unknown), QString::fromUtf8("Save as\u2026"));
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_NE(errors_[0].find("r.csv"), std::string::npos) << errors_[0];
  EXPECT_FALSE(std::filesystem::exists(dir_ / "no"));

  // The tooltips carry the engine's hints: a second address at hop 1, and
  // hop 2 losing answers that hop 3 does not.
  UpdateHopStats(form.Stats[0], TProbeOutcome::poAnswered, 7, "10.0.0.7");
  for (int i = 0; i < 40; ++i) {
    UpdateHopStats(form.Stats[1], i % 2 ? TProbeOutcome::poAnswered : TProbeOutcome::poLost, 10);
    UpdateHopStats(form.Stats[2], TProbeOutcome::poAnswered, 20, "10.9.9.9");
  }
  form.SetGridView(TGridView::gvStatistics);
  EXPECT_TRUE(grid.ToolTipAt(grid.CellRect(1, 1).center()).contains("10.0.0.7"));
  const QPoint lossCell = grid.CellRect(2, 2).center();
  QHelpEvent hover(QEvent::ToolTip, lossCell, grid.viewport()->mapToGlobal(lossCell));
  QApplication::sendEvent(grid.viewport(), &hover);
  EXPECT_TRUE(QToolTip::text().contains(LossHereOnlyText)) << Describe();
  QToolTip::hideText();
  EXPECT_EQ(grid.ToolTipAt(grid.CellRect(2, 3).center()), "");
  Choose(menuBy(Qt::Key_unknown), "Route");
  EXPECT_EQ(form.OutGrid.ColCount(), 6);
}

TEST_F(MainWindowTest, GridMenuChoosesTheProbeMethodAndPortOfTheNextRuns) {
  TMainWindow& window = Open(ThreeHops());
  const auto menu = [&] {
    return OpenGridMenu([&] { RightClickGrid(window.Grid().CellRect(1, 1).center()); });
  };
  QMenu* ports = nullptr;
  for (QAction* action : window.GridMenu().actions())
    if (action->menu() != nullptr) ports = action->menu();
  ASSERT_NE(ports, nullptr);
  const auto choosePort = [&](const QString& caption) {
    Choose(menu(), "Port");
    ASSERT_TRUE(WaitUntil([&] { return ports->isVisible(); }, 5000));
    Choose(ports, caption);
  };
  // ICMP has no port to choose.
  menu();
  for (QAction* action : ports->actions())
    EXPECT_FALSE(action->isEnabled() && !action->isSeparator()) << Describe();

  Choose(menu(), "TCP probes");
  choosePort("443");
  SetHost("target.test");
  QTest::mouseClick(StartButton(), Qt::LeftButton);
  ASSERT_TRUE(WaitIdle());
  ASSERT_FALSE(network_->Sent().empty());
  for (const TSimSentDatagram& sent : network_->Sent()) {
    EXPECT_EQ(sent.Port, 443) << sent.Ttl;
    EXPECT_TRUE(sent.Bytes.empty()) << "a connect, no echo request";
  }
  EXPECT_EQ(Cell(1, 3), "10.9.9.9") << Describe();
  EXPECT_NE(window.Form().CopyText().find("Method\tTCP\tPort\t443"), std::string::npos);

  // "Other…" asks for the port; what is no port is refused and changes nothing.
  for (const char* typed : {"0", "8080"}) {
    WhenModal([typed](QWidget* modal) {
      auto* edit = modal->findChild<QLineEdit*>();
      if (edit == nullptr || modal->objectName() != "PortDialog") return modal->close(), void();
      edit->selectAll();
      QTest::keyClicks(edit, typed);
      QTest::keyClick(edit, Qt::Key_Return);
    });
    choosePort(QString::fromUtf8("Other\u2026"));
  }
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_NE(errors_[0].find("1 to 65535"), std::string::npos) << errors_[0];
  EXPECT_EQ(window.Form().ProbePort, 8080);
  // "AS numbers" is a check item of its own, beside the views' pair and the methods.
  Choose(menu(), "AS numbers");
  EXPECT_TRUE(window.Form().AsLookups);
  menu();
  QStringList checked;
  for (QAction* action : window.GridMenu().actions() + ports->actions())
    if (action->isChecked()) checked << action->text();
  EXPECT_EQ(checked, QStringList({"Route", "AS numbers", "TCP probes",
                                  QString::fromUtf8("Other (8080)\u2026")}));
  window.GridMenu().hide();
  Choose(menu(), "AS numbers");
  EXPECT_FALSE(window.Form().AsLookups);
}

}  // namespace
}  // namespace quillon::guitest
