#include "cli/CliOptions.h"

namespace quillon {

// A Windows program always has its desktop; DISPLAY means nothing there.
bool DisplayReachable(const char*, const char*, const char*) {
  return true;
}

std::string SocketRightsNote() {
  return "(raw sockets need an administrator, and the\n"
         "system's ICMP service could not be used either)";
}

}  // namespace quillon
