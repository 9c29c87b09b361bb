// The main window's views and exports: the statistics view of the grid, the
// copied and saved texts and the cells' tooltips.
#include "trace/TraceRouteForm.h"

namespace quillon {

void TTraceRouteForm::SetGridView(TGridView view) {
  gridView_ = view;
  RefreshGrid();
}

void TTraceRouteForm::RepeatUntilStopClick() {
  if (!Running) StartTrace();
}

std::string TTraceRouteForm::CopyText() const {
  return {};
}

std::string TTraceRouteForm::CopyCsvText() const {
  return {};
}

std::string TTraceRouteForm::SaveReport(const std::string&, TExportFormat) const {
  return "Not saved: nothing to save yet.";
}

std::string TTraceRouteForm::CellHint(int, int) const {
  return {};
}

bool TTraceRouteForm::HasReport() const {
  return !TargetHost.empty();
}

}  // namespace quillon
