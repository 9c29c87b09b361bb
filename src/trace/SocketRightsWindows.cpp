#include "trace/SocketRights.h"

namespace quillon {

std::string PrivilegeHint(const std::string& programPath) {
  return "Tracing needs raw ICMP sockets, which Windows gives administrators only, or the "
         "system's ICMP service (iphlpapi.dll), which could not be used either: run " +
         programPath + " from a console opened with 'Run as administrator'.";
}

}  // namespace quillon
