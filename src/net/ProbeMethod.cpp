#include "net/ProbeMethod.h"

#include <cmath>
#include <limits>

#include "platform/Clock.h"

namespace quillon {
namespace {

// ICMP echo through the client the engine always used; a client per probe
// object, so its socket and sequence numbers are this thread's own.
class TIcmpProbe final : public TIdProbe {
 public:
  explicit TIcmpProbe(TIdIPVersion version) { client_.IPVersion = version; }

  void Send(const TProbeRequest& request) override {
    client_.SetOutgoingTtl(request.Ttl);
    client_.ReceiveTimeout = request.TimeOutMs;
    client_.Host = request.Target;
    client_.Echo(request.Payload, request.Sequence);
  }
  const TReplyStatus& LastReply() const override { return client_.LastReply(); }
  std::uint32_t RequestsSent() const override { return client_.RequestsSent; }

 private:
  TIdIcmpClient client_;
};

}  // namespace

const char* ProbeMethodName(TProbeMethod method) {
  switch (method) {
    case TProbeMethod::pmUdp:
      return "UDP";
    case TProbeMethod::pmTcp:
      return "TCP";
    case TProbeMethod::pmIcmp:
      break;
  }
  return "ICMP";
}

bool IsValidProbePort(std::int64_t port) {
  return port >= MinProbePort && port <= MaxProbePort;
}

std::int32_t ProbeDestinationPort(TProbeMethod method, std::int32_t fixedPort,
                                  std::int32_t offset) {
  if (method == TProbeMethod::pmIcmp) return 0;
  if (IsValidProbePort(fixedPort)) return fixedPort;
  if (method == TProbeMethod::pmTcp) return DefaultTcpPort;
  // Far beyond any hop count, but a port stays a port.
  const std::int64_t span = MaxProbePort - MinProbePort + 1;
  std::int64_t port = (std::int64_t{DefaultUdpBasePort} - MinProbePort + offset) % span;
  if (port < 0) port += span;
  return static_cast<std::int32_t>(port + MinProbePort);
}

std::string ProbePortText(TProbeMethod method, std::int32_t fixedPort) {
  if (method == TProbeMethod::pmIcmp) return {};
  const bool growing = method == TProbeMethod::pmUdp && !IsValidProbePort(fixedPort);
  return std::to_string(ProbeDestinationPort(method, fixedPort, 0)) + (growing ? "+" : "");
}

std::string ProbeMethodText(TProbeMethod method, std::int32_t fixedPort) {
  if (method == TProbeMethod::pmIcmp) return ProbeMethodName(method);
  return std::string(ProbeMethodName(method)) + " port " + ProbePortText(method, fixedPort);
}

std::unique_ptr<TIdProbe> CreateIcmpProbe(TIdIPVersion version) {
  return std::make_unique<TIcmpProbe>(version);
}

std::uint32_t ElapsedMicros(std::int64_t counterStart, std::int64_t counterEnd) {
  const std::int64_t frequency = QueryPerformanceFrequency();
  // Converted before multiplying, so that a very long unlimited wait cannot
  // overflow; below 2^53 the result is the same as an exact 64-bit product.
  std::int64_t micros = 1;
  if (frequency > 0) {
    const double exact = std::nearbyint(static_cast<double>(counterEnd - counterStart) *
                                        1'000'000.0 / static_cast<double>(frequency));
    if (exact > 1.0)
      micros = exact < 9.0e18 ? static_cast<std::int64_t>(exact)
                              : std::numeric_limits<std::int64_t>::max();
  }
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(micros));
}

}  // namespace quillon
