#include "trace/SocketRights.h"

namespace quillon {

std::string PrivilegeHint(const std::string& programPath) {
  return "Tracing needs the system's ICMP service (iphlpapi.dll), which could not be used, "
         "or raw ICMP sockets, which Windows gives administrators only: run " +
         programPath + " --raw-sockets from a console opened with 'Run as administrator'.";
}

}  // namespace quillon
