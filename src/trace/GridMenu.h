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
  gcAsNumbers,
  gcProbeIcmp,
  gcProbeUdp,
  gcProbeTcp,
  gcPortDefault,
  gcPort53,
  gcPort80,
  gcPort443,
  gcPortOther,
};

struct TGridMenuItem {
  TGridCommand Command;
  const char* Caption;  // UTF-8
  bool SeparatorBefore;
  bool Toggle = false;            // a check item of its own, not one of a radio group
  const char* Submenu = nullptr;  // the submenu the item sits in (UTF-8); none: the menu itself
};

// The items in the order the menu shows them; the items of a submenu follow
// each other, and the submenu shows where its first item would.
const std::array<TGridMenuItem, 15>& GridMenuItems();
// Whether an item can be chosen now (no repeat during a run, nothing to copy
// or save before one),
// and whether it shows a check mark (the view in sight).
bool GridCommandEnabled(const TTraceRouteForm& form, TGridCommand command);
bool GridCommandChecked(const TTraceRouteForm& form, TGridCommand command);
// The group of radio items an item belongs to, of which one is checked: 1 the
// views, 2 the methods, 3 the ports; 0 for an item of none.
int GridRadioGroup(TGridCommand command);
// Runs the items that need nothing of the window: the repeat, the views,
// "AS numbers" (which turns the AS lookups on or off), the methods and the
// listed ports.
// False for the others, which the window runs with its clipboard or dialog.
bool RunGridCommand(TTraceRouteForm& form, TGridCommand command);

// The probe method and port items: one of each group shows the check mark of
// a radio item, the method of the next run and its port ("Other…" for a port
// typed in, which its caption then names). They wait while a run goes on, and
// the ports while the method is ICMP. The window asks for the port "Other…"
// stands for and hands over what was typed.
std::string GridCommandCaption(const TTraceRouteForm& form, const TGridMenuItem& item);
// Empty when the text is a port (1 to 65535), which the next runs then use;
// else the message to show, nothing changed.
std::string ChooseProbePort(TTraceRouteForm& form, const std::string& text);

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
