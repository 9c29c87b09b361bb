#include "net/IcmpHelperPosix.h"
#include "trace/SocketRights.h"

namespace quillon {

std::string PrivilegeHint(const std::string& programPath) {
  return "Tracing needs the right to open ICMP sockets. To allow it on this machine, give "
         "Quillon's ICMP helper that right as root with 'setcap cap_net_raw+ep " +
         IcmpHelperHintPath(programPath).string() +
         "' (installing the quillon package does this), or allow ICMP datagram sockets for "
         "your group with the sysctl net.ipv4.ping_group_range; or run it as root.";
}

}  // namespace quillon
