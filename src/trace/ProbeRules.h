// The rules a run's probes follow, as pure functions of the run's state: how
// many probes may be under way, whether the next one may go, and where the
// route ends. The window applies them; tests walk them as tables.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace quillon {

// Hop entries 1..500; a TTL never exceeds it.
constexpr int MaxHopEntries = 500;
// The fourth silent result, counted in TTL order, ends the route.
constexpr int SilentResultsThatEndTheRoute = 4;

// How many probes a run keeps under way at once: 1 to 64, five unless asked.
// Only a count in range can be made, so a run never checks it again.
class TProbesInFlight {
 public:
  static constexpr int Default = 5;
  static constexpr int Max = 64;

  constexpr TProbesInFlight() = default;
  // Nothing for a count outside 1..64.
  static std::optional<TProbesInFlight> Of(std::int64_t count);
  constexpr int Count() const { return count_; }
  friend constexpr bool operator==(TProbesInFlight, TProbesInFlight) = default;

 private:
  constexpr explicit TProbesInFlight(int count) : count_(count) {}
  int count_ = Default;
};

// What "may another probe go?" looks at, all of the current run.
struct TLaunchState {
  bool StopRequested = false;
  bool RouteEndFound = false;
  std::int32_t Ttl = 0;  // the TTL the probe would carry
  std::int32_t MaxHops = 0;
  int UnderWay = 0;  // probes of this run that have not reported yet
  TProbesInFlight Limit;
};

// A probe may go when
//   1. Stop was not pressed,
//   2. the route's end is not known yet,
//   3. its TTL is within the hop limit, and
//   4. fewer probes than the limit are under way.
// The run asks once for each TTL, in turn: no TTL ever has two probes
// outstanding (a probe's attempts may go out together, see TPingThread).
bool MayLaunchProbe(const TLaunchState& state);

// One probe's result as the end-of-route rules read it.
struct THopOutcome {
  bool Silent = false;     // no address answered
  bool Finishing = false;  // the target's echo reply, or the hop limit reached
};

// Where the route ends, as far as the results that arrived tell it.
struct TRouteEnd {
  bool Found = false;
  std::int32_t Length = MaxHopEntries;  // hop entries that make up the route
  // Results of TTLs above this one no longer count: the route ended at or
  // below it. Entries beyond it are discarded.
  std::int32_t LastKept = MaxHopEntries;
  std::int32_t HighestAnswering = 0;  // highest answering TTL kept
  std::int32_t SilentCount = 0;       // silent results counted in TTL order
};

// The route of one run, from the outcomes of the TTLs that reported
// (outcomes[n] for TTL n; index 0 unused). A function of which results
// arrived, never of their order:
//   1. The lowest finishing TTL ends the route; nothing above it counts.
//   2. Walking the TTLs from 1 while each has reported, the fourth silent one
//      ends the route at the highest answering TTL below it.
// So a rule that needs a result still under way waits for it, and every
// number of probes in flight gives the rows of a run that probed one TTL at a
// time.
TRouteEnd JudgeRoute(const std::vector<std::optional<THopOutcome>>& outcomes);

}  // namespace quillon
