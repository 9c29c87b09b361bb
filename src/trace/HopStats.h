// One hop's statistics over every round of a run, in constant memory: counts, the
// last, best and worst time, a running mean and sum of squared deviations
// (Welford), the jitter between consecutive times and the addresses that
// answered with their counts. No list of times is ever kept.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillon {

// What became of one probe attempt.
enum class TProbeOutcome {
  poSent,      // sent; its wait has not ended
  poAnswered,  // a sent attempt was answered (with a time and an address)
  poLost,      // a sent attempt's wait ended without an answer
};

// The most addresses a hop keeps; a seventeenth is still counted as received
// but not named, so that memory stays bounded on a route that changes often.
constexpr std::size_t MaxHopAddresses = 16;

struct TAddressCount {
  std::string Address;
  std::uint32_t Count = 0;
};

struct THopStats {
  std::uint32_t Sent = 0;
  std::uint32_t Received = 0;
  std::uint32_t InFlight = 0;
  std::optional<double> LastMs;
  std::optional<double> BestMs;
  std::optional<double> WorstMs;
  double MeanMs = 0;              // of the received times
  double M2 = 0;                  // sum of squared deviations from the mean
  std::uint32_t JitterCount = 0;  // differences between consecutive times
  double JitterMeanMs = 0;
  double JitterMaxMs = 0;
  std::array<TAddressCount, MaxHopAddresses> Addresses{};  // Count 0: unused
  std::size_t AddressCount = 0;

  // Attempts whose wait has ended, and those of them without an answer.
  std::uint32_t Done() const { return Sent - InFlight; }
  std::uint32_t Lost() const { return Done() - Received; }
  // Of the attempts whose wait has ended; none yet: no figure.
  std::optional<double> LossPercent() const;
  std::optional<double> AverageMs() const;
  // The sample standard deviation (n - 1); needs two times.
  std::optional<double> StdDevMs() const;
  // The mean and the largest absolute difference between consecutive times.
  std::optional<double> JitterAvgMs() const;
  std::optional<double> JitterWorstMs() const;
  // The address that answered most often (the first of equals); "" when none.
  std::string MainAddress() const;
};

// The one writer of a hop's statistics. poAnswered takes the time and the
// address; the others ignore them. An answer or loss without a sent attempt in
// flight counts as sent too, so that a report can never make the counts disagree.
void UpdateHopStats(THopStats& hop, TProbeOutcome outcome, double rttMs = 0,
                    const std::string& address = {});

// Loss here only: the hop lost answers that the hops after it did not, so the
// router limits its ICMP answers while packets pass. True when the hop answered
// some probes and lost others, and a later hop that answered lost clearly fewer
// (a two-proportion test, so that chance on a lossy link carried to the target
// is not taken for it). hops[0] is the first hop.
bool LossHereOnly(const std::vector<THopStats>& hops, std::size_t index);

// The explanation of the hint, in the report's footnote and the windows' tooltip.
inline constexpr const char* LossHereOnlyText =
    "loss here only: the router limits its ICMP answers, packets pass";

}  // namespace quillon
