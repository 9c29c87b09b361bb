// What the native grid paints, counted in pixels: the time bars' colours and
// lengths and IPv6 addresses whole, drawn by the grid's painting code onto a
// bitmap (no display needed, so it runs wherever the test programs run under wine).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "support/HopRows.h"
#include "support/SimulatedNetwork.h"
#include "trace/TraceRouteForm.h"
#include "winui/GridWindows.h"
#include "winui/Win32.h"

namespace quillon {
namespace {

constexpr COLORREF Red = RGB(255, 0, 0);
constexpr COLORREF LightRed = RGB(255, 220, 220);
constexpr COLORREF White = RGB(255, 255, 255);

// The grid's view as its window paints it.
class Picture {
 public:
  Picture(const TTraceRouteForm& form, const TGridLayout& layout)
      : width_(layout.Width()), height_(layout.Height()) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width_;
    info.bmiHeader.biHeight = -height_;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    dc_ = CreateCompatibleDC(nullptr);
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
    old_ = SelectObject(dc_, bitmap_);
    PaintGridView(dc_, &form, layout);
    GdiFlush();
  }
  ~Picture() {
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  COLORREF At(int x, int y) const {
    const std::uint32_t pixel = static_cast<const std::uint32_t*>(bits_)[y * width_ + x];
    return RGB(pixel >> 16 & 0xFF, pixel >> 8 & 0xFF, pixel & 0xFF);
  }
  int Count(const TRect& area, COLORREF colour) const {
    int count = 0;
    for (int y = area.Top; y < std::min(area.Bottom, height_); ++y)
      for (int x = area.Left; x < std::min(area.Right, width_); ++x) count += At(x, y) == colour;
    return count;
  }
  // Length of the red run along the middle line of a bar cell, from its left edge.
  int BarLength(const TRect& cell) const {
    const int y = (cell.Top + cell.Bottom) / 2;
    int length = 0;
    while (cell.Left + length < cell.Right && At(cell.Left + length, y) == Red) ++length;
    return length;
  }

 private:
  int width_;
  int height_;
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ old_;
  void* bits_ = nullptr;
};

TEST(NativeGrid, TimeBarsScaleToTheSlowestHop) {
  InstallSimulatedNetwork(TSimConfig{});
  TTraceRouteForm form(nullptr, TFormFiles{});  // no files: FormCreate is not run
  // The largest time is 64 ms and the cell 96 pixels wide: 1.5 pixels a
  // millisecond, so odd times land on halves that round to the even length.
  ShowHops(form, {64, 32, 3, 1, 0, 5});
  const TGridLayout layout(form.OutGrid.ColCount(), form.OutGrid.RowCount(), 500, 200);
  const Picture picture(form, layout);

  const int expected[] = {96, 48, 4, 2, 2, 8};  // 3*1.5=4.5 -> 4, 5*1.5=7.5 -> 8, 0 drawn as 1
  for (int row = 1; row <= 6; ++row) {
    SCOPED_TRACE(row);
    const TRect cell = layout.CellRect(5, row);
    ASSERT_EQ(cell.Right - cell.Left, 96);
    ASSERT_EQ(cell.Bottom - cell.Top, 15);
    const int length = expected[row - 1];
    EXPECT_EQ(picture.BarLength(cell), length);
    // Two pixels free above and below the bar; inside the white outline the
    // rest of the cell is the light red background.
    EXPECT_EQ(picture.Count(cell, Red), length * 11);
    const int interiorBarColumns = std::max(0, std::min(length, 95) - 1);
    EXPECT_EQ(picture.Count(cell, LightRed), 94 * 13 - interiorBarColumns * 11);
    EXPECT_EQ(picture.At(cell.Right - 1, cell.Top), White);
  }
  // The header's chart cell is a text cell: no bar, no background.
  EXPECT_EQ(picture.Count(layout.CellRect(5, 0), Red), 0);
  EXPECT_EQ(picture.Count(layout.CellRect(5, 0), LightRed), 0);
}

TEST(NativeGrid, Ipv6AddressesAreShownWholeAndCutCellsGiveTheirTextAsTooltip) {
  InstallSimulatedNetwork(TSimConfig{});
  TTraceRouteForm form(nullptr, TFormFiles{});
  HDC screen = CreateCompatibleDC(nullptr);
  const TTextWidth textWidth = GridTextWidth(screen);
  ShowHops(form, {5, 10, 20}, {"10.0.0.1", "255.255.255.255", "Unknown Ip"});
  EXPECT_EQ(GridColWidths(form.OutGrid, textWidth), TGridLayout::DefaultColWidths())
      << "an IPv4 route keeps the design";

  const std::string longest = "2001:db8:aaaa:bbbb:cccc:dddd:eeee:ffff";
  const std::string longName = "a-host-name-far-longer-than-its-cell.lab.example";
  ShowHops(form, {1, 2, 3}, {"fe80::1%2", longest, "2001:2:0:1::1"}, {"gw", longName, "t"});
  const TGridLayout::TColWidths widths = GridColWidths(form.OutGrid, textWidth);
  EXPECT_LE(2 + textWidth(longest), widths[1]) << "shown whole";
  EXPECT_EQ(widths[1] + widths[2] + widths[5], 90 + 191 + 96) << "the grid keeps its width";
  const TGridLayout layout(form.OutGrid.ColCount(), form.OutGrid.RowCount(), 500, 200, 0, 0,
                           widths);
  const Picture picture(form, layout);
  // The address's ink ends inside its cell, before the two pixels of margin.
  const TRect address = layout.CellRect(1, 2);
  int lastInk = -1;
  for (int x = address.Left; x < address.Right; ++x)
    for (int y = address.Top; y < address.Bottom; ++y)
      if (picture.At(x, y) != White) lastInk = x;
  EXPECT_GT(lastInk, address.Left + widths[1] / 2);
  EXPECT_LE(lastInk, address.Left + 2 + textWidth(longest));
  DeleteDC(screen);

  // The control itself gives a cut cell's text as tooltip, and nothing for a whole one.
  ::HWND parent = CreateWindowExA(0, "STATIC", "", WS_OVERLAPPED, 0, 0, 600, 300, nullptr, nullptr,
                                  nullptr, nullptr);
  if (!parent) GTEST_SKIP() << "no window can be made here";
  {
    TOutGridWindow grid(parent, 1);
    SetWindowPos(grid.Handle(), nullptr, 0, 0, 500, 200, SWP_NOZORDER);
    grid.SetForm(&form);
    const TRect host = grid.Layout().CellRect(2, 2);
    EXPECT_EQ(grid.ToolTipAt(host.Left + 3, host.Top + 3), longName);
    const TRect whole = grid.Layout().CellRect(1, 2);
    EXPECT_EQ(grid.ToolTipAt(whole.Left + 3, whole.Top + 3), "");
  }
  DestroyWindow(parent);
}

}  // namespace
}  // namespace quillon
