#include "trace/PingThread.h"

#include <memory>

#include "platform/Clock.h"
#include "platform/Random.h"
#include "trace/TraceRouteForm.h"

namespace quillon {

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
  } catch (...) {
    // No client, or the TTL could not be set: the result is what the last
    // completed attempt stored (or an empty, silent record).
  }
  // Always report, so that the window can release this worker.
  TMessageQueue::Main().PostMessage(Window, WM_PROBE_DONE, static_cast<WPARAM>(SlotIndex),
                                    static_cast<LPARAM>(RunId), Serial);
}

void TPingThread::Probe() {
  const auto client = std::make_unique<TIdIcmpClient>();
  client->IPVersion = VersionOfAddressText(TargetAddress);
  Succeeded = false;
  for (int attempt = 0; attempt < ProbeAttempts && !Succeeded; ++attempt) {
    Attempts = attempt + 1;
    client->SetOutgoingTtl(Ttl);
    client->ReceiveTimeout = TimeOutMs;
    client->Host = TargetAddress;
    const std::uint32_t start = GetTickCount();
    try {
      client->Echo(ProbePayload, static_cast<std::uint16_t>(Random(65000)));
    } catch (...) {
      // A failed exchange is judged by the record it left, like any other.
    }
    const TReplyStatus& last = client->LastReply();
    Succeeded =
        !IsSilentAddress(last.ReplyFrom) && (last.StatusKind == TReplyStatusKind::rskEchoReply ||
                                             last.StatusKind == TReplyStatusKind::rskTtlExpired);
    Reply = last;
    ElapsedMs = GetTickCount() - start;  // unsigned: right across the tick count's wrap
  }
}

}  // namespace quillon
