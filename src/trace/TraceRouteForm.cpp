// The main window's trace run: its creation and release, Start and Stop, the
// probe workers' launching and reports, the end-of-route rules and the
// completion check. Everything here runs on the window's thread.
#include "trace/TraceRouteForm.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "net/IdStack.h"
#include "platform/Process.h"
#include "platform/Random.h"
#include "platform/Text.h"
#include "trace/DNSThread.h"
#include "trace/DnsBuffer.h"
#include "trace/HostHistory.h"
#include "trace/PingThread.h"
#include "trace/RoundTimer.h"
#include "trace/WorkerSlots.h"

namespace quillon {
namespace {

constexpr int RunIdRange = 30000;
constexpr int ParallelProbes = 5;
constexpr std::int32_t MaxTimeOutMs = 9000;
constexpr std::int32_t FallbackTimeOutMs = 5000;  // a number out of range
constexpr std::int32_t MaxHopLimit = 100;
constexpr std::int32_t DefaultHopLimit = 30;
constexpr char EnterKey = 13;

// The box's integer: the text that is no integer and the value out of range
// each put their default back into the box.
std::int32_t ValidatedBox(TEditState& box, std::int32_t notNumber, std::int32_t max,
                          std::int32_t outOfRange) {
  std::int32_t value = notNumber;
  if (const auto parsed = TryStrToInt(box.Text)) {
    value = *parsed;
  } else {
    box.Text = std::to_string(notNumber);
  }
  if (value < 1 || value > max) {
    value = outOfRange;
    box.Text = std::to_string(outOfRange);
  }
  return value;
}

// Start and Stop share one place: exactly one of them shows, enabled.
void ShowRunButtons(TButtonState& start, TButtonState& stop, bool tracing) {
  start.Enabled = start.Visible = !tracing;
  stop.Enabled = stop.Visible = tracing;
}

template <typename Slots>
bool AnyBusy(const Slots& slots) {
  return std::any_of(slots.begin() + 1, slots.end(),
                     [](const auto& slot) { return slot != nullptr; });
}

}  // namespace

std::uint64_t NextWorkerSerial() {
  static std::atomic<std::uint64_t> next{1};
  return next.fetch_add(1, std::memory_order_relaxed);
}

TTraceRouteForm::TTraceRouteForm(TTraceView* view, TFormFiles files)
    : view_(view), files_(std::move(files)) {
  // The thread that creates the window dispatches its messages. Unless the
  // program entry said so already, claim it as the main thread now, before a
  // worker's socket wait could be taken for the main thread's and pump messages.
  static_cast<void>(IsMainThread());
  // The first socket-layer component brings up the process-wide socket stack.
  IdIcmpClient1 = std::make_unique<TIdIcmpClient>();
  IdAntiFreeze1 = std::make_unique<TIdAntiFreeze>();
  IdAntiFreeze1->SetIdleTimeOut(50);
  IdAntiFreeze1->OnlyWhenIdle = false;
  handle_ = TMessageQueue::Main().RegisterWindow([this](const TMessage& message) {
    switch (message.Msg) {
      case WM_PROBE_DONE:
        WMProbeDone(message);
        break;
      case WM_NAME_RESOLVED:
        WMNameResolved(message);
        break;
      case WM_NEXT_ROUND:
        WMNextRound(message);
        break;
      default:
        break;
    }
  });
}

TTraceRouteForm::~TTraceRouteForm() {
  // No message reaches this window any more; workers that still post find no
  // window and simply end.
  TMessageQueue::Main().UnregisterWindow(handle_);
  roundTimer_.reset();
  // Each release waits for the worker's thread. Name workers use the socket
  // stack without a component of their own, so they go before IdIcmpClient1.
  for (auto& slot : ProbeSlots) slot.reset();
  for (auto& slot : ResolverSlots) slot.reset();
  droppedProbes_.clear();
  droppedResolvers_.clear();
  IdAntiFreeze1.reset();
  IdIcmpClient1.reset();
}

bool TTraceRouteForm::ProbeSlotBusy() const {
  return AnyBusy(ProbeSlots);
}

bool TTraceRouteForm::ResolverSlotBusy() const {
  return AnyBusy(ResolverSlots);
}

void TTraceRouteForm::Notify() {
  if (view_ != nullptr) view_->ControlsChanged();
}

void TTraceRouteForm::ShowIdle() {
  ShowRunButtons(Button1, Button2, false);
  Notify();
}

void TTraceRouteForm::ShowTracing() {
  ShowRunButtons(Button1, Button2, true);
  Notify();
}

void TTraceRouteForm::Button1Click() {
  if (!Running) StartTrace();
}

void TTraceRouteForm::HostKeyPress(char& key) {
  if (key == EnterKey && !Running) StartTrace();
}

void TTraceRouteForm::Button2Click() {
  StopRequested = true;
  Button2.Enabled = false;
  Notify();
  // With no worker left, no message would ever run the completion check.
  if (!ProbeSlotBusy() && !ResolverSlotBusy()) CheckRunFinished();
}

void TTraceRouteForm::DropWorkers() {
  // Workers of an earlier run are not waited for; they stay reachable until
  // their message arrives, which then only releases them.
  for (auto& slot : ResolverSlots) {
    if (slot) droppedResolvers_.push_back(std::move(slot));
  }
  for (auto& slot : ProbeSlots) {
    if (slot) droppedProbes_.push_back(std::move(slot));
  }
}

void TTraceRouteForm::AbandonStart() {
  // The new run id is drawn already and may equal the one the earlier run's
  // workers carry: dropped, their late reports can never pass for this run's.
  DropWorkers();
  Running = false;
  ShowIdle();
}

void TTraceRouteForm::StartTrace() {
  if (Trim(Host.Text).empty()) return;
  UpdateHostHistory();
  SilentCount = 0;
  ShowTracing();
  Running = true;
  RunId = static_cast<std::uint16_t>(Random(RunIdRange));
  ResetGrid();
  BeginRun();

  TargetHost = Trim(Host.Text);
  if (TargetHost.empty()) {
    // Nothing to trace after all: do not stay in a run that cannot end.
    AbandonStart();
    return;
  }

  TimeOutMs = ValidatedBox(TimeOut, MaxTimeOutMs, MaxTimeOutMs, FallbackTimeOutMs);
  MaxHops = ValidatedBox(Hoops, DefaultHopLimit, MaxHopLimit, DefaultHopLimit);
  Notify();

  try {
    TargetAddress = Stack().ResolveHost(TargetHost, IPVersion);
  } catch (...) {
    TargetAddress.clear();
    // Set the earlier run's workers aside before the box: its loop handles
    // their reports.
    AbandonStart();
    if (view_ != nullptr) view_->ShowMessage("Host not found: " + TargetHost);
    return;
  }

  try {
    // Opens the window's raw socket now, so that a missing right to raw
    // sockets shows as an error at Start.
    IdIcmpClient1->ReceiveTimeout = TimeOutMs;
    IdIcmpClient1->IPVersion = VersionOfAddressText(TargetAddress);
    IdIcmpClient1->SetOutgoingTtl(1);
  } catch (...) {
    AbandonStart();  // the error is the caller's to show
    throw;
  }

  try {
    RouteEndFound = false;
    LastRequestedTtl = 0;
    HighestAnsweringHop = 0;
    RouteLength = MaxHopEntries;
    StopRequested = false;

    DropWorkers();

    LaunchFirstProbes();
  } catch (...) {
    // The error is the caller's to show; the window must not be left in a run
    // that no message will ever end.
    if (!ProbeSlotBusy() && !ResolverSlotBusy()) {
      Running = false;
      ShowIdle();
    }
    throw;
  }
}

void TTraceRouteForm::LaunchFirstProbes() {
  for (int i = 0; i < ParallelProbes; ++i) LaunchProbe(TargetAddress, LastRequestedTtl + 1);
}

void TTraceRouteForm::UpdateHostHistory() {
  const std::string typed = Host.Text;
  try {
    std::vector<std::string> stored;
    if (ReadHostHistory(files_.HistoryPath, stored)) Host.Items = std::move(stored);
    auto& items = Host.Items;
    const auto same = std::find_if(items.begin(), items.end(),
                                   [&](const std::string& item) { return SameText(item, typed); });
    if (same != items.end()) items.erase(same);
    // Appended and rotated to the front rather than inserted there: the same
    // order, and GCC 12 at -O3 sees a null dereference in the insert.
    items.push_back(typed);
    std::rotate(items.rbegin(), items.rbegin() + 1, items.rend());
    Host.Text = typed;
    std::erase_if(items, [](const std::string& item) { return item.empty(); });
    WriteHostHistory(files_.HistoryPath, items);
  } catch (...) {
    // The history is a convenience: the trace goes on with the list as it got.
  }
  Notify();
}

void TTraceRouteForm::CheckRunFinished() {
  bool done = RouteEndFound;
  for (std::int32_t hop = 1; done && hop <= std::min(RouteLength, MaxHopEntries); ++hop) {
    done = HopReported(hop);
  }
  if (done && RoundsGoOn()) return;
  if (done) {
    if (!ResolverSlotBusy()) Running = false;
  } else if (Running && !ProbeSlotBusy() && !ResolverSlotBusy()) {
    // No worker is left to report: the run can no longer meet its end
    // condition (Stop before the route end was known, or nothing launched).
    Running = false;
  } else {
    return;
  }
  if (!Running) {
    CommitRound();
    roundTimer_.reset();
    ShowIdle();
    RefreshGrid();
  }
}

void TTraceRouteForm::LaunchProbe(const std::string& address, std::int32_t n) {
  if (StopRequested) return;
  LastRequestedTtl = n;
  auto* free = FirstFreeSlot(ProbeSlots);
  if (free == nullptr || n > MaxHops) return;

  auto worker = std::make_unique<TPingThread>();
  worker->TargetAddress = address;
  worker->SlotIndex = static_cast<std::int32_t>(free - ProbeSlots.data());
  worker->Ttl = n;
  worker->TimeOutMs = TimeOutMs;
  worker->Window = handle_;
  worker->RunId = RunId;
  StartInSlot(*free, std::move(worker));
}

void TTraceRouteForm::WMProbeDone(const TMessage& message) {
  try {
    if (ReleaseDroppedWorker(droppedProbes_, message.Tag)) {
      // a worker of an earlier run has ended
    } else if (auto* poster = PosterSlot(ProbeSlots, message)) {
      auto& slot = *poster;
      if (message.LParam == static_cast<LPARAM>(RunId)) {
        const TPingThread* worker = slot.get();
        try {
          RecordResult(worker->Ttl, worker->ElapsedMs, worker->Reply, worker->Attempts);
        } catch (...) {
          if (slot.get() == worker) slot.reset();
          throw;
        }
        if (slot.get() == worker) slot.reset();  // waits for its thread
        if (!RouteEndFound) LaunchProbe(TargetAddress, LastRequestedTtl + 1);
      } else {
        // Launched before a Start that failed after drawing a new run id.
        slot.reset();
      }
    }
  } catch (...) {
    // A report must never take the window down; the run goes on as it can.
  }
  try {
    // Also when the next probe could not start: this may have been the last worker.
    CheckRunFinished();
  } catch (...) {
  }
  // Let one further message through (without waiting for one), as the
  // desktop's message loop would between two reports.
  try {
    TMessageQueue::Main().ProcessOneMessage();
  } catch (...) {
  }
}

void TTraceRouteForm::RecordResult(std::int32_t n, std::uint32_t time, const TReplyStatus& reply,
                                   std::int32_t attempts) {
  if (n < 1 || n > MaxHopEntries) return;  // no such hop entry
  const bool silent = IsSilentAddress(reply.ReplyFrom);
  const bool finishing =
      (reply.StatusKind == TReplyStatusKind::rskEchoReply && reply.ReplyFrom == TargetAddress) ||
      n >= MaxHops;
  if (!RouteEndFound) RouteEndFound = finishing;
  if (finishing && n < RouteLength) RouteLength = n;
  if (!silent && n > HighestAnsweringHop) HighestAnsweringHop = n;
  if (silent) ++SilentCount;
  if (SilentCount > 3) {
    RouteEndFound = true;
    RouteLength = HighestAnsweringHop;
  }

  THopEntry& entry = Hops[static_cast<std::size_t>(n)];
  entry.HostName = reply.ReplyFrom;
  entry.Address = reply.ReplyFrom;
  entry.HopNo = n;
  entry.Time = time;
  entry.Filled = true;
  // Kept for the round's statistics, whatever name resolution makes of the texts.
  entry.Attempts = std::max(1, attempts);
  entry.Answered = !silent;
  entry.ReplyFrom = reply.ReplyFrom;
  entry.RoundTripMs = reply.RoundTripMicros > 0 ? reply.RoundTripMicros / 1000.0 : time;

  StartNameResolution(reply.ReplyFrom, n);
  RefreshGrid();
}

int ExitWithoutWaitingForWorkers(const TTraceRouteForm* form, int status) {
  if (form != nullptr && form->WorkersUnderWay()) {
    std::fflush(nullptr);
    std::_Exit(status);
  }
  return status;
}

}  // namespace quillon
