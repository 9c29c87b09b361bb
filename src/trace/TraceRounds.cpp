// A run of several rounds: the first round is the ordinary trace; each later one
// starts at its time on the run's clock (TRoundScheduler), whatever is still
// outstanding, and sends one probe per hop of the route as known, outside the
// first round's slots. Every probe goes into its hop's statistics when it is
// sent and again when it is answered or its wait ends, in whatever round.
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "platform/Clock.h"
#include "trace/DNSThread.h"
#include "trace/PingThread.h"
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

bool Answered(const TReplyStatus& reply) {
  return !IsSilentAddress(reply.ReplyFrom);
}

}  // namespace

void TTraceRouteForm::BeginRun() {
  roundTimer_.reset();
  RunRounds = std::max(0, Rounds);
  Round = 1;
  RoundsDone = 0;
  Stats.clear();
  keptRows_ = 0;
  firstRoundDone_ = false;
  rounds_.Begin({.StartTick = GetTickCount(), .IntervalMs = IntervalMs, .Rounds = RunRounds});
  StartedAt = LocalTimeText(std::time(nullptr));
}

bool TTraceRouteForm::HopReported(std::int32_t hop) const {
  return Hops[static_cast<std::size_t>(hop)].Filled;
}

void TTraceRouteForm::StartRoundClock() {
  if (RunRounds == 1) return;
  rounds_.Begin({.StartTick = GetTickCount(),
                 .IntervalMs = IntervalMs,
                 .Rounds = RunRounds,
                 .TimeOutMs = TimeOutMs});
  ArmRoundTimer();
}

bool TTraceRouteForm::RoundsGoOn() {
  if (!Running || RunRounds == 1) return false;
  firstRoundDone_ = true;
  UpdateRoundsDone();
  if (StopRequested) return false;
  return rounds_.MoreRounds() || rounds_.Outstanding() > 0;
}

void TTraceRouteForm::EndRounds() {
  roundTimer_.reset();
  // Stopped: answers still on their way are no longer waited for; their
  // probes stay sent with no ended wait, so they count as no loss.
  for (auto& probe : roundProbes_) droppedProbes_.push_back(std::move(probe));
  roundProbes_.clear();
  rounds_.Abandon();
  firstRoundDone_ = true;
  UpdateRoundsDone();
}

void TTraceRouteForm::UpdateRoundsDone() {
  RoundsDone = (firstRoundDone_ ? 1 : 0) + rounds_.LaterRoundsDone();
}

std::int32_t TTraceRouteForm::KnownLength() const {
  return std::max(RouteEndFound ? RouteLength : LastRequestedTtl, keptRows_);
}

void TTraceRouteForm::ArmRoundTimer() {
  roundTimer_.reset();
  const auto wait = rounds_.NextEventIn(GetTickCount());
  // After Stop no round starts, and the run's end sets every wait aside.
  if (!Running || StopRequested || !wait) return;
  nextRoundTag_ = NextWorkerSerial();
  roundTimer_ = std::make_unique<TRoundTimer>(handle_, WM_NEXT_ROUND, *wait, nextRoundTag_);
  roundTimer_->Start();
}

void TTraceRouteForm::WMNextRound(const TMessage& message) {
  if (message.Tag != nextRoundTag_ || !Running) return;  // cancelled or of another run
  try {
    PaceRounds();
  } catch (...) {
    // A round that could not start: the check below decides what follows.
  }
  CheckRunFinished();
}

void TTraceRouteForm::PaceRounds() {
  const std::uint32_t now = GetTickCount();
  for (const TRoundProbe& probe : rounds_.TakeEndedWaits(now)) {
    // Its worker never reported in time: lost; its report, if it comes, is dropped.
    const auto worker = std::find_if(roundProbes_.begin(), roundProbes_.end(),
                                     [&](const auto& w) { return w->Serial == probe.Serial; });
    if (worker != roundProbes_.end()) {
      droppedProbes_.push_back(std::move(*worker));
      roundProbes_.erase(worker);
    }
    CountResult(probe.Ttl, {}, 0);
  }
  if (!StopRequested) {
    const std::int32_t length = std::min(KnownLength(), MaxHops);
    for (const std::int32_t round : rounds_.DueRounds(now, length)) StartLaterRound(round);
  }
  UpdateRoundsDone();
  Notify();
  RefreshGrid();
  ArmRoundTimer();
}

void TTraceRouteForm::StartLaterRound(std::int32_t round) {
  rounds_.StartRound(round);
  Round = round;
  for (const std::int32_t ttl : rounds_.TtlsToSend(std::min(KnownLength(), MaxHops))) {
    LaunchRoundProbe(round, ttl);
  }
}

void TTraceRouteForm::LaunchRoundProbe(std::int32_t round, std::int32_t ttl, bool extends) {
  // A name found in the cache may have ended the run on the way here.
  if (!Running || !rounds_.Fits()) return;
  auto worker = NewProbeWorker(TargetAddress, ttl);
  worker->AttemptLimit = 1;  // an unanswered probe is what loss means
  TPingThread& started = *worker;
  roundProbes_.push_back(std::move(worker));
  try {
    started.Start();
  } catch (...) {
    roundProbes_.pop_back();  // no thread: not sent
    return;
  }
  rounds_.Sent({.Round = round,
                .Ttl = ttl,
                .SentTick = GetTickCount(),
                .Serial = started.Serial,
                .Extends = extends});
  CountSent(ttl);
}

bool TTraceRouteForm::TakeRoundProbeReport(const TMessage& message) {
  const auto poster = std::find_if(roundProbes_.begin(), roundProbes_.end(),
                                   [&](const auto& w) { return w->Serial == message.Tag; });
  if (poster == roundProbes_.end()) return false;
  const std::unique_ptr<TPingThread> worker = std::move(*poster);
  roundProbes_.erase(poster);
  worker->WaitFor();
  if (const auto probe = rounds_.Reported(worker->Serial)) {
    if (worker->Failure.empty()) {
      RecordRoundResult(*probe, *worker);
    } else {
      StopOnProbeFailure(worker->Failure);
    }
  }
  UpdateRoundsDone();
  // A round waiting for room may start now.
  if (Running && !StopRequested && rounds_.Overdue(GetTickCount())) PaceRounds();
  return true;
}

void TTraceRouteForm::RecordRoundResult(const TRoundProbe& probe, const TPingThread& worker) {
  const TReplyStatus& reply = worker.Reply;
  const std::int32_t n = probe.Ttl;
  CountResult(n, reply, worker.ElapsedMs);
  // The first round's entries are its own until it is done.
  if (firstRoundDone_ && Answered(reply)) {
    // Beyond the route as known only a probe sent because a router answered
    // at its end adds a row: the target answering a higher TTL does not.
    if (probe.Extends) keptRows_ = std::max(keptRows_, n);
    if (n <= KnownLength()) ShowRoundAnswer(n, reply, worker.ElapsedMs);
    // A router answering the round's highest TTL at the route's end: the
    // route has grown, and the round goes one hop further.
    if (RouteEndFound && !StopRequested && !Finishing(n, reply) && n >= KnownLength() &&
        n == rounds_.TopTtl(probe.Round)) {
      LaunchRoundProbe(probe.Round, n + 1, true);
    }
  }
  RefreshGrid();
}

void TTraceRouteForm::ShowRoundAnswer(std::int32_t n, const TReplyStatus& reply,
                                      std::uint32_t time) {
  THopEntry& entry = Hops[static_cast<std::size_t>(n)];
  entry.HopNo = n;
  entry.Time = time;
  entry.Filled = true;
  if (entry.Address == reply.ReplyFrom) return;
  entry.Address = entry.HostName = reply.ReplyFrom;
  StartNameResolution(reply.ReplyFrom, n);
  StartAsLookup(reply.ReplyFrom);
}

void TTraceRouteForm::CountSent(std::int32_t ttl) {
  if (ttl < 1 || ttl > MaxHopEntries) return;
  if (Stats.size() < static_cast<std::size_t>(ttl)) Stats.resize(static_cast<std::size_t>(ttl));
  UpdateHopStats(Stats[static_cast<std::size_t>(ttl - 1)], TProbeOutcome::poSent);
}

void TTraceRouteForm::CountResult(std::int32_t ttl, const TReplyStatus& reply, std::uint32_t time) {
  if (ttl < 1 || ttl > MaxHopEntries) return;
  if (Stats.size() < static_cast<std::size_t>(ttl)) Stats.resize(static_cast<std::size_t>(ttl));
  // The reply's own round-trip time where the stack measured it.
  const double ms = reply.RoundTripMicros > 0 ? reply.RoundTripMicros / 1000.0 : time;
  UpdateHopStats(Stats[static_cast<std::size_t>(ttl - 1)],
                 Answered(reply) ? TProbeOutcome::poAnswered : TProbeOutcome::poLost, ms,
                 reply.ReplyFrom);
}

bool TTraceRouteForm::LookupUnderWay(const std::string& address) const {
  return std::any_of(ResolverSlots.begin(), ResolverSlots.end(),
                     [&](const auto& slot) { return slot && slot->Address == address; });
}

}  // namespace quillon
