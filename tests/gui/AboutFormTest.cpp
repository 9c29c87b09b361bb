// The About window: its product line, its layout, the link and the Ok button,
// opened through the main window's About button.
#include <QLabel>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>

#include "GuiFixture.h"
#include "gui/AboutForm.h"
#include "gui/Shell.h"
#include "platform/FileVersion.h"

namespace quillon::guitest {
namespace {

TEST(AboutForm, ShowsTheExecutablesVersionAndTheDesignedLayout) {
  TAboutFrm about;
  EXPECT_FALSE(about.isVisible());
  EXPECT_EQ(about.windowTitle(), "About");
  EXPECT_EQ(about.size(), QSize(307, 330));
  auto* label1 = about.findChild<QLabel*>("Label1");
  ASSERT_NE(label1, nullptr);
  // The version block this executable carries, read back from its own file.
  EXPECT_EQ(ReadFileVersion(), "0.8.0.0");
  EXPECT_EQ(label1->text(), "Free Quillon ( Version 0.8.0.0 )");
  EXPECT_EQ(label1->geometry(), QRect(11, 16, 270, 17));

  auto* memo = about.findChild<QTextEdit*>("Memo1");
  ASSERT_NE(memo, nullptr);
  EXPECT_TRUE(memo->isReadOnly());
  EXPECT_EQ(memo->geometry(), QRect(11, 48, 273, 145));
  EXPECT_EQ(memo->toPlainText().split('\n').size(), 6);

  auto* staticText = about.findChild<QLabel*>("StaticText1");
  ASSERT_NE(staticText, nullptr);
  EXPECT_EQ(staticText->text(), "Check for newer versions at ");
  EXPECT_EQ(staticText->parentWidget()->geometry(), QRect(11, 208, 273, 41));
  auto* link = about.findChild<QLabel*>("Label2");
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(link->text(), QString::fromLatin1(MakerWebAddress));
  EXPECT_EQ(link->geometry(), QRect(3, 16, 265, 17));
  EXPECT_TRUE(link->font().underline());
  auto* ok = about.findChild<QPushButton*>("Button1");
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->text(), "Ok");
  EXPECT_EQ(ok->geometry(), QRect(104, 264, 75, 25));
}

TEST(AboutForm, LinkOpensTheHomePageInTheBrowser) {
  std::vector<QUrl> opened;
  SetUrlOpener([&opened](const QUrl& url) {
    opened.push_back(url);
    return true;
  });
  TAboutFrm about;
  about.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
  auto* link = about.findChild<QLabel*>("Label2");
  QTest::mouseClick(link, Qt::LeftButton);
  // A press that leaves the link before release opens nothing.
  QTest::mousePress(link, Qt::LeftButton);
  QTest::mouseRelease(link, Qt::LeftButton, {}, QPoint(-5, -5));
  SetUrlOpener(nullptr);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], QUrl("https://quillon.example.org/"));
}

TEST(AboutForm, OpenerFailureIsNotReported) {
  SetUrlOpener([](const QUrl&) -> bool { throw std::runtime_error("no browser"); });
  EXPECT_NO_THROW(OpenWebAddress(MakerWebAddress));
  SetUrlOpener([](const QUrl&) { return false; });
  EXPECT_NO_THROW(OpenWebAddress(MakerWebAddress));
  SetUrlOpener(nullptr);
}

// The caption the desktop shows: on X the window's name property, which the
// toolkit may have added to; elsewhere the window's own title.
std::string ShownCaption(QWidget& window) {
  if (QGuiApplication::platformName() != "xcb") return window.windowTitle().toStdString();
  QProcess xprop;
  xprop.start("xprop", {"-id", QString::number(window.winId()), "_NET_WM_NAME"});
  if (!xprop.waitForFinished(5000)) return "(xprop did not answer)";
  // _NET_WM_NAME(UTF8_STRING) = "About"
  const QString text = QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
  return text.section('"', 1, -2).toStdString();
}

TEST_F(MainWindowTest, AboutButtonShowsTheWindowModallyOverTheMainWindow) {
  TMainWindow& window = Open(ThreeHops());
  TAboutFrm about(&window);
  window.SetAboutForm(&about);
  bool wasModal = false;
  QPoint centre;
  for (int round = 0; round < 2; ++round) {
    QTimer::singleShot(0, [&] {
      wasModal = QApplication::activeModalWidget() == &about;
      EXPECT_TRUE(WaitFramed(about, QSize(307, 330)))
          << about.frameGeometry().width() << "x" << about.frameGeometry().height();
      EXPECT_EQ(ShownCaption(about), "About");
      SaveArtefact(about, "AboutFrm.png");
      centre = about.frameGeometry().center();
      QTest::mouseClick(about.findChild<QPushButton*>("Button1"), Qt::LeftButton);
    });
    QTest::mouseClick(Child<QToolButton>("SpeedButton2"), Qt::LeftButton);
    // Back here only after Ok closed it; the same window shows again next time.
    EXPECT_TRUE(wasModal);
    EXPECT_FALSE(about.isVisible());
    EXPECT_LE((centre - window.frameGeometry().center()).manhattanLength(), 1);
  }
}

}  // namespace
}  // namespace quillon::guitest
