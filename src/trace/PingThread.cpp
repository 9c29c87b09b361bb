#include "trace/PingThread.h"

#include <algorithm>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

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

// One attempt of a probe whose attempts go out together.
class TAttemptThread : public TThread {
 public:
  explicit TAttemptThread(std::function<void()> attempt) : attempt_(std::move(attempt)) {}
  ~TAttemptThread() override { WaitFor(); }

 protected:
  void Execute() override { attempt_(); }

 private:
  std::function<void()> attempt_;
};

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
  const int attempts = std::clamp(AttemptLimit, 1, ProbeAttempts);
  if (AttemptsTogether && attempts > 1) {
    ProbeTogether(attempts);
    return;
  }
  const auto probe = NewProbe();
  Succeeded = false;
  for (int attempt = 0; attempt < attempts && !Succeeded; ++attempt) {
    Attempts = attempt + 1;
    Take(Attempt(*probe));
  }
}

void TPingThread::ProbeTogether(int attempts) {
  // Every attempt on a thread and a socket of its own, each with its own
  // sequence number: a silent hop costs one time-out, not one per attempt.
  std::vector<TAttemptResult> results(static_cast<std::size_t>(attempts));
  const auto run = [this, &results](std::size_t i) {
    try {
      results[i] = Attempt(*NewProbe());
    } catch (const std::exception& error) {
      results[i].Failure = error.what();  // no socket: nothing was sent
    } catch (...) {
      results[i].Failure = "The probe failed.";
    }
  };
  std::vector<std::unique_ptr<TAttemptThread>> others;
  for (std::size_t i = 1; i < results.size(); ++i) {
    others.push_back(std::make_unique<TAttemptThread>([&run, i] { run(i); }));
    try {
      others.back()->Start();
    } catch (...) {
      others.pop_back();
      run(i);  // no thread: this attempt waits its turn
    }
  }
  run(0);
  for (auto& other : others) other->WaitFor();
  Attempts = attempts;
  // The first answered attempt speaks for the probe; without one, the last.
  const auto answered = std::find_if(results.begin(), results.end(),
                                     [](const TAttemptResult& r) { return r.Answered; });
  Take(answered != results.end() ? *answered : results.back());
}

std::unique_ptr<TIdProbe> TPingThread::NewProbe() const {
  return CreateProbe(ProbeMethod, VersionOfAddressText(TargetAddress));
}

TPingThread::TAttemptResult TPingThread::Attempt(TIdProbe& probe) const {
  TAttemptResult result;
  TProbeRequest request;
  request.Target = TargetAddress;
  request.Ttl = Ttl;
  request.TimeOutMs = TimeOutMs;
  // UDP's default port grows with the TTL, so each hop's probe has its own.
  request.Port = ProbeDestinationPort(ProbeMethod, ProbePort, Ttl - 1);
  request.Payload = ProbePayload;
  const std::uint32_t start = GetTickCount();
  const std::uint32_t sent = probe.RequestsSent();
  request.Sequence = SequencesInUse().Take();
  try {
    probe.Send(request);
  } catch (const std::exception& error) {
    // A request that went out is judged by the record it left, like any
    // other; one that could not go out says why, unless a retry goes out.
    if (probe.RequestsSent() == sent) result.Failure = error.what();
  }
  SequencesInUse().Release(request.Sequence);
  result.Reply = probe.LastReply();
  result.Answered = !IsSilentAddress(result.Reply.ReplyFrom) &&
                    (result.Reply.StatusKind == TReplyStatusKind::rskEchoReply ||
                     result.Reply.StatusKind == TReplyStatusKind::rskTtlExpired);
  result.ElapsedMs = GetTickCount() - start;  // unsigned: right across the tick count's wrap
  return result;
}

void TPingThread::Take(const TAttemptResult& result) {
  Reply = result.Reply;
  Failure = result.Failure;
  ElapsedMs = result.ElapsedMs;
  Succeeded = result.Answered;
}

}  // namespace quillon
