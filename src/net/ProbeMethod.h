// How a trace probes: ICMP echo, UDP to a closed port, or a TCP connect. Every
// method sends one probe with a TTL, waits up to the time-out and hands up the
// same TReplyStatus the engine reads: time exceeded is rskTtlExpired; the
// target reached (an echo reply, a UDP port unreachable from the target, a TCP
// SYN-ACK or reset from it) is rskEchoReply from the target; an unreachable
// keeps its code. The build picks the platform's implementations
// (ProbeMethodPosix.cpp, ProbeMethodWindows.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "net/IdIPAddress.h"
#include "net/IdIcmpClient.h"

namespace quillon {

enum class TProbeMethod : std::uint8_t { pmIcmp = 0, pmUdp = 1, pmTcp = 2 };

// UDP goes to this port plus the probe's offset unless a port is fixed.
constexpr std::int32_t DefaultUdpBasePort = 33434;
constexpr std::int32_t DefaultTcpPort = 80;
constexpr std::int32_t MinProbePort = 1;
constexpr std::int32_t MaxProbePort = 65535;

// "ICMP", "UDP", "TCP": the reports and messages name a method so.
const char* ProbeMethodName(TProbeMethod method);
// 1 to 65535.
bool IsValidProbePort(std::int64_t port);
// The destination port a probe goes to: the fixed port (non-zero), else the
// method's default, for UDP 33434 plus the offset (wrapping within 1..65535).
// ICMP has none: 0.
std::int32_t ProbeDestinationPort(TProbeMethod method, std::int32_t fixedPort, std::int32_t offset);
// The port as reports show it: "" for ICMP, "33434+" for UDP's default (it
// grows with the TTL), else the number.
std::string ProbePortText(TProbeMethod method, std::int32_t fixedPort);
// What a report's heading says of the method: "ICMP", "UDP port 33434+" (the
// default, which grows with the TTL), "UDP port 53", "TCP port 80".
std::string ProbeMethodText(TProbeMethod method, std::int32_t fixedPort);

// One probe to send.
struct TProbeRequest {
  std::string Target;  // address text of either family
  std::int32_t Ttl = 0;
  std::int32_t TimeOutMs = 0;
  std::int32_t Port = 0;          // the destination port (UDP, TCP)
  std::uint16_t Sequence = 0;     // the echo request's sequence number (ICMP)
  std::string Payload = "asdas";  // what an echo request (ICMP) or a UDP datagram carries
};

// One method's probe: each Send sends one probe and waits for its answer.
// Made by CreateProbe on the thread that uses it; a probe object serves one
// thread, and its construction and release take GSocketStackLock as every
// socket-layer component does.
class TIdProbe {
 public:
  TIdProbe() = default;
  TIdProbe(const TIdProbe&) = delete;
  TIdProbe& operator=(const TIdProbe&) = delete;
  virtual ~TIdProbe() = default;

  // Sends the probe and waits up to its time-out; the outcome goes to
  // LastReply (nobody answering: rskTimedOut from "0.0.0.0"). Raises when the
  // probe could not go out (RequestsSent did not grow) or the wait failed.
  virtual void Send(const TProbeRequest& request) = 0;
  virtual const TReplyStatus& LastReply() const = 0;
  // Probes that went out whole.
  virtual std::uint32_t RequestsSent() const = 0;
};

// The probe of the method for this platform and the family. Raises EIdException
// with ProbeMethodRefusal's text where the platform cannot probe so.
std::unique_ptr<TIdProbe> CreateProbe(TProbeMethod method, TIdIPVersion version);
// Why this platform cannot trace the family with the method, naming the method
// that works; empty when it can. Checked before a trace starts.
std::string ProbeMethodRefusal(TProbeMethod method, TIdIPVersion version);

// ICMP echo through the ICMP client, as the engine always probed.
std::unique_ptr<TIdProbe> CreateIcmpProbe(TIdIPVersion version);

// Microseconds between two readings of the high-resolution counter, at least 1.
std::uint32_t ElapsedMicros(std::int64_t counterStart, std::int64_t counterEnd);

}  // namespace quillon
