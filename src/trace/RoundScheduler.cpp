#include "trace/RoundScheduler.h"

#include <algorithm>

namespace quillon {
namespace {

// Milliseconds from `now` to `moment` on the wrapping tick count: negative
// when it has passed.
std::int64_t Until(std::uint32_t now, std::uint32_t moment) {
  return static_cast<std::int32_t>(moment - now);
}

}  // namespace

void TRoundScheduler::Begin(const TRoundPace& pace) {
  pace_ = pace;
  // An interval of 0 paces rounds a millisecond apart: never all at once.
  pace_.IntervalMs = std::max(1, pace_.IntervalMs);
  started_ = 1;
  outstanding_.clear();
  top_.clear();
}

std::uint32_t TRoundScheduler::RoundStart(std::int32_t round) const {
  return pace_.StartTick +
         static_cast<std::uint32_t>(static_cast<std::int64_t>(round - 1) * pace_.IntervalMs);
}

std::uint32_t TRoundScheduler::WaitEnd(const TRoundProbe& probe) const {
  return probe.SentTick + static_cast<std::uint32_t>(pace_.TimeOutMs + ReportGraceMs);
}

std::vector<std::int32_t> TRoundScheduler::DueRounds(std::uint32_t now, std::int32_t length) const {
  std::vector<std::int32_t> due;
  // A window thread held up for a while starts every round it missed at once,
  // as far as their probes fit beside those outstanding; the others wait for room.
  const std::size_t cost = static_cast<std::size_t>(std::max(1, length));
  std::size_t room = MaxOutstandingRoundProbes - outstanding_.size();
  for (std::int32_t round = started_ + 1; (pace_.Rounds == 0 || round <= pace_.Rounds) &&
                                          Until(now, RoundStart(round)) <= 0 && cost <= room;
       ++round) {
    due.push_back(round);
    room -= cost;
  }
  return due;
}

bool TRoundScheduler::Overdue(std::uint32_t now) const {
  return MoreRounds() && Until(now, RoundStart(started_ + 1)) <= 0;
}

void TRoundScheduler::StartRound(std::int32_t round) {
  started_ = std::max(started_, round);
  // Rounds with nothing outstanding send nothing more: their tops may go.
  std::erase_if(top_, [&](const auto& entry) { return !HasOutstanding(entry.first); });
}

bool TRoundScheduler::HasOutstanding(std::int32_t round) const {
  return std::any_of(outstanding_.begin(), outstanding_.end(),
                     [&](const TRoundProbe& p) { return p.Round == round; });
}

std::vector<std::int32_t> TRoundScheduler::TtlsToSend(std::int32_t length) const {
  const auto room = static_cast<std::int32_t>(MaxOutstandingRoundProbes - outstanding_.size());
  std::vector<std::int32_t> ttls;
  for (std::int32_t ttl = 1; ttl <= std::min(length, room); ++ttl) ttls.push_back(ttl);
  return ttls;
}

void TRoundScheduler::Sent(const TRoundProbe& probe) {
  outstanding_.push_back(probe);
  auto& top = top_[probe.Round];
  top = std::max(top, probe.Ttl);
}

std::optional<TRoundProbe> TRoundScheduler::Reported(std::uint64_t serial) {
  const auto probe = std::find_if(outstanding_.begin(), outstanding_.end(),
                                  [&](const TRoundProbe& p) { return p.Serial == serial; });
  if (probe == outstanding_.end()) return std::nullopt;
  const TRoundProbe taken = *probe;
  outstanding_.erase(probe);
  return taken;
}

std::vector<TRoundProbe> TRoundScheduler::TakeEndedWaits(std::uint32_t now) {
  std::vector<TRoundProbe> ended;
  std::erase_if(outstanding_, [&](const TRoundProbe& probe) {
    if (Until(now, WaitEnd(probe)) > 0) return false;
    ended.push_back(probe);
    return true;
  });
  return ended;
}

std::optional<std::int32_t> TRoundScheduler::NextEventIn(std::uint32_t now) const {
  std::optional<std::int64_t> next;
  // A round overdue waits for room, which a report or an ended wait makes.
  if (MoreRounds() && !Overdue(now)) next = Until(now, RoundStart(started_ + 1));
  for (const TRoundProbe& probe : outstanding_) {
    const std::int64_t end = Until(now, WaitEnd(probe));
    next = next ? std::min(*next, end) : end;
  }
  if (!next) return std::nullopt;
  return static_cast<std::int32_t>(std::max<std::int64_t>(0, *next));
}

std::int32_t TRoundScheduler::LaterRoundsDone() const {
  std::vector<std::int32_t> busy;
  for (const TRoundProbe& probe : outstanding_) busy.push_back(probe.Round);
  std::sort(busy.begin(), busy.end());
  const auto rounds = std::unique(busy.begin(), busy.end()) - busy.begin();
  return started_ - 1 - static_cast<std::int32_t>(rounds);
}

std::int32_t TRoundScheduler::TopTtl(std::int32_t round) const {
  const auto top = top_.find(round);
  return top == top_.end() ? 0 : top->second;
}

}  // namespace quillon
