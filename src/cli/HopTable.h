// The hop table as the terminal shows it, made from the engine's grid cell texts
// only (the same source the window paints from): the live table, the plain
// table and the JSON document.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "trace/HopGrid.h"
#include "trace/Report.h"

namespace quillon {

class TTraceRouteForm;

// What the renderers read from the main window.
struct TTraceSnapshot {
  const THopGrid* Grid = nullptr;
  std::int32_t TimeCount = 0;
  std::int32_t TimeMax = 0;
  std::string Target;
  std::string Address;
  bool RouteEndFound = false;
  std::int32_t RouteLength = 0;
  // With AS lookups: each data row's AS ("AS64501", "" while unknown; row 1
  // at index 0), shown in a column "AS" after the address. Empty without.
  std::vector<std::string> AsCells{};
};

TTraceSnapshot SnapshotOf(const TTraceRouteForm& form);

// The time bar of a data row in a cell `width` characters wide, scaled like the
// window's bars. With eighths, the length counts eighths of a character and is
// drawn with Unicode block characters; otherwise whole characters of '#'. Empty
// when the row has no time or no bar is drawn.
std::string TimeBarText(const TTraceSnapshot& snapshot, int row, int width, bool eighths);

struct TTableStyle {
  int Columns = 80;     // the whole line's width; lines never reach the last column
  bool Unicode = true;  // block-character bars
  bool Color = false;   // bold header, red bars (ANSI)
};

// The header and one line per data row, every cell cut to fit, for the live view.
std::vector<std::string> RenderLiveTable(const TTraceSnapshot& snapshot, const TTableStyle& style);

// The header and one line per data row, columns as wide as their widest text,
// '#' bars, no escape sequences, every line ending in "\n".
std::string RenderPlainTable(const TTraceSnapshot& snapshot);

// The statistics view's header and one line per hop, then the footnote of the
// loss-here-only hint when a hop carries it. With width 0 every column is as
// wide as its widest text (the final table); otherwise the host column shrinks
// so that no line reaches the given width (the live table). No line ends.
std::vector<std::string> RenderStatisticsLines(const TReportSnapshot& report, int width);

}  // namespace quillon
