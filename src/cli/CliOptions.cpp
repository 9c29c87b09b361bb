#include "cli/CliOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "trace/TraceRouteForm.h"

namespace quillon {
namespace {

// A whole decimal number from min to max, nothing before or after it.
std::optional<std::int32_t> WholeNumber(const std::string& text, long min, long max) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return {};
  errno = 0;
  const long value = std::strtol(text.c_str(), nullptr, 10);
  if (errno != 0 || value < min || value > max) return {};
  return static_cast<std::int32_t>(value);
}

// Seconds with an optional fraction ("1", "0.5", ".25") as whole milliseconds.
std::optional<std::int32_t> Seconds(const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) return {};
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text.c_str(), &end);
  if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(value)) return {};
  const double ms = std::round(value * 1000);
  if (ms < 0 || ms > MaxIntervalMs) return {};
  return static_cast<std::int32_t>(ms);
}

}  // namespace

std::int32_t TCliOptions::RoundCount() const {
  if (Rounds) return *Rounds;
  return Report ? ReportRounds : 1;
}

std::string IntervalFloorError(const TCliOptions& options, bool privileged) {
  if (privileged || !options.IntervalMs || *options.IntervalMs >= UserMinIntervalMs) return {};
  char text[160];
  std::snprintf(text, sizeof text,
                "--interval: the shortest interval allowed for an ordinary user is %g s",
                UserMinIntervalMs / 1000.0);
  return text;
}

TCliOptions SplitCliOptions(const std::vector<std::string>& parameters) {
  TCliOptions options;
  const auto refuse = [&options](std::string text) {
    if (options.Error.empty()) options.Error = std::move(text);
  };
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    const std::string& parameter = parameters[i];
    // "--rounds N" or "--rounds=N"; nullopt when the option is another.
    const auto value = [&](const std::string& name) -> std::optional<std::string> {
      if (parameter == name) return i + 1 < parameters.size() ? parameters[++i] : std::string();
      if (parameter.rfind(name + "=", 0) == 0) return parameter.substr(name.size() + 1);
      return std::nullopt;
    };
    if (const auto rounds = value("--rounds")) {
      options.Rounds = WholeNumber(*rounds, 0, MaxRounds);
      if (!options.Rounds) {
        refuse("--rounds needs a number of rounds from 0 (until Ctrl-C) to " +
               std::to_string(MaxRounds) + ", not \"" + *rounds + "\"");
      }
    } else if (const auto interval = value("--interval")) {
      options.IntervalMs = Seconds(*interval);
      if (!options.IntervalMs) {
        refuse("--interval needs the seconds between round starts (up to " +
               std::to_string(MaxIntervalMs / 1000) + "), not \"" + *interval + "\"");
      }
    } else if (parameter == "--csv") {
      options.Csv = true;
    } else if (parameter == "--report") {
      options.Report = true;
    } else if (parameter == "--terminal") {
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
  if (options.Json && options.Csv) refuse("--json and --csv cannot be given together");
  return options;
}

TCliOptions SplitCliOptions(int argc, const char* const* argv) {
  std::vector<std::string> parameters;
  for (int i = 1; i < argc; ++i) parameters.emplace_back(argv[i] != nullptr ? argv[i] : "");
  return SplitCliOptions(parameters);
}

bool ShouldOpenWindow(const TCliOptions& options, bool guiBuilt, const char* display,
                      const char* waylandDisplay) {
  if (!guiBuilt || options.TerminalOnly()) return false;
  const auto set = [](const char* value) { return value != nullptr && *value != '\0'; };
  return set(display) || set(waylandDisplay);
}

std::string HelpText(const std::string& program) {
  return "Usage: " + program +
         " [options] [-4|-6] [-h HOPS] [-w TIMEOUT] [--in-flight N] [--udp|--tcp]\n"
         "       [--port N] [--as] [HOST]\n"
         "Traces the route to HOST (a name, a dotted IPv4 or an IPv6 address) hop by hop\n"
         "with ICMP echo requests (or UDP or TCP probes) and shows every hop's address,\n"
         "host name and time.\n"
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
         "  --udp         probe with UDP datagrams to port 33434 and up (one more per\n"
         "                hop), or to --port; the target answers port unreachable\n"
         "  --tcp         probe with TCP connects to port 80, or to --port; the target\n"
         "                answers the connect or refuses it, and is reset at once.\n"
         "                Both pass firewalls that drop ICMP echo requests and need no\n"
         "                privilege on Linux\n"
         "  --port N      the destination port of --udp or --tcp, 1 to 65535\n"
         "  --as          show the AS numbers that announce each hop and their names.\n"
         "                The route's public addresses are sent to a public DNS zone\n"
         "                (origin.asn.cymru.com) through the system's resolver; private,\n"
         "                shared, loopback, link-local and unique-local ones never are.\n"
         "                Answers are kept a week in the .dna file beside the name cache\n"
         "  --terminal    run in the terminal even when a display is available\n"
         "  --json        print the result as one JSON document (implies --terminal)\n"
         "  --rounds N    trace N rounds (0: until Ctrl-C) and show every hop's loss,\n"
         "                times and jitter over them (implies --terminal; default 1)\n"
         "  --interval SECONDS\n"
         "                time between the starts of two rounds (default 1; at least\n"
         "                0.2 unless run as " +
         std::string(PrivilegedUserName()) +
         ")\n"
         "  --report      trace 10 rounds (or --rounds) and print one statistics table\n"
         "  --csv         print the statistics as CSV (RFC 4180) at the end\n"
         "  --help        show this help and exit\n"
         "  --version     show the version and exit\n" +
         PlatformOptionsHelp() +
         "\n"
         "On a terminal the hop table is redrawn as the trace goes on; Ctrl-C stops the\n"
         "trace, a second Ctrl-C quits. When the output is not a terminal the final\n"
         "table is printed once.\n"
         "\n"
         "Exit status: 0 when the trace ended, 2 when the host is not found or cannot\n"
         "be traced (an unspecified address, a link-local one without its zone, a\n"
         "method this system cannot probe with),\n"
         "3 when the ICMP socket cannot be opened " +
         SocketRightsNote() + ", 1 on any other failure.\n";
}

std::string VersionText(const std::string& fileVersion) {
  return "Quillon " + (fileVersion.empty() ? std::string("(version unknown)") : fileVersion) + "\n";
}

}  // namespace quillon
