#include "net/IdException.h"
#include "net/ProbeMethod.h"
#include "net/TcpProbeWindows.h"

namespace quillon {

namespace {

// The default firewall keeps the ICMP errors that UDP probes need from
// ordinary programs.
constexpr const char* kUdpRefusal =
    "UDP probes are not available on Windows: trace with --tcp or with ICMP.";
// Where TCP probes are refused too.
constexpr const char* kUdpRefusalIcmpOnly =
    "UDP probes are not available on Windows: trace with ICMP.";

}  // namespace

std::unique_ptr<TIdProbe> CreateProbe(TProbeMethod method, TIdIPVersion version) {
  switch (method) {
    case TProbeMethod::pmUdp:
      throw EIdException(kUdpRefusal);
    case TProbeMethod::pmTcp:
      return CreateTcpProbeWindows(version);
    case TProbeMethod::pmIcmp:
      break;
  }
  return CreateIcmpProbe(version);
}

std::string ProbeMethodRefusal(TProbeMethod method, TIdIPVersion version) {
  switch (method) {
    case TProbeMethod::pmUdp:
      return TcpProbeRefusalWindows(version).empty() ? kUdpRefusal : kUdpRefusalIcmpOnly;
    case TProbeMethod::pmTcp:
      return TcpProbeRefusalWindows(version);
    case TProbeMethod::pmIcmp:
      break;
  }
  return {};
}

}  // namespace quillon
