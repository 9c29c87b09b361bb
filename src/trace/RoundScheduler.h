// The pace of a run of several rounds: when each round starts, which probes a
// round sends, which waits have ended, and how many probes may be outstanding.
// Every decision is a function of the clock value it is given, the interval
// and what is outstanding, so tests walk it on a virtual clock; the window
// applies the decisions (TraceRounds.cpp).
//
// Round 1 is the ordinary trace and keeps its own rules. Round k > 1 starts at
// the run's start + (k - 1) x interval, whatever is still outstanding, and sends
// one probe per hop with no further attempt. Each probe carries its round and
// TTL, so an answer counts for its own round however late it comes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace quillon {

// The most probes of later rounds outstanding at once; a round that would
// exceed it starts once its probes fit.
constexpr std::size_t MaxOutstandingRoundProbes = 256;
// How long after its time-out a probe that has not reported is taken as lost:
// the worker's own wait ends at the time-out, this only covers its report.
constexpr std::int32_t ReportGraceMs = 1000;

struct TRoundPace {
  std::uint32_t StartTick = 0;  // the run's start
  std::int32_t IntervalMs = 1000;
  std::int32_t Rounds = 1;  // 0: until Stop
  std::int32_t TimeOutMs = 5000;
};

struct TRoundProbe {
  std::int32_t Round = 0;
  std::int32_t Ttl = 0;
  std::uint32_t SentTick = 0;
  std::uint64_t Serial = 0;  // the worker's, repeated in its report
  // Sent past the route's end because a router answered there.
  bool Extends = false;
};

class TRoundScheduler {
 public:
  // A new run: round 1 started at pace.StartTick, nothing outstanding.
  void Begin(const TRoundPace& pace);
  const TRoundPace& Pace() const { return pace_; }
  // The latest round started (1 from Begin on).
  std::int32_t Started() const { return started_; }
  // Another round will start (always, until Stop, for Rounds 0).
  bool MoreRounds() const { return pace_.Rounds == 0 || started_ < pace_.Rounds; }

  // Rounds whose start has come by `now` and that have not started, in order,
  // as many as fit beside those outstanding with `length` probes each.
  std::vector<std::int32_t> DueRounds(std::uint32_t now, std::int32_t length) const;
  // The next round's start has come (it may be waiting for room).
  bool Overdue(std::uint32_t now) const;
  // Marks the round started (every round before it too).
  void StartRound(std::int32_t round);
  // The TTLs a starting round probes for a route of `length` hops: 1..length,
  // as many as fit beside what is outstanding (all, when DueRounds let it start).
  std::vector<std::int32_t> TtlsToSend(std::int32_t length) const;
  // Whether one more probe fits beside those outstanding.
  bool Fits() const { return outstanding_.size() < MaxOutstandingRoundProbes; }

  void Sent(const TRoundProbe& probe);
  // The probe whose worker reported, taken from the outstanding ones; nothing
  // when its wait had ended already (then it was counted lost).
  std::optional<TRoundProbe> Reported(std::uint64_t serial);
  // Outstanding probes whose wait has ended by `now` without a report, taken
  // from the outstanding ones.
  std::vector<TRoundProbe> TakeEndedWaits(std::uint32_t now);
  // Milliseconds from `now` to the next round's start or the first wait's end,
  // whichever comes first; nothing when neither is ahead.
  std::optional<std::int32_t> NextEventIn(std::uint32_t now) const;

  // The run stops: nothing outstanding is waited for any more.
  void Abandon() { outstanding_.clear(); }
  std::size_t Outstanding() const { return outstanding_.size(); }
  // Rounds after the first that were started and have nothing outstanding.
  std::int32_t LaterRoundsDone() const;
  // The highest TTL a round has sent so far (0: none).
  std::int32_t TopTtl(std::int32_t round) const;

 private:
  std::uint32_t RoundStart(std::int32_t round) const;
  std::uint32_t WaitEnd(const TRoundProbe& probe) const;
  bool HasOutstanding(std::int32_t round) const;

  TRoundPace pace_;
  std::int32_t started_ = 0;
  std::vector<TRoundProbe> outstanding_;
  // Per round after the first that may still send: its highest TTL sent.
  std::map<std::int32_t, std::int32_t> top_;
};

}  // namespace quillon
