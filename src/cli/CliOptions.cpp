#include "cli/CliOptions.h"

namespace quillon {

TCliOptions SplitCliOptions(const std::vector<std::string>& parameters) {
  TCliOptions options;
  for (const std::string& parameter : parameters) {
    if (parameter == "--terminal") {
      options.Terminal = true;
    } else if (parameter == "--json") {
      options.Json = true;
    } else if (parameter == "--help") {
      options.Help = true;
    } else if (parameter == "--version") {
      options.Version = true;
    } else if (parameter == "--raw-sockets") {
      options.RawSockets = true;
    } else {
      options.Parameters.push_back(parameter);
    }
  }
  return options;
}

TCliOptions SplitCliOptions(int argc, const char* const* argv) {
  std::vector<std::string> parameters;
  for (int i = 1; i < argc; ++i) parameters.emplace_back(argv[i] != nullptr ? argv[i] : "");
  return SplitCliOptions(parameters);
}

bool ShouldOpenWindow(const TCliOptions& options, bool guiBuilt, const char* display,
                      const char* waylandDisplay) {
  if (!guiBuilt || options.Terminal || options.Json) return false;
  const auto set = [](const char* value) { return value != nullptr && *value != '\0'; };
  return set(display) || set(waylandDisplay);
}

std::string HelpText(const std::string& program) {
  return "Usage: " + program +
         " [options] [-4|-6] [-h HOPS] [-w TIMEOUT] [--in-flight N] [HOST]\n"
         "Traces the route to HOST (a name, a dotted IPv4 or an IPv6 address) hop by hop\n"
         "with ICMP echo requests and shows every hop's address, host name and time.\n"
         "Without HOST the first host of the history is traced (localhost at first).\n"
         "\n"
         "  -4            trace a name over IPv4\n"
         "  -6            trace a name over IPv6 (without -4 or -6: at the first address\n"
         "                the resolver gives; an address decides its family itself)\n"
         "  -h HOPS       the most hops to probe, 1 to 100 (default 30)\n"
         "  -w TIMEOUT    time to wait for each reply, in milliseconds, 1 to 9000\n"
         "                (default 5000)\n"
         "  --in-flight N probes under way at once, 1 to 64 (default 5); with N at\n"
         "                least HOPS every hop is probed at once. The table is the same\n"
         "                for every N\n"
         "  --terminal    run in the terminal even when a display is available\n"
         "  --json        print the result as one JSON document (implies --terminal)\n"
         "  --help        show this help and exit\n"
         "  --version     show the version and exit\n" +
         PlatformOptionsHelp() +
         "\n"
         "On a terminal the hop table is redrawn as the trace goes on; Ctrl-C stops the\n"
         "trace, a second Ctrl-C quits. When the output is not a terminal the final\n"
         "table is printed once.\n"
         "\n"
         "Exit status: 0 when the trace ended, 2 when the host is not found or cannot\n"
         "be traced (an unspecified address, a link-local one without its zone),\n"
         "3 when the ICMP socket cannot be opened " +
         SocketRightsNote() + ", 1 on any other failure.\n";
}

std::string VersionText(const std::string& fileVersion) {
  return "Quillon " + (fileVersion.empty() ? std::string("(version unknown)") : fileVersion) + "\n";
}

}  // namespace quillon
