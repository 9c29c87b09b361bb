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
  // Later rounds may have found the route longer.
  r.RouteLength = RouteEndFound ? std::max(RouteLength, keptRows_) : RouteLength;
  r.Rounds = RunRounds;
  r.RoundsDone = RoundsDone;
  r.IntervalMs = IntervalMs;
  r.Method = RunProbeMethod;
  r.Port = RunProbePort;
  r.AsLookups = AsLookups;
  const bool shown = RowsShown();
  const int rows = std::max(0, OutGrid.RowCount() - 1);
  r.Hops.resize(static_cast<std::size_t>(rows));
  for (int row = 1; row <= rows; ++row) {
    TReportHop& hop = r.Hops[static_cast<std::size_t>(row - 1)];
    hop.Route = shown ? RouteRowTexts(row, Hops[static_cast<std::size_t>(row)])
                      : TRouteTexts{std::to_string(row)};
    if (AsLookups && shown) hop.As = HopAs(RowAddress(row));
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

std::string TTraceRouteForm::RowAddress(int row) const {
  const auto index = static_cast<std::size_t>(row - 1);
  const THopEntry& entry = Hops[static_cast<std::size_t>(row)];
  // The route view shows the address that answered last; the
  // statistics name a hop by its most frequent one.
  if (gridView_ == TGridView::gvRoute && entry.Filled) return entry.Address;
  if (index < Stats.size() && Stats[index].AddressCount > 0) {
    const THopStats& stats = Stats[index];
    std::size_t most = 0;
    for (std::size_t i = 1; i < stats.AddressCount; ++i)
      if (stats.Addresses[i].Count > stats.Addresses[most].Count) most = i;
    return stats.Addresses[most].Address;
  }
  return entry.Filled ? entry.Address : std::string();
}

std::string TTraceRouteForm::AsCellHint(int col, int row) const {
  const int hostCol = gridView_ == TGridView::gvStatistics ? 1 : 2;
  if (col != hostCol || !RowsShown()) return {};
  const auto as = HopAs(RowAddress(row));
  return as ? AsTipText(*as) : std::string();
}

std::string TTraceRouteForm::CellHint(int col, int row) const {
  if (row < 1 || row >= OutGrid.RowCount() || col < 0 || col >= OutGrid.ColCount()) return {};
  const auto index = static_cast<std::size_t>(row - 1);
  const std::string asHint = AsCellHint(col, row);
  if (gridView_ != TGridView::gvStatistics || index >= Stats.size()) return asHint;
  const TReportSnapshot report = Report();
  const TReportHop& hop = report.Hops[index];
  std::string hint;
  if (hop.Stats.AddressCount > 1) hint = std::string("Answered by ").append(AddressList(hop));
  if (hop.LossHereOnly) hint.append(hint.empty() ? "" : "\n").append(LossHereOnlyText);
  if (!asHint.empty()) hint = hint.empty() ? asHint : asHint + "\n" + hint;
  return hint;
}

bool TTraceRouteForm::HasReport() const {
  return !StartedAt.empty();
}

}  // namespace quillon
