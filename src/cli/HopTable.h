// The hop table as the terminal shows it, made from the engine's grid cell texts
// only (the same source the window paints from): the live table, the plain
// table and the JSON document.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "trace/HopGrid.h"

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

// {"target", "address", "route_end_found", "route_length", "hops": [{"no",
// "address", "host", "time_ms", "ttl"}...]} with every data row of the grid;
// empty cells give empty texts and null numbers. Ends with "\n".
std::string RenderJson(const TTraceSnapshot& snapshot);

}  // namespace quillon
