#include "trace/GridMenu.h"

#include "platform/Text.h"
#include "trace/TraceRouteForm.h"

namespace quillon {

const std::array<TGridMenuItem, 7>& GridMenuItems() {
  static const std::array<TGridMenuItem, 7> items{{
      {TGridCommand::gcRepeatUntilStop, "Repeat until Stop", false},
      {TGridCommand::gcStatistics, "Statistics", true},
      {TGridCommand::gcRoute, "Route", false},
      {TGridCommand::gcCopy, "Copy", true},
      {TGridCommand::gcCopyCsv, "Copy as CSV", false},
      {TGridCommand::gcSaveAs, "Save as\u2026", false},
      {TGridCommand::gcAsNumbers, "AS numbers", true, true},
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
      return true;
  }
}

bool GridCommandChecked(const TTraceRouteForm& form, TGridCommand command) {
  return (command == TGridCommand::gcStatistics && form.GridView() == TGridView::gvStatistics) ||
         (command == TGridCommand::gcRoute && form.GridView() == TGridView::gvRoute) ||
         (command == TGridCommand::gcAsNumbers && form.AsLookups);
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
      return false;
  }
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
