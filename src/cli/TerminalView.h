// The engine's view on a terminal: the hop table and a status line, redrawn in
// place whenever the grid or the controls change. Messages the engine would show
// in a box are collected for the caller to report.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/HopTable.h"
#include "trace/TraceView.h"

namespace quillon {

class TTraceRouteForm;

struct TTerminalIo {
  std::function<void(std::string_view)> Out;  // standard output
  std::function<void(std::string_view)> Err;  // standard error
  bool Live = false;                          // Out is a terminal that takes escape sequences
  bool Color = false;
  std::function<int()> Columns = [] { return 80; };
  std::function<int()> Rows = [] { return 24; };
};

class TTerminalView : public TTraceView {
 public:
  explicit TTerminalView(const TTerminalIo& io) : io_(io) {}

  void Attach(const TTraceRouteForm* form) { form_ = form; }
  // Set once the user has asked to quit; the status line says so.
  void SetInterrupted() { interrupted_ = true; }

  void ShowMessage(const std::string& text) override { messages_.push_back(text); }
  void GridChanged() override { Redraw(); }
  void ControlsChanged() override { Redraw(); }

  // Draws the live table again (nothing unless live and attached).
  void Redraw();
  // Replaces the live table by the whole final table and status line.
  void Finish();
  // Removes the live table (before an error is reported instead).
  void Discard();

  const std::vector<std::string>& Messages() const { return messages_; }
  std::string StatusLine() const;

 private:
  std::string Erase() const;
  // The route's table, or the statistics' once a second round has started.
  std::vector<std::string> Table(const TTableStyle& style) const;

  const TTerminalIo& io_;
  const TTraceRouteForm* form_ = nullptr;
  std::vector<std::string> messages_;
  int drawnLines_ = 0;
  bool interrupted_ = false;
};

}  // namespace quillon
