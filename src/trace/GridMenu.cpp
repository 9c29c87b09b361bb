#include "trace/GridMenu.h"

#include <cstdint>
#include <optional>

#include "net/ProbeMethod.h"
#include "platform/Text.h"
#include "trace/TraceRouteForm.h"

namespace quillon {

namespace {

constexpr const char* kPortMenu = "Port";

// The method an item chooses; none for the other items.
std::optional<TProbeMethod> MethodOf(TGridCommand command) {
  switch (command) {
    case TGridCommand::gcProbeIcmp:
      return TProbeMethod::pmIcmp;
    case TGridCommand::gcProbeUdp:
      return TProbeMethod::pmUdp;
    case TGridCommand::gcProbeTcp:
      return TProbeMethod::pmTcp;
    default:
      return std::nullopt;
  }
}

// The port an item chooses (0: the method's default); none for "Other…" and the others.
std::optional<std::int32_t> PortOf(TGridCommand command) {
  switch (command) {
    case TGridCommand::gcPortDefault:
      return 0;
    case TGridCommand::gcPort53:
      return 53;
    case TGridCommand::gcPort80:
      return 80;
    case TGridCommand::gcPort443:
      return 443;
    default:
      return std::nullopt;
  }
}

bool IsPortItem(TGridCommand command) {
  return PortOf(command).has_value() || command == TGridCommand::gcPortOther;
}

// A port of the list has its own item; any other is "Other…"'s.
bool IsListedPort(std::int32_t port) {
  for (const TGridMenuItem& item : GridMenuItems())
    if (PortOf(item.Command) == port) return true;
  return false;
}

}  // namespace

const std::array<TGridMenuItem, 15>& GridMenuItems() {
  static const std::array<TGridMenuItem, 15> items{{
      {TGridCommand::gcRepeatUntilStop, "Repeat until Stop", false},
      {TGridCommand::gcStatistics, "Statistics", true},
      {TGridCommand::gcRoute, "Route", false},
      {TGridCommand::gcCopy, "Copy", true},
      {TGridCommand::gcCopyCsv, "Copy as CSV", false},
      {TGridCommand::gcSaveAs, "Save as\u2026", false},
      {TGridCommand::gcAsNumbers, "AS numbers", true, true},
      {TGridCommand::gcProbeIcmp, "ICMP probes", true},
      {TGridCommand::gcProbeUdp, "UDP probes", false},
      {TGridCommand::gcProbeTcp, "TCP probes", false},
      {TGridCommand::gcPortDefault, "The method's default", false, false, kPortMenu},
      {TGridCommand::gcPort53, "53", true, false, kPortMenu},
      {TGridCommand::gcPort80, "80", false, false, kPortMenu},
      {TGridCommand::gcPort443, "443", false, false, kPortMenu},
      {TGridCommand::gcPortOther, "Other\u2026", true, false, kPortMenu},
  }};
  return items;
}

bool GridCommandEnabled(const TTraceRouteForm& form, TGridCommand command) {
  switch (command) {
    case TGridCommand::gcRepeatUntilStop:
      return !form.Running;
    case TGridCommand::gcCopy:
    case TGridCommand::gcCopyCsv:
    case TGridCommand::gcSaveAs:
      return form.HasReport();
    default:
      // A run keeps the method and port of its Start.
      if (MethodOf(command)) return !form.Running;
      if (IsPortItem(command)) return !form.Running && form.ProbeMethod != TProbeMethod::pmIcmp;
      return true;
  }
}

bool GridCommandChecked(const TTraceRouteForm& form, TGridCommand command) {
  if (const auto method = MethodOf(command)) return form.ProbeMethod == *method;
  if (const auto port = PortOf(command)) return form.ProbePort == *port;
  if (command == TGridCommand::gcPortOther) return !IsListedPort(form.ProbePort);
  return (command == TGridCommand::gcStatistics && form.GridView() == TGridView::gvStatistics) ||
         (command == TGridCommand::gcRoute && form.GridView() == TGridView::gvRoute) ||
         (command == TGridCommand::gcAsNumbers && form.AsLookups);
}

int GridRadioGroup(TGridCommand command) {
  if (command == TGridCommand::gcStatistics || command == TGridCommand::gcRoute) return 1;
  if (MethodOf(command)) return 2;
  return IsPortItem(command) ? 3 : 0;
}

bool RunGridCommand(TTraceRouteForm& form, TGridCommand command) {
  switch (command) {
    case TGridCommand::gcRepeatUntilStop:
      form.RepeatUntilStopClick();
      return true;
    case TGridCommand::gcStatistics:
      form.SetGridView(TGridView::gvStatistics);
      return true;
    case TGridCommand::gcRoute:
      form.SetGridView(TGridView::gvRoute);
      return true;
    case TGridCommand::gcAsNumbers:
      form.SetAsLookups(!form.AsLookups);
      return true;
    default:
      if (const auto method = MethodOf(command)) {
        form.ProbeMethod = *method;
        // A port of UDP or TCP means nothing to ICMP, which has none.
        if (*method == TProbeMethod::pmIcmp) form.ProbePort = 0;
        return true;
      }
      if (const auto port = PortOf(command)) {
        form.ProbePort = *port;
        return true;
      }
      return false;
  }
}

std::string GridCommandCaption(const TTraceRouteForm& form, const TGridMenuItem& item) {
  if (item.Command != TGridCommand::gcPortOther || IsListedPort(form.ProbePort))
    return item.Caption;
  return "Other (" + std::to_string(form.ProbePort) + ")\u2026";
}

std::string ChooseProbePort(TTraceRouteForm& form, const std::string& text) {
  const auto port = TryStrToInt(text);
  if (!port || !IsValidProbePort(*port))
    return "The port must be a number from " + std::to_string(MinProbePort) + " to " +
           std::to_string(MaxProbePort) + ".";
  form.ProbePort = *port;
  return {};
}

std::string GridCellTip(const TTraceRouteForm& form, const TGridLayout& layout, int x, int y,
                        const TTextWidth& textWidth) {
  int col = 0;
  int row = 0;
  if (!layout.CellAt(x, y, col, row) || row < TGridLayout::FixedRows) return {};
  const std::string cut = CutCellText(form.OutGrid, layout, x, y, textWidth);
  const std::string hint = form.CellHint(col, row);
  // The hint may already hold the cell's whole text.
  if (cut.empty() || hint.find(cut) != std::string::npos) return hint;
  return hint.empty() ? cut : cut + "\n" + hint;
}

const std::array<TExportFileType, 2>& ExportFileTypes() {
  static const std::array<TExportFileType, 2> types{{
      {TExportFormat::efCsv, "CSV", "csv"},
      {TExportFormat::efJson, "JSON", "json"},
  }};
  return types;
}

TExportFormat ExportFormatOf(const std::string& path, int typeIndex) {
  const std::size_t dot = path.find_last_of('.');
  const std::size_t slash = path.find_last_of("/\\");
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    const std::string extension = LowerCase(path.substr(dot + 1));
    for (const TExportFileType& type : ExportFileTypes())
      if (extension == type.Extension) return type.Format;
  }
  const auto& types = ExportFileTypes();
  const bool known = typeIndex >= 0 && typeIndex < static_cast<int>(types.size());
  return types[static_cast<std::size_t>(known ? typeIndex : 0)].Format;
}

}  // namespace quillon
