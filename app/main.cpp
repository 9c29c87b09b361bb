// Program entry: the window when a display is there (and the window is built),
// the terminal otherwise or when asked for. Both run the same engine on this,
// the main thread. The window is a module loaded only once it is to open, so
// that nothing of the window toolkit is loaded before, or for a terminal run.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "cli/CliOptions.h"
#include "cli/TerminalSession.h"
#include "net/IdStack.h"
#include "platform/FileVersion.h"
#include "platform/Process.h"

#if QUILLON_WITH_GUI
#include "WindowModule.h"
#include "platform/ExecutablePath.h"
#include "platform/SharedModule.h"
constexpr bool GuiBuilt = true;
#elif QUILLON_WITH_WINDOWS_UI
#include "winui/DesktopAppWindows.h"
constexpr bool GuiBuilt = true;
#else
constexpr bool GuiBuilt = false;
#endif

namespace {

// Runs the window: on Windows the native one, built into the program; elsewhere
// the Qt one from its module, or nothing when the module, or the toolkit it
// needs, cannot be loaded. The module's place is fixed relative to the
// executable, the same in the build tree as installed.
std::optional<int> RunWindowModule([[maybe_unused]] int argc, [[maybe_unused]] char** argv,
                                   [[maybe_unused]] const quillon::TCliOptions& options) {
#if QUILLON_WITH_WINDOWS_UI
  // On Windows the window is built into the program.
  return quillon::RunDesktop(options.Parameters);
#elif QUILLON_WITH_GUI
  using namespace quillon;
  const std::filesystem::path self = ExecutablePath();
  if (self.empty()) return std::nullopt;
  const std::filesystem::path module = self.parent_path() / QUILLON_WINDOW_MODULE;
  void* windowMain = LoadModuleFunction(module.lexically_normal(), WindowMainName);
  if (windowMain == nullptr) return std::nullopt;
  return reinterpret_cast<TWindowMain>(windowMain)(argc, argv);
#else
  return std::nullopt;
#endif
}

}  // namespace

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

  // The socket layer comes up with the first socket-layer component (the
  // window's ICMP client) through the default stack class, and goes at the end.
  std::optional<int> status;
#if QUILLON_WITH_WINDOWS_UI
  // A Windows program always has its desktop, whatever DISPLAY says.
  const char* display = "desktop";
#else
  const char* display = std::getenv("DISPLAY");
#endif
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (ShouldOpenWindow(options, GuiBuilt, display, wayland) &&
      DisplayReachable(display, wayland, std::getenv("XDG_RUNTIME_DIR"))) {
    status = RunWindowModule(argc, argv, options);
    if (!status) std::fputs("The window is not installed; tracing in the terminal.\n", stderr);
  }
  if (!status) status = RunTerminal(options.Parameters, options.Json);
  ShutdownSocketLayer();
  return *status;
}
