// The terminal's tables are made from the grid's cell texts: every row,
// filled or not, the time bars scaled as the window scales them, and names from
// the network never printed raw.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "cli/HopTable.h"
#include "cli/TerminalText.h"
#include "support/PlainTable.h"
#include "support/SimulatedNetwork.h"
#include "trace/TimeBar.h"
#include "trace/TraceRouteForm.h"

namespace quillon {
namespace {

struct Row {
  std::string Address, Host, Time, Ttl;
};

// A grid as the engine leaves it: header row, then rows numbered 1.. with the
// given texts (an empty address means an unfilled row).
THopGrid MakeGrid(const std::vector<Row>& rows) {
  THopGrid grid;
  grid.SetColCount(6);
  grid.SetRowCount(static_cast<int>(rows.size()) + 1);
  const char* headers[] = {"No", "Ip Address", "HostName", "Time", "TTL", "Time Chart"};
  for (int col = 0; col < 6; ++col) grid.SetCell(col, 0, headers[col]);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const int r = static_cast<int>(i) + 1;
    grid.SetCell(0, r, std::to_string(r));
    grid.SetCell(1, r, rows[i].Address);
    grid.SetCell(2, r, rows[i].Host);
    grid.SetCell(3, r, rows[i].Time);
    grid.SetCell(4, r, rows[i].Ttl);
  }
  return grid;
}

TTraceSnapshot Snap(const THopGrid& grid, int timeCount, int timeMax) {
  TTraceSnapshot s;
  s.Grid = &grid;
  s.TimeCount = timeCount;
  s.TimeMax = timeMax;
  s.Target = "target.test";
  s.Address = "10.9.9.9";
  s.RouteEndFound = true;
  s.RouteLength = 4;
  return s;
}

const std::vector<Row> Route = {{"10.0.0.1", "gw.test", "3", "1"},
                                {"Unknown Ip", "Unknown Host", "300", "2"},
                                {"", "", "", ""},
                                {"10.9.9.9", "10.9.9.9[no DNS]", "12", "4"}};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  for (std::size_t nl; (nl = text.find('\n', from)) != std::string::npos; from = nl + 1) {
    lines.push_back(text.substr(from, nl - from));
  }
  EXPECT_EQ(from, text.size()) << "every line ends with a newline";
  return lines;
}

TEST(PlainTable, OneLinePerRowWithEveryCell) {
  const THopGrid grid = MakeGrid(Route);
  const std::string text = RenderPlainTable(Snap(grid, 3, 300));
  const auto lines = Lines(text);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(text.find('\x1b'), std::string::npos);
  const std::string& header = lines[0];
  EXPECT_EQ(
      PlainTableCells(header, header),
      (std::vector<std::string>{"No", "Ip Address", "HostName", "Time", "TTL", "Time Chart"}));
  EXPECT_EQ(PlainTableCells(header, lines[1]),
            (std::vector<std::string>{"1", "10.0.0.1", "gw.test", "3", "1", ""}))
      << "3 of 300 ms in 20 characters rounds to no bar";
  EXPECT_EQ(PlainTableCells(header, lines[2]),
            (std::vector<std::string>{"2", "Unknown Ip", "Unknown Host", "300", "2",
                                      std::string(20, '#')}));
  EXPECT_EQ(lines[3], " 3") << "an unfilled row shows only its number";
  EXPECT_EQ(PlainTableCells(header, lines[4]),
            (std::vector<std::string>{"4", "10.9.9.9", "10.9.9.9[no DNS]", "12", "4", "#"}));
}

TEST(PlainTable, WithAsLookupsAnAsColumnFollowsTheAddress) {
  const THopGrid grid = MakeGrid(Route);
  TTraceSnapshot snap = Snap(grid, 3, 300);
  snap.AsCells = {"AS64501", "", "", "AS64501/AS64502"};
  const auto lines = Lines(RenderPlainTable(snap));
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(PlainTableCells(lines[0], lines[4]),
            (std::vector<std::string>{"4", "10.9.9.9", "AS64501/AS64502", "10.9.9.9[no DNS]", "12",
                                      "4", "#"}));
  for (const std::string& line : RenderLiveTable(snap, TTableStyle{60, true, false}))
    EXPECT_LT(DisplayWidth(line), 60) << line;

  TReportSnapshot report;
  report.AsLookups = true;
  report.Hops.resize(2);
  report.Hops[0].As = THopAs{{{64501, 64502}, "198.18.2.0/24", "ZZ", "lab", ""}, {"A", "B"}};
  const auto stats = RenderStatisticsLines(report, 0);
  EXPECT_EQ(stats[0].rfind("No  AS", 0), 0u) << stats[0];
  EXPECT_EQ(stats[1].rfind(" 1  AS64501/AS64502", 0), 0u) << stats[1];
}

TEST(PlainTable, NamesAreNeverPrintedRaw) {
  const THopGrid grid = MakeGrid({{"10.0.0.1", "\x1b]0;owned\x07\x1b[2Jx\ny", "1", "1"}});
  const std::string text = RenderPlainTable(Snap(grid, 1, 1));
  EXPECT_EQ(text.find('\x1b'), std::string::npos);
  EXPECT_EQ(text.find('\x07'), std::string::npos);
  EXPECT_EQ(Lines(text).size(), 2u) << "a newline in a name does not make a row";
  EXPECT_NE(text.find("\u241b]0;owned\u2407\u241b[2Jx\u240ay"), std::string::npos);
}

// Columns of the live table, without the escape sequences of colour.
int VisibleWidth(const std::string& line) {
  return DisplayWidth(std::regex_replace(line, std::regex("\x1b\\[[0-9;]*m"), ""));
}

TEST(LiveTable, LinesFitTheTerminalAndBarsUseEighths) {
  const THopGrid grid = MakeGrid({{"10.0.0.1", std::string(200, 'n'), "100", "1"},
                                  {"10.0.0.2", "b", "37", "2"},
                                  {"10.0.0.3", "c", "0", "3"}});
  const TTraceSnapshot s = Snap(grid, 3, 100);
  for (int columns : {20, 40, 60, 80, 132, 250}) {
    TTableStyle style;
    style.Columns = columns;
    style.Color = true;
    const auto lines = RenderLiveTable(s, style);
    ASSERT_EQ(lines.size(), 4u);
    for (const auto& line : lines) {
      EXPECT_LT(VisibleWidth(line), columns) << columns << ": " << line;
    }
  }
  // The bar of the largest time fills its cell; 37 of 100 in a 20-character cell
  // is 59.2 eighths, drawn as 7 full blocks and 3 eighths.
  EXPECT_EQ(TimeBarText(s, 1, 20, true), [] {
    std::string full;
    for (int i = 0; i < 20; ++i) full += "\u2588";
    return full;
  }());
  EXPECT_EQ(TimeBarText(s, 2, 20, true), "\u2588\u2588\u2588\u2588\u2588\u2588\u2588\u258d");
  EXPECT_EQ(TimeBarText(s, 3, 20, true), "\u258e") << "0 ms is drawn as 1 ms: 1.6 eighths -> 2";
}

TEST(LiveTable, NoBarWithoutTimesAndNoEscapesWithoutColour) {
  const THopGrid grid = MakeGrid({{"10.0.0.1", "\x1b[31mx", "0", "1"}, {"", "", "", ""}});
  const TTraceSnapshot s = Snap(grid, 1, 0);
  EXPECT_EQ(TimeBarText(s, 1, 20, true), "") << "largest time 0: background only";
  EXPECT_EQ(TimeBarText(s, 2, 20, true), "") << "no time";
  EXPECT_EQ(TimeBarText(s, 9, 20, true), "") << "no such row";
  TTableStyle plain;
  plain.Color = false;
  for (const auto& line : RenderLiveTable(s, plain)) {
    EXPECT_EQ(line.find('\x1b'), std::string::npos) << line;
  }
}

TEST(LiveTable, TheAddressColumnWidensToTheRoutesLongestAddress) {
  const std::string longest = "2001:db8:aaaa:bbbb:cccc:dddd:eeee:ffff";  // 38
  const THopGrid six = MakeGrid({{"fe80::1%eth0", "gw.test", "1", "1"},
                                 {"Unknown Ip", "lost.test", "2", "2"},
                                 {longest, "far.test", "3", "3"}});
  const THopGrid four = MakeGrid(Route);
  for (int columns : {80, 132}) {
    TTableStyle style;
    style.Columns = columns;
    const auto lines = RenderLiveTable(Snap(six, 3, 3), style);
    ASSERT_EQ(lines.size(), 4u);
    // The host name starts after the number and the address, two blanks after each.
    const std::size_t hostAt = 3 + 2 + longest.size() + 2;
    EXPECT_EQ(lines[1].find("fe80::1%eth0"), 5u) << lines[1];
    EXPECT_EQ(lines[1].find("gw.test"), hostAt) << lines[1];
    EXPECT_EQ(lines[2].find("lost.test"), hostAt) << lines[2];
    EXPECT_EQ(lines[3].find(longest + "  far.test"), 5u) << lines[3];
    for (const auto& line : lines) EXPECT_LT(VisibleWidth(line), columns) << line;
    // An IPv4 route keeps the 15 characters of a dotted address.
    const auto old = RenderLiveTable(Snap(four, 3, 300), style);
    EXPECT_EQ(old[1].find("gw.test"), 3u + 2 + 15 + 2) << old[1];
    EXPECT_EQ(old[0].find("HostName"), 3u + 2 + 15 + 2) << old[0];
  }
  // The final plain table carries the text whole as well.
  const std::string plain = RenderPlainTable(Snap(six, 3, 3));
  EXPECT_NE(plain.find(longest + "  far.test"), std::string::npos) << plain;
}

// The window's bar and the terminal's come from the same scaling: for the same
// times and the same width (pixels there, characters or eighths here) they have
// the same length.
class RecordingCanvas : public TCanvas {
 public:
  void SetPenColor(TColor) override {}
  void SetBrushColor(TColor color) override { brush_ = color; }
  void Rectangle(const TRect& rect) override {
    if (brush_ == clRed) Bar = rect;
  }
  void FillRect(const TRect&) override {}
  void TextOut(int, int, const std::string&) override {}
  TRect Bar{-1, -1, -1, -1};

 private:
  TColor brush_;
};

TEST(SharedBarScale, TerminalBarsMatchTheWindowsBars) {
  InstallSimulatedNetwork({});
  TTraceRouteForm form(nullptr, {"/nonexistent/q.hst", "/nonexistent/q.dnb"});
  form.ResetGrid();
  const std::vector<std::uint32_t> times = {0, 1, 5, 49, 50, 51, 99, 100, 333, 1000, 4999};
  form.OutGrid.SetRowCount(static_cast<int>(times.size()) + 1);
  for (std::size_t i = 0; i < times.size(); ++i) {
    const int row = static_cast<int>(i) + 1;
    form.OutGrid.SetCell(0, row, std::to_string(row));
    form.OutGrid.SetCell(1, row, "10.0.0.1");
    form.OutGrid.SetCell(3, row, std::to_string(times[i]));
  }
  form.ComputeTimeStats();
  const TTraceSnapshot s = SnapshotOf(form);
  ASSERT_EQ(s.TimeMax, 4999);
  for (int width : {7, 20, 96, 160, 333}) {
    for (int row = 1; row <= static_cast<int>(times.size()); ++row) {
      RecordingCanvas canvas;
      form.OutGridDrawCell(canvas, 5, row, {10, 0, 10 + width, 15});
      const int windowLength = canvas.Bar.Right - canvas.Bar.Left;
      EXPECT_EQ(static_cast<int>(TimeBarText(s, row, width, false).size()), windowLength)
          << "width " << width << " row " << row;
      // In eighths, a cell of width/8 characters... is the window's bar at 8x the width.
      RecordingCanvas wide;
      form.OutGridDrawCell(wide, 5, row, {0, 0, width * 8, 15});
      const std::string bar = TimeBarText(s, row, width, true);
      int eighths = 0;
      for (std::size_t pos = 0; pos < bar.size(); pos += 3) {
        const auto last = static_cast<unsigned char>(bar[pos + 2]);
        eighths += last == 0x88 ? 8 : 0x90 - last;  // U+2588 full, U+2589..U+258F 7..1
      }
      EXPECT_EQ(eighths, wide.Bar.Right - wide.Bar.Left) << "width " << width << " row " << row;
    }
  }
}

}  // namespace
}  // namespace quillon
