// The hop grid control on Windows: a window class of ours with a sunken
// border, one fixed header row and column, thin lines between the cells and
// scroll bars when the rows or columns exceed it. It holds no texts of its own:
// every cell is painted by the engine's OutGridDrawCell onto GDI.
#pragma once

#include "winui/Win32.h"

#include <functional>
#include <string>

#include "trace/GridLayout.h"
#include "winui/ControlsWindows.h"

namespace quillon {

class TTraceRouteForm;

// Paints the grid as the layout places it onto dc: the window colour, then
// every cell in sight through the engine (nothing more without a form).
void PaintGridView(HDC dc, const TTraceRouteForm* form, const TGridLayout& layout);

// How wide text is on dc in the font the cells are drawn with.
TTextWidth GridTextWidth(HDC dc);

class TOutGridWindow : public TWindowBase {
 public:
  TOutGridWindow(::HWND parent, int id);

  // The engine whose grid is shown; null shows an empty control.
  void SetForm(const TTraceRouteForm* form);
  // The grid changed: adjusts the scroll ranges and repaints at once.
  void Refresh();
  // Paints the whole client area onto dc (also what WM_PRINTCLIENT does).
  void PaintTo(HDC dc) const;
  // Where the cells sit at the current size and scroll position, the columns
  // sized for the grid's texts.
  TGridLayout Layout() const;
  // The tooltip at a client point: the whole text of a cell shown cut and the
  // engine's hint for the cell, or empty.
  std::string ToolTipAt(int x, int y) const;

  // The context menu is asked for (right click, Shift+F10, the menu key) at a
  // screen point; Ctrl+C asks for a copy. The main window answers both.
  std::function<void(POINT screen)> MenuRequested;
  std::function<void()> CopyRequested;

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  void UpdateScrollBars();
  void Scroll(int bar, int position);
  void OnScroll(int bar, WORD request);
  void CreateToolTip();
  void TrackToolTip(int x, int y);
  // The menu at the point of a right click, or from the keyboard (-1, -1)
  // below the header row.
  void RequestMenu(LPARAM screenPoint);

  const TTraceRouteForm* form_ = nullptr;
  int rowOffset_ = 0;
  int wheelRest_ = 0;  // wheel movement not yet a whole row, in wheel units
  int scrollX_ = 0;
  ::HWND toolTip_ = nullptr;
  std::string toolTipText_;  // what the tooltip shows, kept for its text request
};

}  // namespace quillon
