// What the grid's context menu is made of in every window: its items with
// their captions and states, a cell's tooltip, and the file types "Save as…"
// offers. The windows show these through their toolkit and call the engine;
// what is copied or saved comes from the engine alone.
#pragma once

#include <array>
#include <string>

#include "trace/GridLayout.h"
#include "trace/Report.h"

namespace quillon {

class TTraceRouteForm;

enum class TGridCommand {
  gcRepeatUntilStop,
  gcStatistics,
  gcRoute,
  gcCopy,
  gcCopyCsv,
  gcSaveAs,
  gcAsNumbers
};

struct TGridMenuItem {
  TGridCommand Command;
  const char* Caption;  // UTF-8
  bool SeparatorBefore;
  bool Toggle = false;  // a check item of its own, not one of the views' pair
};

// The items in the order the menu shows them.
const std::array<TGridMenuItem, 7>& GridMenuItems();
// Whether an item can be chosen now (no repeat during a run, nothing to copy
// or save before one),
// and whether it shows a check mark (the view in sight).
bool GridCommandEnabled(const TTraceRouteForm& form, TGridCommand command);
bool GridCommandChecked(const TTraceRouteForm& form, TGridCommand command);
// Runs the items that need nothing of the window: the repeat, the views and
// "AS numbers" (which turns the AS lookups on or off).
// False for the others, which the window runs with its clipboard or dialog.
bool RunGridCommand(TTraceRouteForm& form, TGridCommand command);

// The tooltip of the cell at a point of the view: the whole text of a cell
// shown cut, then the engine's hint for the cell (every address of a hop
// answered by several, what a loss mark means); empty when there is neither.
std::string GridCellTip(const TTraceRouteForm& form, const TGridLayout& layout, int x, int y,
                        const TTextWidth& textWidth);

struct TExportFileType {
  TExportFormat Format;
  const char* Name;       // as the dialog lists it
  const char* Extension;  // without the dot
};
// The types "Save as…" offers, CSV first.
const std::array<TExportFileType, 2>& ExportFileTypes();
// The format a chosen file is written in: its extension's when it names one
// of the types, else that of the type picked in the dialog (an index into
// ExportFileTypes; out of range counts as the first).
TExportFormat ExportFormatOf(const std::string& path, int typeIndex);

}  // namespace quillon
