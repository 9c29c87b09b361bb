// The texts a run is exported as (tab-separated for the clipboard, CSV, JSON):
// pure functions of a snapshot of the statistics, the one source of every
// export of the terminal and both windows.
#pragma once

namespace quillon {

enum class TExportFormat { efCsv, efJson };

}  // namespace quillon
