#include "cli/CliOptions.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>

namespace quillon {

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

std::string SocketRightsNote() {
  return "(tracing needs root, the ICMP helper's CAP_NET_RAW or ICMP\n"
         "datagram sockets allowed by net.ipv4.ping_group_range)";
}

// Raw sockets come first here anyway: --raw-sockets is taken and changes nothing.
std::string PlatformOptionsHelp() {
  return "";
}

}  // namespace quillon

namespace quillon {

bool PrivilegedUser() {
  return ::geteuid() == 0;
}

const char* PrivilegedUserName() {
  return "root";
}

}  // namespace quillon
