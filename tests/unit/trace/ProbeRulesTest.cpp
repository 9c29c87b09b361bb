// "May another probe go?" and where the route ends, as tables: the end depends
// on which TTLs reported, never on the order they came in. Then the pace of
// later rounds on a virtual clock.
#include "trace/ProbeRules.h"

#include <gtest/gtest.h>

#include "trace/RoundScheduler.h"

#include <cstdio>
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

std::string Listed(const std::vector<std::int32_t>& numbers) {
  std::string text;
  for (const auto n : numbers) text += (text.empty() ? "" : " ") + std::to_string(n);
  return text;
}

// Four rounds 250 ms apart, a time-out of 1000 ms, on a tick count that wraps
// 256 ms in. Each step, at a time from the start, asks one question: "due",
// "start ROUND LENGTH" (its probes get serial ROUND*10+TTL), "report SERIAL",
// "ended" (round.TTL of each), "done" (later rounds done) or "next" (ms).
TEST(RoundScheduler, DecisionsOnAVirtualClock) {
  const std::uint32_t start = 0xFFFFFF00u;
  TRoundScheduler s;
  s.Begin({.StartTick = start, .IntervalMs = 250, .Rounds = 4, .TimeOutMs = 1000});
  const auto ask = [&](std::uint32_t now, const std::string& step) -> std::string {
    int round = 0, length = 0;
    unsigned serial = 0;
    if (step == "due") return Listed(s.DueRounds(now, 3));
    if (step == "done") return std::to_string(s.LaterRoundsDone());
    if (step == "next") {
      const auto next = s.NextEventIn(now);
      return next ? std::to_string(*next) : "none";
    }
    if (std::sscanf(step.c_str(), "start %d %d", &round, &length) == 2) {
      s.StartRound(round);
      const auto ttls = s.TtlsToSend(length);
      for (const auto ttl : ttls) s.Sent({round, ttl, now, std::uint64_t(round * 10 + ttl)});
      return Listed(ttls);
    }
    const auto text = [](const TRoundProbe& p) {
      return std::to_string(p.Round) + "." + std::to_string(p.Ttl);
    };
    if (std::sscanf(step.c_str(), "report %u", &serial) == 1) {
      const auto probe = s.Reported(serial);
      return probe ? text(*probe) : "none";
    }
    std::string ended;
    for (const auto& probe : s.TakeEndedWaits(now))
      ended += (ended.empty() ? "" : " ") + text(probe);
    return ended;
  };
  const std::tuple<int, const char*, const char*, const char*> rows[] = {
      {249, "due", "", "not a millisecond early"},
      {250, "due", "2", "on time across the tick count's wrap"},
      {250, "start 2 3", "1 2 3", "one probe per hop of the route as known"},
      {600, "due", "3", "a window thread held up starts it late, not never"},
      {600, "start 3 3", "1 2 3", "whatever round 2 has outstanding"},
      {600, "next", "150", "round 4 at its own time, not 250 after round 3"},
      {700, "report 22", "2.2", "a late answer lands in its own round"},
      {700, "report 22", "none", "and only once"},
      {1500, "due", "4", ""},
      {1500, "start 4 2", "1 2", "a shorter route, fewer probes"},
      {1600, "due", "", "no fifth round of four"},
      {2249, "ended", "", "the time-out and the report's grace are not over"},
      {2250, "ended", "2.1 2.3", "round 2's unanswered probes are lost"},
      {2250, "next", "350", "the next wait to end: round 3's"},
      {3500, "ended", "3.1 3.2 3.3 4.1 4.2", ""},
      {3500, "done", "3", ""},
      {3500, "next", "none", "nothing ahead: the run may end"},
  };
  for (const auto& [at, step, answer, why] : rows) {
    EXPECT_EQ(ask(start + static_cast<std::uint32_t>(at), step), answer)
        << at << " " << step << ": " << why;
  }
}

TEST(RoundScheduler, UntilStopCatchesUpAndOutstandingProbesAreBounded) {
  TRoundScheduler s;
  s.Begin({.StartTick = 0, .IntervalMs = 250, .Rounds = 0, .TimeOutMs = 9000});
  EXPECT_EQ(Listed(s.DueRounds(1000, 30)), "2 3 4 5");
  for (std::uint64_t i = 0; i < MaxOutstandingRoundProbes - 62; ++i) s.Sent({2, 1, 0, i});
  EXPECT_EQ(Listed(s.DueRounds(1000, 30)), "2 3") << "as many rounds as fit below the bound";
  EXPECT_EQ(Listed(s.DueRounds(1000, 0)), "2 3 4 5") << "a round of no probes costs one";
  s.StartRound(3);
  for (std::uint64_t i = 0; i < 60; ++i) s.Sent({3, 1, 0, 1000 + i});
  EXPECT_EQ(Listed(s.DueRounds(1000, 30)), "") << "round 4 waits for room";
  EXPECT_TRUE(s.Overdue(1000));
  EXPECT_EQ(s.NextEventIn(1000), 9000 + ReportGraceMs - 1000) << "the first wait's end, no spin";
  EXPECT_EQ(Listed(s.TtlsToSend(30)), "1 2") << "only what fits below the bound";
  s.Sent({3, 1, 0, 2000});
  s.Sent({3, 2, 0, 2001});
  EXPECT_FALSE(s.Fits());
  EXPECT_EQ(Listed(s.TtlsToSend(30)), "");
  EXPECT_TRUE(s.MoreRounds()) << "until Stop";
}

}  // namespace
}  // namespace quillon
