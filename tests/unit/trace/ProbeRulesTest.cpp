// The rules of a run's probes as tables: the count in flight, whether the next
// probe may go, and where the route ends whatever order the results came in.
#include "trace/ProbeRules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace quillon {
namespace {

TEST(ProbesInFlight, OnlyOneToSixtyFourCanBeMade) {
  EXPECT_EQ(TProbesInFlight().Count(), 5);
  for (const std::int64_t count : {1, 5, 16, 64}) {
    ASSERT_TRUE(TProbesInFlight::Of(count)) << count;
    EXPECT_EQ(TProbesInFlight::Of(count)->Count(), count);
  }
  for (const std::int64_t count : {-1LL, 0LL, 65LL, 1LL << 32}) {
    EXPECT_FALSE(TProbesInFlight::Of(count)) << count;
  }
}

TEST(MayLaunchProbe, EachConditionRefusesOnItsOwn) {
  const TLaunchState go{.StopRequested = false,
                        .RouteEndFound = false,
                        .Ttl = 30,
                        .MaxHops = 30,
                        .UnderWay = 15,
                        .Limit = *TProbesInFlight::Of(16)};
  struct Row {
    const char* name;
    TLaunchState state;
    bool may;
  };
  const auto with = [&go](auto change) {
    TLaunchState state = go;
    change(state);
    return state;
  };
  const Row rows[] = {
      {"the last TTL, the last free place", go, true},
      {"Stop pressed", with([](auto& s) { s.StopRequested = true; }), false},
      {"route end known", with([](auto& s) { s.RouteEndFound = true; }), false},
      {"beyond the hop limit", with([](auto& s) { s.Ttl = 31; }), false},
      {"the limit under way", with([](auto& s) { s.UnderWay = 16; }), false},
      {"one at a time, none under way", with([](auto& s) { s.UnderWay = 0, s.Limit = {}; }), true},
      {"one at a time, one under way",
       with([](auto& s) { s.UnderWay = 1, s.Limit = *TProbesInFlight::Of(1); }), false},
      {"every TTL at once",
       with([](auto& s) { s.UnderWay = 63, s.Limit = *TProbesInFlight::Of(64); }), true},
  };
  for (const Row& row : rows) EXPECT_EQ(MayLaunchProbe(row.state), row.may) << row.name;
}

// One letter per TTL from 1: 'a' answered, 's' silent, 'f' the target's echo
// reply (finishing), 'z' silent at the hop limit (finishing), '.' not yet
// reported.
std::vector<std::optional<THopOutcome>> Outcomes(const std::string& ttls) {
  std::vector<std::optional<THopOutcome>> outcomes(ttls.size() + 1);
  for (std::size_t i = 0; i < ttls.size(); ++i) {
    const char c = ttls[i];
    if (c != '.')
      outcomes[i + 1] =
          THopOutcome{.Silent = c == 's' || c == 'z', .Finishing = c == 'f' || c == 'z'};
  }
  return outcomes;
}

TEST(JudgeRoute, TableOfArrivedResults) {
  struct Row {
    const char* name;
    std::string ttls;
    bool found;
    int length, lastKept, highest, silent;
  };
  const Row rows[] = {
      {"nothing yet", "", false, 500, 500, 0, 0},
      {"routers so far", "aaa", false, 500, 500, 3, 0},
      {"the target at 4", "aaaf", true, 4, 4, 4, 0},
      {"target replies above it do not count", "aafff", true, 3, 3, 3, 0},
      {"the target first, the hops below still under way", "..f", true, 3, 3, 3, 0},
      {"an answer above a gap is shown, the gap waited for", "a.a", false, 500, 500, 3, 0},
      {"three silent do not end it", "asssa", false, 500, 500, 5, 3},
      {"the fourth silent in TTL order ends it", "assssa", true, 1, 5, 1, 4},
      {"silent anywhere, not only in a row", "sasasas", true, 6, 7, 6, 4},
      {"no hop answers", "ssss", true, 0, 4, 0, 4},
      {"a gap below the fourth silent: not yet", "a.sssss", false, 500, 500, 1, 0},
      {"silence below the target wins", "ssssf", true, 0, 4, 0, 4},
      {"silence above the target does not count", "afssss", true, 2, 2, 2, 0},
      {"the hop limit reached silently", "aaz", true, 3, 3, 2, 1},
      {"the hop limit as the fourth silent", "asssz", true, 1, 5, 1, 4},
  };
  for (const Row& row : rows) {
    const TRouteEnd route = JudgeRoute(Outcomes(row.ttls));
    EXPECT_EQ(route.Found, row.found) << row.name;
    EXPECT_EQ(route.Length, row.length) << row.name;
    EXPECT_EQ(route.LastKept, row.lastKept) << row.name;
    EXPECT_EQ(route.HighestAnswering, row.highest) << row.name;
    EXPECT_EQ(route.SilentCount, row.silent) << row.name;
  }
}

TEST(JudgeRoute, EveryOrderOfArrivalEndsAlike) {
  // Results arriving one by one in every order of TTLs 1..6 each pass through
  // the same final route, and never a different end on the way once one is known.
  for (const std::string ttls : {"asssas", "aaafaa", "sasass", "aasaaz"}) {
    std::vector<int> order{1, 2, 3, 4, 5, 6};
    const TRouteEnd final = JudgeRoute(Outcomes(ttls));
    do {
      std::string arrived(ttls.size(), '.');
      for (const int ttl : order) {
        arrived[static_cast<std::size_t>(ttl - 1)] = ttls[static_cast<std::size_t>(ttl - 1)];
        const TRouteEnd route = JudgeRoute(Outcomes(arrived));
        if (route.Found) {
          EXPECT_GE(route.Length, final.Length) << ttls << " " << arrived;
        }
      }
      const TRouteEnd route = JudgeRoute(Outcomes(arrived));
      EXPECT_EQ(route.Length, final.Length) << ttls;
      EXPECT_EQ(route.SilentCount, final.SilentCount) << ttls;
    } while (std::next_permutation(order.begin(), order.end()));
  }
}

}  // namespace
}  // namespace quillon
