// Program entry: the window when a display is there (and the window is built in),
// the terminal otherwise or when asked for. Both run the same engine on this,
// the main thread.
#include <cstdlib>
#include <iostream>
#include <string>

#include "cli/CliOptions.h"
#include "cli/TerminalSession.h"
#include "net/IdStack.h"
#include "platform/FileVersion.h"
#include "platform/Process.h"

#if QUILLON_WITH_GUI
#include "gui/DesktopApp.h"
constexpr bool GuiBuilt = true;
#elif QUILLON_WITH_WINDOWS_UI
#include "winui/DesktopAppWindows.h"
constexpr bool GuiBuilt = true;
#else
constexpr bool GuiBuilt = false;
#endif

int main(int argc, char** argv) {
  using namespace quillon;
  MarkMainThread();

  const TCliOptions options = SplitCliOptions(argc, argv);
  if (options.Help) {
    std::cout << HelpText(argc > 0 && argv[0] != nullptr ? argv[0] : "quillon");
    return 0;
  }
  if (options.Version) {
    std::cout << VersionText(ReadFileVersion());
    return 0;
  }

  // The socket layer comes up with the first socket-layer component (the
  // window's ICMP client) through the default stack class, and goes at the end.
  int status = 0;
#if QUILLON_WITH_WINDOWS_UI
  // A Windows program always has its desktop, whatever DISPLAY says.
  const char* display = "desktop";
#else
  const char* display = std::getenv("DISPLAY");
#endif
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (ShouldOpenWindow(options, GuiBuilt, display, wayland) &&
      DisplayReachable(display, wayland, std::getenv("XDG_RUNTIME_DIR"))) {
#if QUILLON_WITH_GUI
    status = RunDesktop(argc, argv);
#elif QUILLON_WITH_WINDOWS_UI
    status = RunDesktop(options.Parameters);
#endif
  } else {
    status = RunTerminal(options.Parameters, options.Json);
  }
  ShutdownSocketLayer();
  return status;
}
