// Program entry: the window when a display is there (and the window is built),
// the terminal otherwise or when asked for. Both run the same engine on this,
// the main thread. Nothing of the window is touched before it is to open.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "OpenWindow.h"
#include "cli/CliOptions.h"
#include "cli/TerminalSession.h"
#include "net/IdStack.h"
#include "platform/FileVersion.h"
#include "platform/Process.h"

int main(int argc, char** argv) {
  using namespace quillon;
  MarkMainThread();

  const TCliOptions options = SplitCliOptions(argc, argv);
  if (options.Help) {
    std::fputs(HelpText(argc > 0 && argv[0] != nullptr ? argv[0] : "quillon").c_str(), stdout);
    return 0;
  }
  if (options.Version) {
    std::fputs(VersionText(ReadFileVersion()).c_str(), stdout);
    return 0;
  }

  std::string refused = options.Error;
  if (refused.empty()) refused = IntervalFloorError(options, PrivilegedUser());
  if (!refused.empty()) {
    std::fprintf(stderr, "%s: %s\n", argc > 0 && argv[0] != nullptr ? argv[0] : "quillon",
                 refused.c_str());
    return 1;
  }

  GRawSocketsFirst.store(options.RawSockets);
  // The socket layer comes up with the first socket-layer component (the
  // window's ICMP client) through the default stack class, and goes at the end.
  std::optional<int> status;
  const char* display = WindowDisplay();
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (ShouldOpenWindow(options, WindowBuilt, display, wayland) &&
      DisplayReachable(display, wayland, std::getenv("XDG_RUNTIME_DIR"))) {
    status = OpenWindow(argc, argv, options);
    if (!status) std::fputs("The window is not installed; tracing in the terminal.\n", stderr);
  }
  if (!status) status = RunTerminal(options);
  ShutdownSocketLayer();
  return *status;
}
