// A run of several rounds: the first round is the ordinary trace; each later one
// repeats only the probing, for the same target and run id, once the one before
// has ended and the interval since its start has passed. A round's probes go
// into every hop's statistics when it ends, for the hops the first round found.
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "platform/Clock.h"
#include "trace/DNSThread.h"
#include "trace/RoundTimer.h"
#include "trace/TraceRouteForm.h"

namespace quillon {
namespace {

std::string LocalTimeText(std::time_t moment) {
  std::tm local{};
  if (!LocalTime(moment, local)) return {};
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

}  // namespace

void TTraceRouteForm::BeginRun() {
  roundTimer_.reset();
  RunRounds = std::max(0, Rounds);
  Round = 1;
  RoundsDone = 0;
  Stats.clear();
  keptRows_ = 0;
  committedLength_ = 0;
  roundCommitted_ = false;
  nextRoundDue_ = false;
  roundStartTick_ = GetTickCount();
  StartedAt = LocalTimeText(std::time(nullptr));
  for (auto& entry : Hops) entry.Attempts = 0;
}

bool TTraceRouteForm::HopReported(std::int32_t hop) const {
  const THopEntry& entry = Hops[static_cast<std::size_t>(hop)];
  // The first round is the one-pass trace: its own rule, whatever filled the entry.
  return Round <= 1 ? entry.Filled : entry.Attempts > 0;
}

void TTraceRouteForm::CommitRound() {
  if (roundCommitted_ || Round < 1) return;
  roundCommitted_ = true;
  const std::int32_t reached = std::min(RouteEndFound ? RouteLength : HighestAnsweringHop,
                                        static_cast<std::int32_t>(MaxHopEntries));
  if (Round == 1) committedLength_ = std::max(0, reached);
  if (Stats.size() < static_cast<std::size_t>(committedLength_)) {
    Stats.resize(static_cast<std::size_t>(committedLength_));
  }
  for (std::int32_t hop = 1; hop <= committedLength_; ++hop) {
    const THopEntry& entry = Hops[static_cast<std::size_t>(hop)];
    THopStats& stats = Stats[static_cast<std::size_t>(hop - 1)];
    // Every attempt before the last went unanswered: that is why there was another.
    for (std::int32_t attempt = 1; attempt <= entry.Attempts; ++attempt) {
      const bool answered = attempt == entry.Attempts && entry.Answered;
      UpdateHopStats(stats, TProbeOutcome::poSent);
      UpdateHopStats(stats, answered ? TProbeOutcome::poAnswered : TProbeOutcome::poLost,
                     entry.RoundTripMs, entry.ReplyFrom);
    }
  }
  ++RoundsDone;
  // Later rounds keep the rows of the longest route so far; one round keeps
  // the grid's own rule.
  if (RunRounds != 1) keptRows_ = std::max(keptRows_, reached);
}

bool TTraceRouteForm::RoundsGoOn() {
  if (!Running || RunRounds == 1) return false;
  CommitRound();
  if (StopRequested || (RunRounds > 0 && Round >= RunRounds)) return false;
  // Rounds never overlap: the next starts once this one's last probe has reported.
  if (!ProbeSlotBusy() && !nextRoundDue_) ScheduleNextRound();
  return true;
}

void TTraceRouteForm::ScheduleNextRound() {
  nextRoundDue_ = true;
  nextRoundTag_ = NextWorkerSerial();
  const auto elapsed = static_cast<std::int64_t>(GetTickCount() - roundStartTick_);
  const auto wait = static_cast<std::int32_t>(std::max<std::int64_t>(0, IntervalMs - elapsed));
  roundTimer_.reset();
  if (wait == 0) {
    TMessageQueue::Main().PostMessage(handle_, WM_NEXT_ROUND, 0, 0, nextRoundTag_);
    return;
  }
  roundTimer_ = std::make_unique<TRoundTimer>(handle_, WM_NEXT_ROUND, wait, nextRoundTag_);
  roundTimer_->Start();
}

void TTraceRouteForm::WMNextRound(const TMessage& message) {
  if (!nextRoundDue_ || message.Tag != nextRoundTag_) return;  // cancelled or of another run
  nextRoundDue_ = false;
  if (!Running || StopRequested) {
    CheckRunFinished();
    return;
  }
  ++Round;
  roundCommitted_ = false;
  roundStartTick_ = GetTickCount();
  // The round's own end-of-route rules start afresh; the hop table keeps the
  // last texts, so that the rows stay while the new answers come in.
  RouteEndFound = false;
  LastRequestedTtl = 0;
  HighestAnsweringHop = 0;
  RouteLength = MaxHopEntries;
  SilentCount = 0;
  outcomes_.assign(MaxHopEntries + 1, std::nullopt);
  lastKept_ = MaxHopEntries;
  for (auto& entry : Hops) entry.Attempts = 0;
  Notify();
  try {
    LaunchFirstProbes();
  } catch (...) {
    // No probe could start: the check below ends the run.
  }
  CheckRunFinished();
}

bool TTraceRouteForm::LookupUnderWay(const std::string& address) const {
  return std::any_of(ResolverSlots.begin(), ResolverSlots.end(),
                     [&](const auto& slot) { return slot && slot->Address == address; });
}

}  // namespace quillon
