// The main window's views and exports: the statistics view of the grid, the
// copied and saved texts and the cells' tooltips.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/AtomicFile.h"
#include "trace/DnsBuffer.h"
#include "trace/TraceRouteForm.h"

namespace quillon {

TReportSnapshot TTraceRouteForm::Report() const {
  TReportSnapshot r;
  r.Target = TargetHost;
  r.Address = TargetAddress;
  r.Started = StartedAt;
  r.RouteEndFound = RouteEndFound;
  r.RouteLength = RouteLength;
  r.Rounds = RunRounds;
  r.RoundsDone = RoundsDone;
  r.IntervalMs = IntervalMs;
  r.Method = RunProbeMethod;
  r.Port = RunProbePort;
  const bool shown = RowsShown();
  const int rows = std::max(0, OutGrid.RowCount() - 1);
  r.Hops.resize(static_cast<std::size_t>(rows));
  for (int row = 1; row <= rows; ++row) {
    TReportHop& hop = r.Hops[static_cast<std::size_t>(row - 1)];
    hop.Route = shown ? RouteRowTexts(row, Hops[static_cast<std::size_t>(row)])
                      : TRouteTexts{std::to_string(row)};
    const auto index = static_cast<std::size_t>(row - 1);
    if (index >= Stats.size()) continue;
    hop.Stats = Stats[index];
    hop.LossHereOnly = LossHereOnly(Stats, index);
    for (std::size_t i = 0; i < hop.Stats.AddressCount && nameCache_; ++i) {
      // Names come from the cache: a late name labels only its own address.
      const std::string& address = hop.Stats.Addresses[i].Address;
      const std::string name = nameCache_->FindName(address);
      if (name != address) hop.Names[i] = name;
    }
  }
  return r;
}

void TTraceRouteForm::SetGridView(TGridView view) {
  gridView_ = view;
  WriteHeaders();
  WriteRows();
  RefreshGrid();
}

void TTraceRouteForm::RepeatUntilStopClick() {
  if (Running) return;
  // For this run only: Start traces once again afterwards.
  struct TRestore {
    TTraceRouteForm& form;
    std::int32_t rounds, intervalMs;
    ~TRestore() {
      form.Rounds = rounds;
      form.IntervalMs = intervalMs;
    }
  } restore{*this, Rounds, IntervalMs};
  Rounds = 0;
  IntervalMs = DefaultIntervalMs;
  StartTrace();
}

std::string TTraceRouteForm::CopyText() const {
  return RenderTsv(Report(), gridView_);
}

std::string TTraceRouteForm::CopyCsvText() const {
  return RenderCsv(Report());
}

std::string TTraceRouteForm::SaveReport(const std::string& path, TExportFormat format) const {
  if (!HasReport()) return "There is nothing to save yet: start a trace first.";
  errno = 0;
  if (ReplaceFileContents(path, RenderReport(Report(), format))) return {};
  const int error = errno;
  std::string reason = "Cannot save " + path;
  if (error != 0) reason.append(": ").append(std::strerror(error));
  return reason + ". Nothing was changed.";
}

std::string TTraceRouteForm::CellHint(int col, int row) const {
  if (row < 1 || row >= OutGrid.RowCount() || col < 0 || col >= OutGrid.ColCount()) return {};
  const auto index = static_cast<std::size_t>(row - 1);
  if (gridView_ != TGridView::gvStatistics || index >= Stats.size()) return {};
  const TReportSnapshot report = Report();
  const TReportHop& hop = report.Hops[index];
  std::string hint;
  if (hop.Stats.AddressCount > 1) hint = std::string("Answered by ").append(AddressList(hop));
  if (hop.LossHereOnly) hint.append(hint.empty() ? "" : "\n").append(LossHereOnlyText);
  return hint;
}

bool TTraceRouteForm::HasReport() const {
  return !StartedAt.empty();
}

}  // namespace quillon
