#include "trace/SocketRights.h"

#include "net/IdStackWindows.h"

namespace quillon {

std::string PrivilegeHint(const std::string& programPath) {
  // No right would help where the system has no ICMPv6 at all.
  if (const std::int32_t refusal = IcmpV6Unavailable(); refusal != 0) {
    return "Tracing over IPv6 needs ICMPv6, which this system does not offer: its ICMP service "
           "has no IPv6 and it refused a raw ICMPv6 socket (socket error " +
           std::to_string(refusal) + "). Trace over IPv4 with -4.";
  }
  return "Tracing needs the system's ICMP service (iphlpapi.dll), which could not be used, "
         "or raw ICMP sockets, which Windows gives administrators only: run " +
         programPath + " --raw-sockets from a console opened with 'Run as administrator'.";
}

}  // namespace quillon
