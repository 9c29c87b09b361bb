// The probe worker: one probe with a given TTL (ICMP echo, UDP or TCP), up to
// three attempts (one after the other, or all at once when asked), on a thread
// of its own with a probe of its own (one per attempt when they go together).
// It reports with one WM_PROBE_DONE to its window as its last act and is
// released by the window.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "net/IdIcmpClient.h"
#include "net/ProbeMethod.h"
#include "platform/MessageQueue.h"
#include "platform/Thread.h"

namespace quillon {

constexpr int ProbeAttempts = 3;
// The payload every probe carries.
inline constexpr const char* ProbePayload = "asdas";

// A reply address that says nobody answered: empty (nothing matched) or
// "0.0.0.0" (time-out).
bool IsSilentAddress(const std::string& replyFrom);

class TPingThread : public TThread {
 public:
  TPingThread();
  // Execute reads the fields below, so the thread must end before they go.
  ~TPingThread() override;

  // Inputs, set by the window before the thread starts.
  std::string TargetAddress;
  std::uint32_t RunId = 0;
  std::int32_t SlotIndex = 0;
  std::int32_t Ttl = 0;
  std::int32_t TimeOutMs = 0;
  TProbeMethod ProbeMethod = TProbeMethod::pmIcmp;
  std::int32_t ProbePort = 0;  // 0: the method's default
  HWND Window = 0;
  // At most this many attempts (a later round's probe makes one).
  std::int32_t AttemptLimit = ProbeAttempts;
  // The attempts go out at once rather than each after the last one's wait.
  bool AttemptsTogether = false;
  // Results, written by the thread and read by the window only once the
  // worker's message has arrived.
  TReplyStatus Reply;
  std::uint32_t ElapsedMs = 0;
  bool Succeeded = false;
  // Why the last attempt could not send its request (or open its socket);
  // empty when it went out. Such a hop is no silent one.
  std::string Failure;
  // Made, 1 to 3; Reply is the last one's, or of attempts made together the
  // first answered one's.
  std::int32_t Attempts = 0;
  // Repeated in the message's Tag; tells this worker from any other.
  const std::uint64_t Serial;

 protected:
  void Execute() override;

 private:
  struct TAttemptResult {
    TReplyStatus Reply;
    std::string Failure;
    std::uint32_t ElapsedMs = 0;
    bool Answered = false;
  };
  void Probe();
  void ProbeTogether(int attempts);
  std::unique_ptr<TIdProbe> NewProbe() const;
  TAttemptResult Attempt(TIdProbe& probe) const;
  void Take(const TAttemptResult& result);
};

}  // namespace quillon
