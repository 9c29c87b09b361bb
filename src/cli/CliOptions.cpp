#include "cli/CliOptions.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>

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

namespace {

bool CanConnect(const std::string& socketPath) {
  sockaddr_un address{};
  if (socketPath.size() >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  socketPath.copy(address.sun_path, socketPath.size());
  // Non-blocking: a server whose queue is full is there all the same, and a
  // wedged one must not hang the start.
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  const bool connected =
      ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ||
      errno == EAGAIN || errno == EINPROGRESS;
  ::close(fd);
  return connected;
}

}  // namespace

bool DisplayReachable(const char* display, const char* waylandDisplay, const char* runtimeDir) {
  if (waylandDisplay != nullptr && *waylandDisplay != '\0') {
    const std::string name(waylandDisplay);
    const std::string path =
        name.front() == '/' || runtimeDir == nullptr ? name : std::string(runtimeDir) + "/" + name;
    if (::access(path.c_str(), F_OK) == 0) return true;
  }
  if (display == nullptr || *display == '\0') return false;
  const std::string text(display);
  const auto colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  const std::string host = text.substr(0, colon);
  if (!host.empty() && host != "unix") return true;  // a remote display: let the toolkit try
  const std::string number = text.substr(colon + 1, text.find('.', colon) - colon - 1);
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return false;
  return CanConnect("/tmp/.X11-unix/X" + number);
}

std::string HelpText(const std::string& program) {
  return "Usage: " + program +
         " [options] [-h HOPS] [-w TIMEOUT] [HOST]\n"
         "Traces the route to HOST (a name or dotted IPv4 address) hop by hop with ICMP\n"
         "echo requests and shows every hop's address, host name and time.\n"
         "Without HOST the first host of the history is traced (localhost at first).\n"
         "\n"
         "  -h HOPS       the most hops to probe, 1 to 100 (default 30)\n"
         "  -w TIMEOUT    time to wait for each reply, in milliseconds, 1 to 9000\n"
         "                (default 5000)\n"
         "  --terminal    run in the terminal even when a display is available\n"
         "  --json        print the result as one JSON document (implies --terminal)\n"
         "  --help        show this help and exit\n"
         "  --version     show the version and exit\n"
         "\n"
         "On a terminal the hop table is redrawn as the trace goes on; Ctrl-C stops the\n"
         "trace, a second Ctrl-C quits. When the output is not a terminal the final\n"
         "table is printed once.\n"
         "\n"
         "Exit status: 0 when the trace ended, 2 when the host is not found, 3 when the\n"
         "ICMP socket cannot be opened (tracing needs root, CAP_NET_RAW or ICMP datagram\n"
         "sockets allowed by net.ipv4.ping_group_range), 1 on any other failure.\n";
}

std::string VersionText(const std::string& fileVersion) {
  return "Quillon " + (fileVersion.empty() ? std::string("(version unknown)") : fileVersion) + "\n";
}

}  // namespace quillon
