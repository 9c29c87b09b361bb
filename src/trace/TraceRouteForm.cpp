// The main window's trace run: its creation and release, Start and Stop, the
// probe workers' launching and reports, the end-of-route rules and the
// completion check. Everything here runs on the window's thread.
#include "trace/TraceRouteForm.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "net/IdException.h"
#include "net/IdStack.h"
#include "platform/Process.h"
#include "platform/Random.h"
#include "platform/Text.h"
#include "trace/AsCache.h"
#include "trace/AsThread.h"
#include "trace/DNSThread.h"
#include "trace/DnsBuffer.h"
#include "trace/HostHistory.h"
#include "trace/PingThread.h"
#include "trace/RoundTimer.h"
#include "trace/WorkerSlots.h"

namespace quillon {
namespace {

constexpr int RunIdRange = 30000;
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

}  // namespace

std::uint64_t NextWorkerSerial() {
  static std::atomic<std::uint64_t> next{1};
  return next.fetch_add(1, std::memory_order_relaxed);
}

TTraceRouteForm::TTraceRouteForm(TTraceView* view, TFormFiles files)
    : ProbeSlots(static_cast<std::size_t>(InFlight.Count()) + 1),
      view_(view),
      files_(std::move(files)),
      outcomes_(MaxHopEntries + 1) {
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
      case WM_AS_RESOLVED:
        WMAsResolved(message);
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
  roundProbes_.clear();
  for (auto& slot : ResolverSlots) slot.reset();
  for (auto& slot : AsSlots) slot.reset();
  droppedProbes_.clear();
  droppedResolvers_.clear();
  IdAntiFreeze1.reset();
  IdIcmpClient1.reset();
}

bool TTraceRouteForm::ProbeSlotBusy() const {
  return BusyCount(ProbeSlots) > 0;
}

bool TTraceRouteForm::ResolverSlotBusy() const {
  return BusyCount(ResolverSlots) > 0;
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
  for (auto& probe : roundProbes_) droppedProbes_.push_back(std::move(probe));
  roundProbes_.clear();
}

void TTraceRouteForm::AbandonStart() {
  // The new run id is drawn already and may equal the one the earlier run's
  // workers carry: dropped, their late reports can never pass for this run's.
  DropWorkers();
  Running = false;
  ShowIdle();
}

void TTraceRouteForm::StartTrace() {
  // A blank box starts nothing, not even the history update.
  if (Trim(Host.Text).empty()) return;
  // The history file is written once the probes are on their way, or the
  // Start has failed: its flush to disk then holds back no probe.
  struct TSaveOnExit {
    TTraceRouteForm& form;
    bool listReady;
    ~TSaveOnExit() {
      if (listReady) form.SaveHostHistory();
    }
  } const saveOnExit{*this, MoveHostToTop()};
  SilentCount = 0;
  ShowTracing();
  Running = true;
  RunId = static_cast<std::uint16_t>(Random(RunIdRange));
  ResetGrid();
  BeginRun();

  // Asked again: the history update may have left the box empty after all.
  TargetHost = Trim(Host.Text);
  if (TargetHost.empty()) {
    AbandonStart();  // nothing to trace: do not stay in a run that cannot end
    return;
  }
  ReadRunBoxes();
  if (!ResolveTarget()) return;
  OpenWindowSocket();
  BeginProbing();
}

void TTraceRouteForm::ReadRunBoxes() {
  TimeOutMs = ValidatedBox(TimeOut, MaxTimeOutMs, MaxTimeOutMs, FallbackTimeOutMs);
  MaxHops = ValidatedBox(Hoops, DefaultHopLimit, MaxHopLimit, DefaultHopLimit);
  Notify();
}

bool TTraceRouteForm::ResolveTarget() {
  std::string refusal;
  try {
    TargetAddress = Stack().ResolveHost(TargetHost, IPVersion);
    // A method this system cannot probe with is refused as a target would be,
    // before any probe.
    const std::string why = ProbeMethodRefusal(ProbeMethod, VersionOfAddressText(TargetAddress));
    if (why.empty()) return true;
    refusal = EIdInvalidTarget(TargetHost, why).what();
  } catch (const EIdInvalidTarget& error) {
    refusal = error.what();
  } catch (...) {
    refusal = "Host not found: " + TargetHost;
  }
  TargetAddress.clear();
  // Set the earlier run's workers aside before the box: its loop handles
  // their reports.
  AbandonStart();
  if (view_ != nullptr) view_->ShowMessage(refusal);
  return false;
}

void TTraceRouteForm::OpenWindowSocket() {
  try {
    RunProbeMethod = ProbeMethod;
    RunProbePort = ProbePort;
    // UDP and TCP need no ICMP socket; ResolveTarget refused a method this
    // system cannot probe with.
    if (RunProbeMethod != TProbeMethod::pmIcmp) return;
    // Opens the window's raw socket now, so that a missing right to raw
    // sockets shows as an error at Start.
    IdIcmpClient1->ReceiveTimeout = TimeOutMs;
    IdIcmpClient1->IPVersion = VersionOfAddressText(TargetAddress);
    IdIcmpClient1->SetOutgoingTtl(1);
  } catch (...) {
    AbandonStart();  // the error is the caller's to show
    throw;
  }
}

void TTraceRouteForm::BeginProbing() {
  try {
    RouteEndFound = false;
    LastRequestedTtl = 0;
    HighestAnsweringHop = 0;
    RouteLength = MaxHopEntries;
    StopRequested = false;
    outcomes_.assign(MaxHopEntries + 1, std::nullopt);
    lastKept_ = MaxHopEntries;

    DropWorkers();
    ProbeSlots.clear();
    ProbeSlots.resize(static_cast<std::size_t>(InFlight.Count()) + 1);
    LaunchFirstProbes();
    StartRoundClock();
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
  // One request per slot; each result then asks for the next TTL. Later rounds
  // keep the slots, and so the number in flight, of the run's first.
  const int slots = static_cast<int>(ProbeSlots.size()) - 1;
  for (int i = 0; i < slots; ++i) LaunchProbe(TargetAddress, LastRequestedTtl + 1);
}

void TTraceRouteForm::UpdateHostHistory() {
  if (MoveHostToTop()) SaveHostHistory();
}

bool TTraceRouteForm::MoveHostToTop() {
  bool ready = false;
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
    ready = true;
  } catch (...) {
    // The history is a convenience: the trace goes on with the list as it got.
  }
  Notify();
  return ready;
}

void TTraceRouteForm::SaveHostHistory() noexcept {
  try {
    WriteHostHistory(files_.HistoryPath, Host.Items);
  } catch (...) {
    // Not saved: the list shows it until the window goes.
  }
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
    EndRounds();
    ShowIdle();
    RefreshGrid();
  }
}

void TTraceRouteForm::LaunchProbe(const std::string& address, std::int32_t n) {
  if (StopRequested) return;
  LastRequestedTtl = n;  // a refused request advances it too
  const TLaunchState state{.StopRequested = StopRequested,
                           .RouteEndFound = RouteEndFound,
                           .Ttl = n,
                           .MaxHops = MaxHops,
                           .UnderWay = BusyCount(ProbeSlots),
                           .Limit = InFlight};
  if (!MayLaunchProbe(state)) return;
  auto* free = FirstFreeSlot(ProbeSlots);
  if (free == nullptr) return;  // slots sized for another limit (set between runs)

  auto worker = NewProbeWorker(address, n);
  worker->SlotIndex = static_cast<std::int32_t>(free - ProbeSlots.data());
  // Beyond the default number in flight a silent hop costs one wait, not three.
  worker->AttemptsTogether = static_cast<int>(ProbeSlots.size()) - 1 > TProbesInFlight::Default;
  StartInSlot(*free, std::move(worker));
  CountSent(n);
}

std::unique_ptr<TPingThread> TTraceRouteForm::NewProbeWorker(const std::string& address,
                                                             std::int32_t ttl) const {
  auto worker = std::make_unique<TPingThread>();
  worker->TargetAddress = address;
  worker->Ttl = ttl;
  worker->TimeOutMs = TimeOutMs;
  worker->ProbeMethod = RunProbeMethod;
  worker->ProbePort = RunProbePort;
  worker->Window = handle_;
  worker->RunId = RunId;
  return worker;
}

void TTraceRouteForm::WMProbeDone(const TMessage& message) {
  // A report must never take the window down: each step's failure is dropped
  // and the run goes on as it can.
  try {
    TakeProbeReport(message);
  } catch (...) {
  }
  try {
    // For every message, also one ignored: this may have been the last worker.
    CheckRunFinished();
  } catch (...) {
  }
  try {
    // Let one further message through (without waiting for one), as the
    // desktop's message loop would between two reports.
    TMessageQueue::Main().ProcessOneMessage();
  } catch (...) {
  }
}

void TTraceRouteForm::TakeProbeReport(const TMessage& message) {
  if (ReleaseDroppedWorker(droppedProbes_, message.Tag)) return;  // of an earlier run
  if (TakeRoundProbeReport(message)) return;
  auto* poster = PosterSlot(ProbeSlots, message);
  if (poster == nullptr) return;  // no worker of this window's slots posted it
  if (message.LParam != static_cast<LPARAM>(RunId)) {
    poster->reset();  // launched before a Start that failed after drawing a new run id
    return;
  }
  // The worker stays in its slot while its result is recorded, so that the
  // completion check recording runs still sees it under way; then it is
  // released (its thread waited for) if recording left it there.
  const auto release = [&] {
    if (auto* still = PosterSlot(ProbeSlots, message)) still->reset();
  };
  const TPingThread& worker = **poster;
  try {
    if (worker.Failure.empty()) {
      RecordResult(worker.Ttl, worker.ElapsedMs, worker.Reply);
    } else {
      StopOnProbeFailure(worker.Failure);
    }
  } catch (...) {
    release();
    throw;
  }
  release();
  if (!RouteEndFound) LaunchProbe(TargetAddress, LastRequestedTtl + 1);
}

bool TTraceRouteForm::Finishing(std::int32_t n, const TReplyStatus& reply) const {
  return (reply.StatusKind == TReplyStatusKind::rskEchoReply && reply.ReplyFrom == TargetAddress) ||
         n >= MaxHops;
}

void TTraceRouteForm::StopOnProbeFailure(const std::string& failure) {
  // A probe that could not be sent says nothing about its hop: the run stops,
  // and the first such failure is shown, once.
  if (StopRequested) return;
  Button2Click();
  if (view_ != nullptr) view_->ShowMessage(Id_CANNOT_TRACE + TargetHost + ": " + failure);
}

void TTraceRouteForm::RecordResult(std::int32_t n, std::uint32_t time, const TReplyStatus& reply) {
  if (n < 1 || n > MaxHopEntries) return;  // no such hop entry
  if (n > lastKept_) return;               // beyond the route's end: not part of this run
  outcomes_[static_cast<std::size_t>(n)] =
      THopOutcome{.Silent = IsSilentAddress(reply.ReplyFrom), .Finishing = Finishing(n, reply)};
  ApplyRouteEnd(JudgeRoute(outcomes_));
  if (n > lastKept_) return;  // the fourth silent result ended the route below it

  THopEntry& entry = Hops[static_cast<std::size_t>(n)];
  entry.HostName = reply.ReplyFrom;
  entry.Address = reply.ReplyFrom;
  entry.HopNo = n;
  entry.Time = time;
  entry.Filled = true;
  CountResult(n, reply, time);  // one probe, answered when any attempt was

  StartNameResolution(reply.ReplyFrom, n);
  StartAsLookup(reply.ReplyFrom);
  RefreshGrid();
}

void TTraceRouteForm::ApplyRouteEnd(const TRouteEnd& route) {
  RouteEndFound = route.Found;
  RouteLength = route.Length;
  HighestAnsweringHop = route.HighestAnswering;
  SilentCount = route.SilentCount;
  // Results that arrived before a lower TTL ended the route are dropped, as
  // if they had come after it: the same rows in whatever order results come.
  for (std::int32_t hop = route.LastKept + 1; hop <= lastKept_; ++hop) {
    THopEntry& entry = Hops[static_cast<std::size_t>(hop)];
    entry.Filled = false;
    entry.Address.clear();
    // Nor does it count in the statistics.
    if (static_cast<std::size_t>(hop) <= Stats.size())
      Stats[static_cast<std::size_t>(hop - 1)] = {};
  }
  lastKept_ = std::min(lastKept_, route.LastKept);
}

int ExitWithoutWaitingForWorkers(const TTraceRouteForm* form, int status) {
  if (form != nullptr && form->WorkersUnderWay()) {
    std::fflush(nullptr);
    std::_Exit(status);
  }
  return status;
}

}  // namespace quillon
