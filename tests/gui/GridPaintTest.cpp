// What the grid control paints: the time bars counted in pixels, the fixed
// header row staying in place while the rows scroll, and IPv6 addresses whole.
#include <QFontMetrics>
#include <QHelpEvent>
#include <QImage>
#include <QScrollBar>
#include <QToolTip>
#include <algorithm>

#include "GuiFixture.h"
#include "support/HopRows.h"

namespace quillon::guitest {
namespace {

constexpr QRgb Red = qRgb(255, 0, 0);
constexpr QRgb LightRed = qRgb(255, 220, 220);

int CountPixels(const QImage& image, const QRect& area, QRgb colour) {
  int count = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if (image.pixel(x, y) == colour) ++count;
  return count;
}

// Length of the red run along the middle line of a bar cell, from its left edge.
int BarLength(const QImage& image, const QRect& cell) {
  const int y = cell.top() + cell.height() / 2;
  int length = 0;
  while (length < cell.width() && image.pixel(cell.left() + length, y) == Red) ++length;
  return length;
}

TEST_F(MainWindowTest, TimeBarsScaleToTheSlowestHop) {
  TMainWindow& window = Open(ThreeHops());
  // The largest time is 64 ms and the cell 96 pixels wide: 1.5 pixels a
  // millisecond, so odd times land on halves that round to the even length.
  ShowHops(window.Form(), {64, 32, 3, 1, 0, 5});
  TOutGridWidget& grid = window.Grid();
  const QImage image = grid.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(image.devicePixelRatio(), 1.0);

  const int expected[] = {96, 48, 4, 2, 2, 8};  // 3*1.5=4.5 -> 4, 5*1.5=7.5 -> 8, 0 drawn as 1
  for (int row = 1; row <= 6; ++row) {
    SCOPED_TRACE(row);
    const QRect cell = grid.CellRect(5, row);
    ASSERT_EQ(cell.width(), 96);
    ASSERT_EQ(cell.height(), 15);
    const int length = expected[row - 1];
    EXPECT_EQ(BarLength(image, cell), length);
    // The bar leaves two pixels above and below; the rest of the cell is the
    // light red background inside a white outline.
    EXPECT_EQ(CountPixels(image, cell, Red), length * (cell.height() - 4));
    // Inside the white outline the background is light red, except where the
    // bar covers it (its columns between the outline's two).
    const int interiorBarColumns = std::max(0, std::min(length, cell.width() - 1) - 1);
    EXPECT_EQ(CountPixels(image, cell, LightRed),
              (cell.width() - 2) * (cell.height() - 2) - interiorBarColumns * (cell.height() - 4));
    EXPECT_EQ(image.pixel(cell.left() + 1, cell.top() + 1), LightRed);
    EXPECT_EQ(image.pixel(cell.right(), cell.top()), qRgb(255, 255, 255));
  }
  // A 0 ms hop shows the bar of a 1 ms hop.
  EXPECT_EQ(BarLength(image, grid.CellRect(5, 5)), BarLength(image, grid.CellRect(5, 4)));
  // The header's chart cell is a text cell: white, no bar.
  EXPECT_EQ(CountPixels(image, grid.CellRect(5, 0), Red), 0);
  EXPECT_EQ(CountPixels(image, grid.CellRect(5, 0), LightRed), 0);
}

TEST_F(MainWindowTest, BarCellsShowOnlyTheirBackgroundWhenNoTimeIsAboveZero) {
  TMainWindow& window = Open(ThreeHops());
  ShowHops(window.Form(), {0, 0});
  const QImage image =
      window.Grid().viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  for (int row = 1; row <= 2; ++row) {
    const QRect cell = window.Grid().CellRect(5, row);
    EXPECT_EQ(CountPixels(image, cell, Red), 0);
    EXPECT_EQ(CountPixels(image, cell, LightRed), (cell.width() - 2) * (cell.height() - 2));
  }
}

TEST_F(MainWindowTest, HeaderRowStaysWhileRowsScroll) {
  TMainWindow& window = Open(ThreeHops());
  std::vector<std::uint32_t> times(60);
  for (std::size_t i = 0; i < times.size(); ++i) times[i] = static_cast<std::uint32_t>(i * 7 % 50);
  ShowHops(window.Form(), times);
  TOutGridWidget& grid = window.Grid();
  QScrollBar* scroll = grid.verticalScrollBar();
  ASSERT_GT(scroll->maximum(), 0);
  const QRect header = grid.CellRect(0, 0).united(grid.CellRect(5, 0));
  const QImage before = grid.viewport()->grab().toImage();
  const QRect firstRows = grid.CellRect(0, 1).united(grid.CellRect(5, 3));

  scroll->setValue(scroll->maximum());
  ASSERT_EQ(grid.TopRow(), 1 + scroll->maximum());
  EXPECT_TRUE(grid.CellRect(0, 1).isNull());
  EXPECT_FALSE(grid.CellRect(5, 60).isNull());
  const QImage after = grid.viewport()->grab().toImage();
  EXPECT_EQ(before.copy(header), after.copy(header));
  EXPECT_NE(before.copy(firstRows), after.copy(firstRows));
  // The last row is shown whole.
  EXPECT_LE(grid.CellRect(5, 60).bottom(), grid.viewport()->height() - 1);
}

TEST_F(MainWindowTest, Ipv6AddressesAreShownWholeAndCutCellsGiveTheirTextAsTooltip) {
  TMainWindow& window = Open(ThreeHops());
  TOutGridWidget& grid = window.Grid();
  ShowHops(window.Form(), {5, 10, 20}, {"10.0.0.1", "255.255.255.255", "Unknown Ip"});
  EXPECT_EQ(grid.CellRect(1, 1).width(), 90) << "an IPv4 route keeps the design";
  EXPECT_EQ(grid.CellRect(2, 1).width(), 191);

  const std::vector<std::string> addresses = {
      "fe80::1%eth0", "2001:2:0:1::1", "2001:db8:aaaa:bbbb:cccc:dddd:eeee:ffff",
      "Unknown Ip",   "2001:2:0:4::2", "2001:2:0:5::9"};
  const std::string longName = "a-host-name-far-longer-than-its-cell.lab.example";
  ShowHops(window.Form(), {1, 3, 8, 12, 15, 20, 21}, addresses,
           {"gw.lab.example", "r2.lab.example", "r3.lab.example", "Unknown Host", longName,
            "target.lab.example"});
  const int widest = grid.CellRect(1, 1).width();
  EXPECT_EQ(widest + grid.CellRect(2, 1).width() + grid.CellRect(5, 1).width(), 90 + 191 + 96)
      << "the grid keeps its width";
  const QFontMetrics metrics(grid.font());
  for (int row = 1; row <= 6; ++row) {
    SCOPED_TRACE(row);
    const QRect address = grid.CellRect(1, row);
    EXPECT_EQ(address.width(), widest);
    const QString text = QString::fromStdString(addresses[std::size_t(row - 1)]);
    EXPECT_LE(2 + metrics.horizontalAdvance(text), address.width()) << "shown whole";
    EXPECT_EQ(grid.ToolTipAt(address.center()), "") << "nothing more to show";
  }
  const QRect cut = grid.CellRect(2, 5);
  ASSERT_GT(2 + metrics.horizontalAdvance(QString::fromStdString(longName)), cut.width());
  EXPECT_EQ(grid.ToolTipAt(cut.center()).toStdString(), longName);
  // Resting the mouse there shows it.
  QHelpEvent hover(QEvent::ToolTip, cut.center(), grid.viewport()->mapToGlobal(cut.center()));
  QApplication::sendEvent(grid.viewport(), &hover);
  EXPECT_EQ(QToolTip::text().toStdString(), longName);
  QToolTip::hideText();
  EXPECT_EQ(grid.ToolTipAt(grid.CellRect(2, 1).center()), "");
  SaveArtefact(window, "MainWindow-ipv6.png");
}

}  // namespace
}  // namespace quillon::guitest
