#include "trace/ProbeRules.h"

#include <algorithm>

namespace quillon {

std::optional<TProbesInFlight> TProbesInFlight::Of(std::int64_t count) {
  if (count < 1 || count > Max) return std::nullopt;
  return TProbesInFlight(static_cast<int>(count));
}

bool MayLaunchProbe(const TLaunchState& state) {
  return !state.StopRequested && !state.RouteEndFound && state.Ttl <= state.MaxHops &&
         state.UnderWay < state.Limit.Count();
}

TRouteEnd JudgeRoute(const std::vector<std::optional<THopOutcome>>& outcomes) {
  TRouteEnd route;
  const auto last = static_cast<std::int32_t>(
      std::min<std::size_t>(outcomes.empty() ? 0 : outcomes.size() - 1, MaxHopEntries));
  const auto outcome = [&](std::int32_t n) { return outcomes[static_cast<std::size_t>(n)]; };

  for (std::int32_t n = 1; n <= last; ++n) {
    if (outcome(n) && outcome(n)->Finishing) {
      route.Found = true;
      route.Length = route.LastKept = n;
      break;
    }
  }

  std::int32_t highestInOrder = 0;
  for (std::int32_t n = 1; n <= std::min(last, route.LastKept) && outcome(n); ++n) {
    if (!outcome(n)->Silent) {
      highestInOrder = n;
    } else if (++route.SilentCount == SilentResultsThatEndTheRoute) {
      route.Found = true;
      route.Length = highestInOrder;
      route.LastKept = n;
      break;
    }
  }

  for (std::int32_t n = std::min(last, route.LastKept); n >= 1; --n) {
    if (outcome(n) && !outcome(n)->Silent) {
      route.HighestAnswering = n;
      break;
    }
  }
  return route;
}

}  // namespace quillon
