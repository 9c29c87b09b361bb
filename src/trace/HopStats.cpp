#include "trace/HopStats.h"

#include <algorithm>
#include <cmath>

namespace quillon {
namespace {

// How sure the loss-here-only test must be (one-sided, about 98 %).
constexpr double LossTestZ = 2.0;

void CountAddress(THopStats& hop, const std::string& address) {
  const auto used = hop.Addresses.begin() + static_cast<std::ptrdiff_t>(hop.AddressCount);
  const auto known = std::find_if(hop.Addresses.begin(), used,
                                  [&](const TAddressCount& a) { return a.Address == address; });
  if (known != used) {
    ++known->Count;
  } else if (hop.AddressCount < MaxHopAddresses) {
    hop.Addresses[hop.AddressCount++] = {address, 1};
  }
}

void AddTime(THopStats& hop, double ms) {
  if (hop.LastMs) {
    const double jitter = std::fabs(ms - *hop.LastMs);
    ++hop.JitterCount;
    hop.JitterMeanMs += (jitter - hop.JitterMeanMs) / hop.JitterCount;
    hop.JitterMaxMs = std::max(hop.JitterMaxMs, jitter);
  }
  hop.LastMs = ms;
  hop.BestMs = hop.BestMs ? std::min(*hop.BestMs, ms) : ms;
  hop.WorstMs = hop.WorstMs ? std::max(*hop.WorstMs, ms) : ms;
  // Welford: the mean and the squared deviations without the times themselves.
  const double delta = ms - hop.MeanMs;
  hop.MeanMs += delta / hop.Received;
  hop.M2 += delta * (ms - hop.MeanMs);
}

}  // namespace

std::optional<double> THopStats::LossPercent() const {
  if (Done() == 0) return std::nullopt;
  return 100.0 * Lost() / Done();
}

std::optional<double> THopStats::AverageMs() const {
  return Received > 0 ? std::optional<double>(MeanMs) : std::nullopt;
}

std::optional<double> THopStats::StdDevMs() const {
  return Received > 1 ? std::optional<double>(std::sqrt(M2 / (Received - 1))) : std::nullopt;
}

std::optional<double> THopStats::JitterAvgMs() const {
  return JitterCount > 0 ? std::optional<double>(JitterMeanMs) : std::nullopt;
}

std::optional<double> THopStats::JitterWorstMs() const {
  return JitterCount > 0 ? std::optional<double>(JitterMaxMs) : std::nullopt;
}

std::string THopStats::MainAddress() const {
  const TAddressCount* main = nullptr;
  for (std::size_t i = 0; i < AddressCount; ++i) {
    if (main == nullptr || Addresses[i].Count > main->Count) main = &Addresses[i];
  }
  return main != nullptr ? main->Address : std::string();
}

void UpdateHopStats(THopStats& hop, TProbeOutcome outcome, double rttMs,
                    const std::string& address) {
  if (outcome == TProbeOutcome::poSent) {
    ++hop.Sent;
    ++hop.InFlight;
    return;
  }
  if (hop.InFlight > 0) {
    --hop.InFlight;
  } else {
    ++hop.Sent;
  }
  if (outcome == TProbeOutcome::poLost) return;
  ++hop.Received;
  AddTime(hop, rttMs);
  CountAddress(hop, address);
}

bool LossHereOnly(const std::vector<THopStats>& hops, std::size_t index) {
  if (index >= hops.size()) return false;
  const THopStats& here = hops[index];
  if (here.Received == 0 || here.Lost() == 0) return false;
  for (std::size_t later = index + 1; later < hops.size(); ++later) {
    const THopStats& there = hops[later];
    if (there.Received == 0) continue;
    const double n1 = here.Done();
    const double n2 = there.Done();
    const double p1 = here.Lost() / n1;
    const double p2 = there.Lost() / n2;
    const double pooled = (here.Lost() + there.Lost()) / (n1 + n2);
    const double error = std::sqrt(pooled * (1 - pooled) * (1 / n1 + 1 / n2));
    // p1 > p2 leaves the pooled share strictly between 0 and 1: error > 0.
    if (p1 > p2 && (p1 - p2) / error >= LossTestZ) return true;
  }
  return false;
}

}  // namespace quillon
