#include "net/ProbeMethod.h"
#include "net/TransportProbe.h"

namespace quillon {

// UDP and TCP need no privilege here: ordinary sockets read the routers'
// errors from their error queue.
std::unique_ptr<TIdProbe> CreateProbe(TProbeMethod method, TIdIPVersion version) {
  if (method == TProbeMethod::pmIcmp) return CreateIcmpProbe(version);
  return CreateTransportProbe(method, version);
}

std::string ProbeMethodRefusal(TProbeMethod /*method*/, TIdIPVersion /*version*/) {
  return {};
}

}  // namespace quillon
