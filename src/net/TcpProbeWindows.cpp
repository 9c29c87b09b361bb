#include "net/TcpProbeWindows.h"

#include "net/IdException.h"

namespace quillon {

std::string TcpProbeRefusalWindows(TIdIPVersion /*version*/) {
  return "TCP probes are not available on this system: trace with ICMP (without --tcp).";
}

std::unique_ptr<TIdProbe> CreateTcpProbeWindows(TIdIPVersion version) {
  throw EIdException(TcpProbeRefusalWindows(version));
}

}  // namespace quillon
