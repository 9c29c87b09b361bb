#include "cli/TerminalView.h"

#include <algorithm>

#include "cli/TerminalText.h"
#include "trace/TraceRouteForm.h"

namespace quillon {
namespace {

constexpr const char* ClearToEnd = "\x1b[K";

}  // namespace

std::string TTerminalView::StatusLine() const {
  if (form_ == nullptr) return {};
  const std::string target =
      SanitizeForTerminal(form_->TargetHost) +
      (form_->TargetAddress.empty() || form_->TargetAddress == form_->TargetHost
           ? std::string{}
           : " (" + SanitizeForTerminal(form_->TargetAddress) + ")");
  if (interrupted_) return "Interrupted: " + target;
  if (form_->Running && form_->TargetHost.empty()) return "Tracing (Ctrl-C stops)";
  if (form_->Running) {
    if (form_->StopRequested) return "Stopping: " + target + " (Ctrl-C again quits)";
    return "Tracing " + target + " (Ctrl-C stops)";
  }
  if (form_->TargetHost.empty()) return {};
  if (!form_->RouteEndFound) return "Trace done: " + target + ", stopped before the route end";
  return "Trace done: " + target + ", route length " + std::to_string(form_->RouteLength);
}

std::string TTerminalView::Erase() const {
  if (drawnLines_ == 0) return {};
  // The cursor sits at the start of the line below the drawn block.
  return "\r\x1b[" + std::to_string(drawnLines_) + "A\x1b[J";
}

void TTerminalView::Redraw() {
  if (!io_.Live || form_ == nullptr) return;
  TTableStyle style;
  style.Columns = io_.Columns();
  style.Color = io_.Color;
  std::vector<std::string> lines = RenderLiveTable(SnapshotOf(*form_), style);
  // A block taller than the screen cannot be redrawn in place: keep the header
  // and the newest rows.
  const auto room = static_cast<std::size_t>(std::max(3, io_.Rows() - 2));
  if (lines.size() > room) {
    lines.erase(lines.begin() + 1,
                lines.begin() + static_cast<std::ptrdiff_t>(lines.size() - room + 1));
  }
  lines.push_back(FitToWidth(StatusLine(), std::max(1, style.Columns - 1)));
  std::string out = Erase();
  for (const std::string& line : lines) out += line + ClearToEnd + "\n";
  drawnLines_ = static_cast<int>(lines.size());
  io_.Out(out);
}

void TTerminalView::Finish() {
  if (!io_.Live || form_ == nullptr) return;
  TTableStyle style;
  style.Columns = io_.Columns();
  style.Color = io_.Color;
  std::string out = Erase();
  for (const std::string& line : RenderLiveTable(SnapshotOf(*form_), style)) out += line + "\n";
  const std::string status = StatusLine();
  if (!status.empty()) out += status + "\n";
  drawnLines_ = 0;
  io_.Out(out);
}

}  // namespace quillon

namespace quillon {

void TTerminalView::Discard() {
  if (!io_.Live || drawnLines_ == 0) return;
  io_.Out(Erase());
  drawnLines_ = 0;
}

}  // namespace quillon
