// The native window, built into the program.
#include "OpenWindow.h"
#include "winui/DesktopAppWindows.h"

namespace quillon {

const bool WindowBuilt = true;

// A Windows program always has its desktop, whatever DISPLAY says.
const char* WindowDisplay() {
  return "desktop";
}

std::optional<int> OpenWindow(int, char**, const TCliOptions& options) {
  return RunDesktop(options.Parameters);
}

}  // namespace quillon
