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
  std::string rounds;
  if (form_->RunRounds != 1) {
    rounds.append(", round ").append(std::to_string(form_->Round));
    if (form_->RunRounds > 1) rounds.append(" of ").append(std::to_string(form_->RunRounds));
  }
  if (form_->Running) {
    if (form_->StopRequested) return "Stopping: " + target + rounds + " (Ctrl-C again quits)";
    return "Tracing " + target + rounds + " (Ctrl-C stops)";
  }
  if (form_->RunRounds != 1) {
    return "Done: " + target + ", " + std::to_string(form_->RoundsDone) +
           (form_->RoundsDone == 1 ? " round" : " rounds");
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

std::vector<std::string> TTerminalView::Table(const TTableStyle& style) const {
  // The statistics columns once a second round has started.
  if (form_->RunRounds != 1 && form_->Round > 1) {
    return RenderStatisticsLines(form_->Report(), style.Columns);
  }
  return RenderLiveTable(SnapshotOf(*form_), style);
}

void TTerminalView::Redraw() {
  if (!io_.Live || form_ == nullptr) return;
  TTableStyle style;
  style.Columns = io_.Columns();
  style.Color = io_.Color;
  std::vector<std::string> lines = Table(style);
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
  for (const std::string& line : Table(style)) out += line + "\n";
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
