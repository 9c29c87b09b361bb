#include "trace/PingThread.h"

#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <set>

#include "platform/Clock.h"
#include "platform/Random.h"
#include "trace/TraceRouteForm.h"

namespace quillon {
namespace {

// The sequence numbers of the attempts under way in this process, and of the
// latest ones. Every raw socket sees every answer and an attempt takes the one
// that repeats its sequence number, so no attempt may carry the number of
// another one waiting, nor of one that timed out lately and whose answer may
// still come: with dozens in flight a plain random draw would now and then
// give a hop another hop's answer.
class TSequencesInUse {
 public:
  // A uniformly drawn number below 65000 that is neither under way nor among
  // the latest drawn (nor 0, with which the client would keep its own).
  std::uint16_t Take() {
    const std::lock_guard lock(mutex_);
    std::uint16_t sequence = 0;
    while (sequence == 0 || inUse_.contains(sequence) || recent_.contains(sequence)) {
      sequence = static_cast<std::uint16_t>(Random(65000));
    }
    inUse_.insert(sequence);
    recent_.insert(sequence);
    latest_.push_back(sequence);
    if (latest_.size() > RecentCount) {
      recent_.erase(latest_.front());
      latest_.pop_front();
    }
    return sequence;
  }
  void Release(std::uint16_t sequence) {
    const std::lock_guard lock(mutex_);
    inUse_.erase(sequence);
  }

 private:
  // Far more attempts than a run's late answers can span; a small part of
  // the numbers, so a draw rarely has to be repeated.
  static constexpr std::size_t RecentCount = 4096;
  std::mutex mutex_;
  std::set<std::uint16_t> inUse_;
  std::set<std::uint16_t> recent_;
  std::deque<std::uint16_t> latest_;
};

TSequencesInUse& SequencesInUse() {
  static TSequencesInUse sequences;
  return sequences;
}

}  // namespace

bool IsSilentAddress(const std::string& replyFrom) {
  return replyFrom.empty() || replyFrom == "0.0.0.0";
}

TPingThread::TPingThread() : Serial(NextWorkerSerial()) {}

TPingThread::~TPingThread() {
  WaitFor();
}

void TPingThread::Execute() {
  try {
    Probe();
  } catch (const std::exception& error) {
    // No client: nothing was sent.
    Failure = error.what();
  } catch (...) {
    Failure = "The probe failed.";
  }
  // Always report, so that the window can release this worker.
  TMessageQueue::Main().PostMessage(Window, WM_PROBE_DONE, static_cast<WPARAM>(SlotIndex),
                                    static_cast<LPARAM>(RunId), Serial);
}

void TPingThread::Probe() {
  const auto probe = CreateProbe(ProbeMethod, VersionOfAddressText(TargetAddress));
  TProbeRequest request;
  request.Target = TargetAddress;
  request.Ttl = Ttl;
  request.TimeOutMs = TimeOutMs;
  // UDP's default port grows with the TTL, so each hop's probe has its own.
  request.Port = ProbeDestinationPort(ProbeMethod, ProbePort, Ttl - 1);
  request.Payload = ProbePayload;
  Succeeded = false;
  for (int attempt = 0; attempt < ProbeAttempts && !Succeeded; ++attempt) {
    Attempts = attempt + 1;
    const std::uint32_t start = GetTickCount();
    const std::uint32_t sent = probe->RequestsSent();
    Failure.clear();
    const std::uint16_t sequence = SequencesInUse().Take();
    try {
      request.Sequence = sequence;
      probe->Send(request);
    } catch (const std::exception& error) {
      // A request that went out is judged by the record it left, like any
      // other; one that could not go out says why, unless a retry goes out.
      if (probe->RequestsSent() == sent) Failure = error.what();
    }
    SequencesInUse().Release(sequence);
    const TReplyStatus& last = probe->LastReply();
    Succeeded =
        !IsSilentAddress(last.ReplyFrom) && (last.StatusKind == TReplyStatusKind::rskEchoReply ||
                                             last.StatusKind == TReplyStatusKind::rskTtlExpired);
    Reply = last;
    ElapsedMs = GetTickCount() - start;  // unsigned: right across the tick count's wrap
  }
}

}  // namespace quillon
