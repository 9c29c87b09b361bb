// The options only the program entry understands. They are taken out before the
// command text is built; every other parameter reaches the engine's command-line
// parser unchanged, so "-h", "-w" and the host word mean what they mean in the window.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillon {

struct TCliOptions {
  bool Terminal = false;                   // --terminal: never open the window
  bool Json = false;                       // --json: the final result as one JSON document
  bool Help = false;                       // --help
  bool Version = false;                    // --version
  bool RawSockets = false;                 // --raw-sockets: raw sockets before the ICMP service
  bool Csv = false;                        // --csv: the statistics as CSV
  bool Report = false;                     // --report: rounds, then one statistics table
  std::optional<std::int32_t> Rounds;      // --rounds N (0: until Ctrl-C)
  std::optional<std::int32_t> IntervalMs;  // --interval SECONDS, in milliseconds
  std::string Error;                       // why the options are refused ("" when they are not)
  std::vector<std::string> Parameters;     // everything else, in order

  // --rounds, else 10 with --report, else 1 (today's single trace).
  std::int32_t RoundCount() const;
  // Any option that only the terminal can honour.
  bool TerminalOnly() const {
    return Terminal || Json || Csv || Report || Rounds || IntervalMs || !Error.empty();
  }
};

constexpr std::int32_t ReportRounds = 10;
constexpr std::int32_t MaxRounds = 1000000;
constexpr std::int32_t MaxIntervalMs = 3600 * 1000;

// The refusal of an interval below what an ordinary user may ask for (as ping
// refuses one), or "" when the interval is allowed; privileged: the user may
// open raw sockets (root, an administrator).
std::string IntervalFloorError(const TCliOptions& options, bool privileged);
// Whether this process runs with the rights that lift the interval's floor.
bool PrivilegedUser();
// Who that is, for the help: "root", "an administrator".
const char* PrivilegedUserName();

// The program's parameters without its own path.
TCliOptions SplitCliOptions(const std::vector<std::string>& parameters);
TCliOptions SplitCliOptions(int argc, const char* const* argv);

// Whether the display named by DISPLAY or WAYLAND_DISPLAY can be reached: a
// local X display's socket accepts a connection, a Wayland socket exists. A
// display on another host is taken as reachable. Without this check the window
// toolkit aborts the program when, over SSH, DISPLAY names a display that is gone.
bool DisplayReachable(const char* display, const char* waylandDisplay, const char* runtimeDir);

// The window opens when it is built in, a display is there (DISPLAY or
// WAYLAND_DISPLAY not empty) and no terminal-only option asks otherwise.
bool ShouldOpenWindow(const TCliOptions& options, bool guiBuilt, const char* display,
                      const char* waylandDisplay);

// The texts of --help and --version; program is the name to show in the usage.
std::string HelpText(const std::string& program);
// The help's note on what tracing needs where no ICMP socket can be opened, as
// this platform grants it.
std::string SocketRightsNote();
// The help's lines for the options only this platform has (ends in a newline).
std::string PlatformOptionsHelp();
std::string VersionText(const std::string& fileVersion);

}  // namespace quillon
