// "May another probe go?" and where the route ends, as tables: the end depends
// on which TTLs reported, never on the order they came in.
#include "trace/ProbeRules.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace quillon {
namespace {

TEST(MayLaunchProbe, EachConditionRefusesOnItsOwn) {
  // Stop, end found, TTL (of 30 hops), under way, in-flight limit: may it go?
  const std::tuple<const char*, bool, bool, int, int, int, bool> rows[] = {
      {"the last TTL, the last free place", false, false, 30, 15, 16, true},
      {"Stop pressed", true, false, 30, 15, 16, false},
      {"the route's end known", false, true, 30, 15, 16, false},
      {"beyond the hop limit", false, false, 31, 15, 16, false},
      {"the limit under way", false, false, 30, 16, 16, false},
      {"one at a time", false, false, 2, 1, 1, false},
      {"every TTL at once", false, false, 30, 63, 64, true},
  };
  for (const auto& [name, stop, endFound, ttl, underWay, limit, may] : rows) {
    EXPECT_EQ(MayLaunchProbe({stop, endFound, ttl, 30, underWay, *TProbesInFlight::Of(limit)}), may)
        << name;
  }
}

// One letter per TTL from 1: 'a' answered, 's' silent, 'f' the target's echo
// reply, 'z' silent at the hop limit (both finishing), '.' not reported yet.
// Expected: found, length, last kept, highest answering, silent count.
TEST(JudgeRoute, TableOfTheResultsThatArrived) {
  const std::tuple<const char*, std::string, std::tuple<bool, int, int, int, int>> rows[] = {
      {"routers so far", "aaa", {false, 500, 500, 3, 0}},
      {"the target at 4", "aaaf", {true, 4, 4, 4, 0}},
      {"target replies above it do not count", "aafff", {true, 3, 3, 3, 0}},
      {"the target first, the hops below still under way", "..f", {true, 3, 3, 3, 0}},
      {"an answer above a gap shows; the gap is waited for", "a.a", {false, 500, 500, 3, 0}},
      {"the fourth silent in TTL order ends it", "assssa", {true, 1, 5, 1, 4}},
      {"silent anywhere, not only in a row", "sasasas", {true, 6, 7, 6, 4}},
      {"no hop answers", "ssss", {true, 0, 4, 0, 4}},
      {"a gap below four silent: not yet", "a.ssss", {false, 500, 500, 1, 0}},
      {"silence below the target wins", "ssssf", {true, 0, 4, 0, 4}},
      {"silence above the target does not count", "afssss", {true, 2, 2, 2, 0}},
      {"the hop limit reached silently", "aaz", {true, 3, 3, 2, 1}},
      {"the hop limit as the fourth silent", "asssz", {true, 1, 5, 1, 4}},
  };
  for (const auto& [name, ttls, expected] : rows) {
    std::vector<std::optional<THopOutcome>> outcomes(ttls.size() + 1);
    for (std::size_t i = 0; i < ttls.size(); ++i) {
      const char c = ttls[i];
      if (c != '.') outcomes[i + 1] = THopOutcome{c == 's' || c == 'z', c == 'f' || c == 'z'};
    }
    const TRouteEnd r = JudgeRoute(outcomes);
    EXPECT_EQ(std::tuple(r.Found, r.Length, r.LastKept, r.HighestAnswering, r.SilentCount),
              expected)
        << name;
  }
}

}  // namespace
}  // namespace quillon
