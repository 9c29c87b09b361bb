#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/RecordingView.h"
#include "support/SimulatedNetwork.h"
#include "trace/GridLayout.h"
#include "trace/TimeBar.h"
#include "trace/TraceRouteForm.h"

namespace quillon {
namespace {

// Writes every canvas call as one line, so a cell's drawing compares as a list.
class RecordingCanvas : public TCanvas {
 public:
  void SetPenColor(TColor c) override { calls.push_back("pen " + Name(c)); }
  void SetBrushColor(TColor c) override { calls.push_back("brush " + Name(c)); }
  void Rectangle(const TRect& r) override { calls.push_back("rectangle " + Text(r)); }
  void FillRect(const TRect& r) override { calls.push_back("fill " + Text(r)); }
  void TextOut(int x, int y, const std::string& text) override {
    calls.push_back("text " + std::to_string(x) + "," + std::to_string(y) + " " + text);
  }
  std::vector<std::string> calls;

 private:
  static std::string Name(TColor c) {
    if (c == clWhite) return "white";
    if (c == clLightRed) return "lightred";
    if (c == clRed) return "red";
    return "other";
  }
  static std::string Text(const TRect& r) {
    return std::to_string(r.Left) + "," + std::to_string(r.Top) + "-" + std::to_string(r.Right) +
           "," + std::to_string(r.Bottom);
  }
};

class Grid : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallSimulatedNetwork();
    form_ = std::make_unique<TTraceRouteForm>(&view_, TFormFiles{});
  }

  void Fill(int hop, const std::string& address, std::uint32_t time) {
    THopEntry& e = form_->Hops[static_cast<std::size_t>(hop)];
    e.Address = address;
    e.HostName = address.empty() ? "" : "host-" + address;
    e.HopNo = hop;
    e.Time = time;
    e.Filled = true;
  }

  std::vector<std::string> Draw(int col, int row, const TRect& rect) {
    RecordingCanvas canvas;
    form_->OutGridDrawCell(canvas, col, row, rect);
    return canvas.calls;
  }

  std::vector<std::string> Row(int row) const {
    std::vector<std::string> cells;
    for (int col = 0; col < form_->OutGrid.ColCount(); ++col) {
      cells.push_back(form_->OutGrid.Cell(col, row));
    }
    return cells;
  }

  TRecordingView view_;
  std::unique_ptr<TTraceRouteForm> form_;
};

using Cells = std::vector<std::string>;

TEST_F(Grid, ResetShowsHeadersAndOneEmptyRowAndClearsTheHopTable) {
  Fill(1, "10.0.0.1", 7);
  Fill(500, "10.0.0.5", 9);
  form_->OutGrid.SetRowCount(40);
  const int before = view_.GridChanges;
  form_->ResetGrid();
  EXPECT_EQ(form_->OutGrid.ColCount(), 6);
  EXPECT_EQ(form_->OutGrid.RowCount(), 2);
  EXPECT_EQ(Row(0), (Cells{"No", "Ip Address", "HostName", "Time", "TTL", "Time Chart"}));
  EXPECT_EQ(Row(1), (Cells{"1", "", "", "", "", ""}));
  for (const int hop : {1, 500}) {
    const THopEntry& e = form_->Hops[static_cast<std::size_t>(hop)];
    EXPECT_FALSE(e.Filled);
    EXPECT_EQ(e.Address, "");
    // The other fields stay; nothing reads them until the entry is filled again.
    EXPECT_EQ(e.HostName, hop == 1 ? "host-10.0.0.1" : "host-10.0.0.5");
    EXPECT_EQ(e.HopNo, hop);
  }
  EXPECT_GT(view_.GridChanges, before);
}

TEST_F(Grid, NoAnsweringHopMarksTheCornerAndKeepsTheRows) {
  form_->ResetGrid();
  Fill(1, "", 3);  // silent hops recorded, none answering yet
  Fill(2, "", 3);
  form_->RefreshGrid();
  EXPECT_EQ(form_->OutGrid.Cell(0, 0), "*");
  EXPECT_EQ(form_->OutGrid.RowCount(), 2);
  EXPECT_EQ(Row(1), (Cells{"1", "", "", "", "", ""}));

  // The first answering hop shows every row up to it, silent ones included.
  Fill(3, "10.0.0.3", 12);
  form_->HighestAnsweringHop = 3;
  form_->RefreshGrid();
  EXPECT_EQ(form_->OutGrid.RowCount(), 4);
  EXPECT_EQ(Row(1), (Cells{"1", "", "", "3", "1", ""}));
  EXPECT_EQ(Row(3), (Cells{"3", "10.0.0.3", "host-10.0.0.3", "12", "3", ""}));
  EXPECT_EQ(form_->OutGrid.Cell(0, 0), "*");  // only a reset brings "No" back
}

TEST_F(Grid, RowsFollowTheRouteLength) {
  form_->ResetGrid();
  for (int hop = 1; hop <= 6; ++hop) Fill(hop, "10.0.0." + std::to_string(hop), 1);
  form_->Hops[4].Filled = false;
  form_->HighestAnsweringHop = 6;
  form_->RefreshGrid();
  EXPECT_EQ(form_->OutGrid.RowCount(), 7);
  EXPECT_EQ(Row(4), (Cells{"4", "", "", "", "", ""}));
  EXPECT_EQ(form_->OutGrid.Cell(0, 0), "No");

  form_->RouteEndFound = true;
  form_->RouteLength = 2;
  form_->RefreshGrid();
  EXPECT_EQ(form_->OutGrid.RowCount(), 3);
  EXPECT_EQ(form_->OutGrid.Cell(1, 3), "");

  form_->RouteLength = 0;  // route end known with no hop: nothing to show
  form_->RefreshGrid();
  EXPECT_EQ(form_->OutGrid.RowCount(), 3);
  EXPECT_EQ(form_->OutGrid.Cell(0, 0), "*");
}

TEST_F(Grid, TimeStatsCountEveryTimeTextAndTakeTheLargest) {
  form_->ResetGrid();
  Fill(1, "10.0.0.1", 4000000000u);  // above 32 bits signed: counts as 0
  Fill(2, "Unknown Ip", 30);         // unknown hops count too
  Fill(3, "10.0.0.3", 0);
  form_->HighestAnsweringHop = 4;  // entry 4 not filled: no Time text
  form_->RefreshGrid();
  EXPECT_EQ(form_->TimeCount, 3);
  EXPECT_EQ(form_->TimeMax, 30);

  form_->OutGrid.SetCell(3, 4, " \t ");   // blank: not counted
  form_->OutGrid.SetCell(3, 3, "x");      // no number: counted as 0
  form_->OutGrid.SetCell(3, 2, "  $2A");  // leading blanks and hexadecimal convert
  form_->ComputeTimeStats();
  EXPECT_EQ(form_->TimeCount, 3);
  EXPECT_EQ(form_->TimeMax, 42);

  // A reset leaves the figures for the next refresh.
  form_->ResetGrid();
  EXPECT_EQ(form_->TimeCount, 3);
  EXPECT_EQ(form_->TimeMax, 42);
}

TEST_F(Grid, TextCellsArePaintedWhiteWithTheTextInset) {
  form_->ResetGrid();
  const std::string longName(300, 'n');
  Fill(1, "10.0.0.1", 5);
  form_->Hops[1].HostName = longName;
  form_->HighestAnsweringHop = 1;
  form_->RefreshGrid();
  const TRect rect{26, 16, 116, 31};
  const Cells text = {"pen white", "brush white", "rectangle 26,16-116,31", "text 28,18 "};
  EXPECT_EQ(Draw(1, 1, rect), (Cells{text[0], text[1], text[2], text[3] + "10.0.0.1"}));
  // Drawn in full: no cut to the cell, no ellipsis.
  EXPECT_EQ(Draw(2, 1, rect), (Cells{text[0], text[1], text[2], text[3] + longName}));
  // Headers and the fixed column look like every other cell; the bar column's
  // header is text.
  EXPECT_EQ(Draw(5, 0, rect), (Cells{text[0], text[1], text[2], text[3] + "Time Chart"}));
  EXPECT_EQ(Draw(0, 1, rect), (Cells{text[0], text[1], text[2], text[3] + "1"}));
}

TEST_F(Grid, BarsScaleToTheLargestTime) {
  form_->ResetGrid();
  Fill(1, "10.0.0.1", 40);  // largest
  Fill(2, "10.0.0.2", 10);  // 98 * 10 / 40 = 24.5: to 24
  Fill(3, "10.0.0.3", 30);  // 73.5: to 74
  Fill(4, "10.0.0.4", 0);   // as 1: 2.45, to 2
  Fill(5, "10.0.0.5", 1);
  form_->HighestAnsweringHop = 6;  // row 6 has no time: a text cell
  form_->RefreshGrid();
  ASSERT_EQ(form_->TimeMax, 40);
  const TRect rect{355, 100, 453, 115};  // 98 wide
  const Cells background = {"pen white", "brush lightred", "rectangle 355,100-453,115", "pen red",
                            "brush red"};
  auto bar = [&](int right) {
    Cells calls = background;
    calls.push_back("rectangle 355,102-" + std::to_string(right) + ",113");
    return calls;
  };
  EXPECT_EQ(Draw(5, 1, rect), bar(453));  // the full cell width
  EXPECT_EQ(Draw(5, 2, rect), bar(355 + 24));
  EXPECT_EQ(Draw(5, 3, rect), bar(355 + 74));
  EXPECT_EQ(Draw(5, 4, rect), bar(355 + 2));
  EXPECT_EQ(Draw(5, 4, rect), Draw(5, 5, rect));  // 0 ms looks like 1 ms
  EXPECT_EQ(Draw(5, 6, rect),
            (Cells{"pen white", "brush white", "rectangle 355,100-453,115", "text 357,102 "}));
}

TEST_F(Grid, BarCellsShowOnlyTheirBackgroundWithoutAPositiveLargestTime) {
  form_->ResetGrid();
  Fill(1, "10.0.0.1", 0);
  Fill(2, "10.0.0.2", 0);
  form_->HighestAnsweringHop = 2;
  form_->RefreshGrid();
  ASSERT_EQ(form_->TimeMax, 0);
  ASSERT_EQ(form_->TimeCount, 2);
  const TRect rect{0, 0, 96, 15};
  const Cells background = {"pen white", "brush lightred", "rectangle 0,0-96,15", "pen red",
                            "brush red"};
  EXPECT_EQ(Draw(5, 1, rect), background);
}

// Both windows size the columns through GridColWidths with their own font; a
// font of 6 pixels a character stands in for them here.
TEST_F(Grid, Ipv6AddressesTakeTheWidthTheHostNameColumnCanSpare) {
  const TTextWidth sixEach = [](const std::string& text) {
    return 6 * static_cast<int>(text.size());
  };
  const auto widthsFor = [&](const std::vector<std::string>& addresses) {
    form_->ResetGrid();
    for (std::size_t i = 0; i < addresses.size(); ++i) {
      Fill(static_cast<int>(i) + 1, addresses[i], 1);
    }
    form_->HighestAnsweringHop = static_cast<int>(addresses.size());
    form_->RefreshGrid();
    return GridColWidths(form_->OutGrid, sixEach);
  };
  const TGridLayout::TColWidths design = {26, 90, 191, 40, 32, 96};
  // An IPv4 route keeps the design, even where a text would want more.
  EXPECT_EQ(widthsFor({"10.0.0.1", "255.255.255.255"}), design);
  EXPECT_EQ(widthsFor({"Unknown Ip"}), design);
  // 2 + 14 * 6 + 2 = 88: a short IPv6 route needs no more than the design.
  EXPECT_EQ(widthsFor({"2001:db8::1", "2001:db8::22"}), design);
  // The longest address decides; the two columns share the design's 281 pixels.
  const std::string longest = "2001:db8:1:2:3:4:5:6";  // 20 characters: 124 pixels
  EXPECT_EQ(widthsFor({"10.0.0.1", "Unknown Ip", longest, "fe80::1%eth0"}),
            (TGridLayout::TColWidths{26, 124, 157, 40, 32, 96}));
  // Then the time chart gives its share; the grid keeps its width.
  const std::string wider = std::string(30, '2') + ":1";  // 196 pixels: 95 + 11 more
  EXPECT_EQ(widthsFor({wider}), (TGridLayout::TColWidths{26, 196, 96, 40, 32, 85}));
  // Beyond both shares the address is cut and shown whole as the cell's tooltip.
  const std::string widest = "2001:db8:aaaa:bbbb:cccc:dddd:eeee:ffff%eth0";
  const auto widths = widthsFor({"2001:db8::1", widest});
  EXPECT_EQ(widths, (TGridLayout::TColWidths{26, 90 + 95 + 48, MinHostNameColWidth, 40, 32,
                                             MinTimeChartColWidth}));
  const auto cut = [&](const TGridLayout& at, int x, int y) {
    return CutCellText(form_->OutGrid, at, x, y, sixEach);
  };
  const TGridLayout layout(6, 3, 481, 100, 0, 0, widths);
  const int addressX = 26 + 1 + 5;
  const int rowY = 2 * 16 + 3;  // row 2, below the header row and row 1 with their lines
  EXPECT_EQ(cut(layout, addressX, rowY), widest);
  EXPECT_EQ(cut(layout, addressX, rowY - 16), "") << "an address shown whole has no tooltip";
  // The line right of a cell belongs to it; the host name "host-" + address is cut too.
  EXPECT_EQ(cut(layout, 26 + 1 + widths[1], rowY), widest);
  EXPECT_EQ(cut(layout, 26 + 1 + widths[1] + 1, rowY), "host-" + widest);
  EXPECT_EQ(cut(layout, 5, rowY), "") << "the row number";
  EXPECT_EQ(cut(layout, addressX, 3 * 16 + 3), "") << "below the last row";
  // Scrolled 40 pixels to the left, the same point shows the cell further right.
  const TGridLayout scrolled(6, 3, 481, 100, 0, 40, widths);
  EXPECT_EQ(cut(scrolled, 26 + 1 + widths[1] - 40 + 1, rowY), "host-" + widest);
}

TEST(TimeBar, LengthRule) {
  EXPECT_EQ(TimeBarLength(40, 96, 3, 40), 96);
  EXPECT_EQ(TimeBarLength(20, 96, 3, 40), 48);
  EXPECT_EQ(TimeBarLength(1, 5, 1, 2), 2);      // 2.5 to 2
  EXPECT_EQ(TimeBarLength(3, 5, 1, 6), 2);      // 2.5 to 2
  EXPECT_EQ(TimeBarLength(3, 5, 1, 2), 8);      // 7.5 to 8
  EXPECT_EQ(TimeBarLength(0, 96, 1, 96), 1);    // 0 drawn as 1
  EXPECT_EQ(TimeBarLength(1, 96, 1, 1000), 0);  // a real, empty bar
  EXPECT_EQ(TimeBarLength(5, 96, 0, 40), -1);   // no times counted
  EXPECT_EQ(TimeBarLength(5, 96, 2, 0), -1);    // largest time 0
  EXPECT_EQ(TimeBarLength(5, 96, 2, -3), -1);
  EXPECT_EQ(TimeCellValue("17"), 17);
  EXPECT_EQ(TimeCellValue("4000000000"), 0);
  EXPECT_EQ(TimeCellValue(""), 0);
}

}  // namespace
}  // namespace quillon
