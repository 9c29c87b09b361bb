// The main window's state and operations, without any toolkit: the hop table,
// the run state, the worker slots, the controls as plain state, and every event
// handler of a trace run. A view (Qt window, terminal, test) shows this state and
// forwards the user's actions; workers report through the platform's message queue.
#pragma once

#include <array>
#include <cassert>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "net/IdAntiFreeze.h"
#include "net/IdIcmpClient.h"
#include "net/ProbeMethod.h"
#include "platform/MessageQueue.h"
#include "trace/AsRecords.h"
#include "trace/Canvas.h"
#include "trace/CommandLine.h"
#include "trace/HopGrid.h"
#include "trace/ProbeRules.h"
#include "trace/Report.h"
#include "trace/RoundScheduler.h"
#include "trace/TraceView.h"

namespace quillon {

class TPingThread;
class TDNSThread;
class TDnsBuffer;
class TAsThread;
class TAsCache;
class TRoundTimer;

constexpr std::uint32_t WM_PROBE_DONE = WM_USER + 18;     // 1042
constexpr std::uint32_t WM_NAME_RESOLVED = WM_USER + 27;  // 1051
constexpr std::uint32_t WM_NEXT_ROUND = WM_USER + 40;     // the wait between rounds is over
constexpr std::uint32_t WM_AS_RESOLVED = WM_USER + 61;    // an AS worker's answer (AsThread.h)

// A process-wide serial number for every worker (probe and name): its message
// repeats it in TMessage::Tag, so a handler can tell the worker that posted from a
// later one in the same slot with the same run id. Never 0; thread safe.
std::uint64_t NextWorkerSerial();

constexpr int ResolverSlotCount = 50;
constexpr int AsSlotCount = 16;

struct THopEntry {
  std::string Address;
  std::string HostName;
  std::int32_t HopNo = 0;
  std::uint32_t Time = 0;
  bool Filled = false;
};

// The route view's texts of a row from its hop entry (the bar column aside).
TRouteTexts RouteRowTexts(int row, const THopEntry& entry);

// Rounds: between round starts by default, and the shortest an ordinary user may ask.
constexpr std::int32_t DefaultIntervalMs = 1000;
constexpr std::int32_t UserMinIntervalMs = 200;

// Plain state of the window's controls.
struct TComboBoxState {
  std::string Text;
  std::vector<std::string> Items;
};
struct TEditState {
  std::string Text;
};
struct TButtonState {
  std::string Caption;
  bool Visible = true;
  bool Enabled = true;
};

// Where the two state files live.
struct TFormFiles {
  std::string HistoryPath;  // host history (".hst")
  std::string CachePath;    // name cache (".dnb")
};

class TTraceRouteForm {
 public:
  // Creates the components (IdIcmpClient1 first, which brings up the socket stack)
  // and registers the window with TMessageQueue::Main(). The view may be null.
  TTraceRouteForm(TTraceView* view, TFormFiles files);
  // Releases every worker still held (in a slot or dropped by a later Start),
  // waiting for its thread.
  ~TTraceRouteForm();
  TTraceRouteForm(const TTraceRouteForm&) = delete;
  TTraceRouteForm& operator=(const TTraceRouteForm&) = delete;

  // --- event handlers ---
  // Seeds the generator, empties the resolver slots, loads the name cache, resets
  // the grid, loads the host history, then reads the command line (the program's
  // parameters without its own path) and may start a trace.
  void FormCreate(const std::vector<std::string>& parameters);
  void FormClose();  // saves the name cache
  void Button1Click();
  void Button2Click();
  void HostKeyPress(char& key);

  // --- trace run ---
  void StartTrace();
  void UpdateHostHistory();
  void CheckRunFinished();
  void LaunchProbe(const std::string& address, std::int32_t n);
  // A probe worker for this run's target, TTL, time-out and probe method.
  std::unique_ptr<TPingThread> NewProbeWorker(const std::string& address, std::int32_t ttl) const;
  void RecordResult(std::int32_t n, std::uint32_t time, const TReplyStatus& reply);
  // A probe whose request could not go out: Stop, and the reason shown once.
  void StopOnProbeFailure(const std::string& failure);
  void StartNameResolution(const std::string& address, std::int32_t hop);
  void WMProbeDone(const TMessage& message);
  void WMNameResolved(const TMessage& message);
  // AS lookups (AsThread.cpp): for a hop's address, from the AS cache or by
  // an AS worker, when AsLookups is on and the address may be asked.
  void StartAsLookup(const std::string& address);
  void WMAsResolved(const TMessage& message);
  // The "AS numbers" item: on asks about the hops found so far at once.
  void SetAsLookups(bool on);
  // What is known of the AS of an address, while AsLookups is on.
  std::optional<THopAs> HopAs(const std::string& address) const;
  bool AsSlotBusy() const;
  // A round of a run of several is due, or a later round's wait has ended.
  void WMNextRound(const TMessage& message);

  // --- grid ---
  void ResetGrid();
  void RefreshGrid();
  void ComputeTimeStats();
  void OutGridDrawCell(TCanvas& canvas, int col, int row, const TRect& rect) const;

  // --- views and exports ---
  TGridView GridView() const { return gridView_; }
  // Refills OutGrid for the view and repaints it.
  void SetGridView(TGridView view);
  // Rounds until Stop at the default interval, for the Host box's target;
  // starts the run when idle.
  void RepeatUntilStopClick();
  // The current view as tab-separated text under a line naming the target,
  // its address, the start time, the rounds and the interval.
  std::string CopyText() const;
  std::string CopyCsvText() const;
  // Writes the report as CSV or JSON, replacing the file atomically; "" on
  // success, otherwise why not (the file is then as it was).
  std::string SaveReport(const std::string& path, TExportFormat format) const;
  // A data cell's tooltip: a cut text whole, every address of a hop answered
  // by several, the explanation of the loss hint; "" when there is none.
  std::string CellHint(int col, int row) const;
  // A run has started at least once: there is something to copy or save.
  bool HasReport() const;
  // The run as the exports see it: every row of the grid with its statistics.
  TReportSnapshot Report() const;

  HWND Handle() const { return handle_; }
  const TFormFiles& Files() const { return files_; }
  // The name cache exists from FormCreate on; asking for it earlier is a fault.
  TDnsBuffer& NameCache() {
    assert(nameCache_);
    return *nameCache_;
  }
  bool ProbeSlotBusy() const;
  bool ResolverSlotBusy() const;
  // Name workers dropped from their slots by a later Start, not yet reported.
  std::size_t DroppedResolverCount() const { return droppedResolvers_.size(); }
  // Probe workers dropped from their slots by a later Start, not yet reported.
  std::size_t DroppedProbeCount() const { return droppedProbes_.size(); }
  // Any worker, in a slot or set aside, that has not reported yet: releasing
  // the window would wait for it (a probe may wait out three time-outs).
  bool WorkersUnderWay() const {
    return ProbeSlotBusy() || ResolverSlotBusy() || AsSlotBusy() || !droppedProbes_.empty() ||
           !droppedResolvers_.empty() || !roundProbes_.empty();
  }

  // --- controls ---
  // The design-time text: what the box shows when the history gives nothing.
  TComboBoxState Host{"localhost", {}};
  TEditState Hoops{"30"};
  TEditState TimeOut{"5000"};
  TButtonState Button1{"Start", true, true};
  TButtonState Button2{"Stop", false, false};
  THopGrid OutGrid;
  std::unique_ptr<TIdIcmpClient> IdIcmpClient1;
  std::unique_ptr<TIdAntiFreeze> IdAntiFreeze1;

  // --- run state ---
  std::int32_t SilentCount = 0;
  bool Running = false;
  std::uint16_t RunId = 0;
  std::int32_t TimeCount = 0;
  std::int32_t TimeMax = 0;
  std::int32_t RouteLength = 0;
  std::int32_t HighestAnsweringHop = 0;
  bool RouteEndFound = false;
  bool StopRequested = false;
  std::int32_t TimeOutMs = 0;
  std::string TargetHost;
  std::string TargetAddress;
  // The family asked for ("-4", "-6"); a literal host decides its own.
  TIdIPVersion IPVersion = TIdIPVersion::ivAny;
  std::int32_t MaxHops = 0;
  std::int32_t LastRequestedTtl = 0;
  TCommandSettings CommandLine;  // what FormCreate read from the command line
  // Ask the public IP-to-AS zone who announces each hop (--as, "AS numbers").
  bool AsLookups = false;
  // The grid's host cells begin with the AS ("[AS64501] "); a view with an
  // AS column of its own (the terminal) turns it off.
  bool AsInHostCell = true;
  // Probes a run keeps under way; the run's probe slots are sized from it at Start.
  TProbesInFlight InFlight;
  // How the probes go (ICMP, UDP, TCP) and the port they go to (0: the
  // method's default); a run uses the values of its Start.
  TProbeMethod ProbeMethod = TProbeMethod::pmIcmp;
  std::int32_t ProbePort = 0;
  TProbeMethod RunProbeMethod = TProbeMethod::pmIcmp;  // of the current run
  std::int32_t RunProbePort = 0;
  std::array<THopEntry, MaxHopEntries + 1> Hops{};  // 1..500; entry 0 unused
  // --- rounds ---
  std::int32_t Rounds = 1;  // of the next run: 1 traces once, 0 repeats until Stop
  std::int32_t IntervalMs = DefaultIntervalMs;           // between round starts
  std::int32_t RunRounds = 1;                            // of the current run
  std::int32_t Round = 0;                                // the current round, from 1
  std::int32_t RoundsDone = 0;                           // rounds whose every wait ended
  std::string StartedAt;                                 // local time of the run's start
  std::vector<THopStats> Stats;                          // per TTL, hop 1 at index 0
  std::vector<std::unique_ptr<TPingThread>> ProbeSlots;  // 1..InFlight; entry 0 unused
  std::array<std::unique_ptr<TDNSThread>, ResolverSlotCount + 1> ResolverSlots;  // 1..50
  std::array<std::unique_ptr<TAsThread>, AsSlotCount + 1> AsSlots;               // 1..16

 private:
  void Notify();        // tells the view the controls changed
  void DropWorkers();   // empties every slot into the dropped lists
  void AbandonStart();  // a Start that cannot go on returns to Idle
  // The two halves of UpdateHostHistory: the typed host to the top of the
  // list (false when that failed half-way: then nothing is saved), and the
  // list into its file.
  bool MoveHostToTop();
  void SaveHostHistory() noexcept;
  // The steps of StartTrace after the run state is Tracing; each returns to
  // Idle itself when the run cannot go on.
  void ReadRunBoxes();
  bool ResolveTarget();
  void OpenWindowSocket();
  void BeginProbing();
  // A round's first probes from TTL 1, one per probe slot of the run.
  void LaunchFirstProbes();
  // The poster's result recorded, its worker released, the next TTL launched.
  void TakeProbeReport(const TMessage& message);
  bool Finishing(std::int32_t n, const TReplyStatus& reply) const;
  // Takes the route's end as the results so far give it, and discards the
  // entries of TTLs above where it ended.
  void ApplyRouteEnd(const TRouteEnd& route);
  // Rounds (TraceRounds.cpp).
  void BeginRun();
  bool HopReported(std::int32_t hop) const;  // in the first round
  // The first round is done: true while later rounds go on.
  bool RoundsGoOn();
  // The later rounds' clock starts with the first round's probes.
  void StartRoundClock();
  // Applies what is due by now: ended waits, rounds to start; re-arms the timer.
  void PaceRounds();
  void StartLaterRound(std::int32_t round);
  void LaunchRoundProbe(std::int32_t round, std::int32_t ttl, bool extends = false);
  // A later round's probe reported: false when the message is no such probe's.
  bool TakeRoundProbeReport(const TMessage& message);
  void RecordRoundResult(const TRoundProbe& probe, const TPingThread& worker);
  // A later round's answer into the route view's entry of its hop.
  void ShowRoundAnswer(std::int32_t n, const TReplyStatus& reply, std::uint32_t time);
  void ArmRoundTimer();
  // The run ends: later rounds' probes still waiting are set aside.
  void EndRounds();
  void UpdateRoundsDone();
  // The hops a later round probes: the route as known, or while its end is
  // not, up to the highest TTL launched.
  std::int32_t KnownLength() const;
  // Each probe into its hop's statistics: sent, then answered or lost.
  void CountSent(std::int32_t ttl);
  void CountResult(std::int32_t ttl, const TReplyStatus& reply, std::uint32_t time);
  bool LookupUnderWay(const std::string& address) const;
  void AskAs(const std::string& question, const std::string& address, std::uint32_t number);
  // The host cell's AS tooltip of a row of the grid; "" when none.
  std::string AsCellHint(int col, int row) const;
  // The address a row's AS is shown for.
  std::string RowAddress(int row) const;
  void ShowIdle();
  void ShowTracing();
  void GridChanged();   // tells the view to repaint the grid at once
  void WriteHeaders();  // the header row and column count of the view
  void WriteRows();     // every data row from the hop table or the statistics
  // The grid writes its rows only once a hop has answered or a route is known.
  bool RowsShown() const;

  TTraceView* view_;
  TFormFiles files_;
  TGridView gridView_ = TGridView::gvRoute;
  std::int32_t keptRows_ = 0;  // rows beyond the first round's route that later rounds found
  bool firstRoundDone_ = false;
  std::uint64_t nextRoundTag_ = 0;
  TRoundScheduler rounds_;
  std::unique_ptr<TRoundTimer> roundTimer_;
  // Later rounds' probes under way, outside the first round's slots.
  std::vector<std::unique_ptr<TPingThread>> roundProbes_;
  HWND handle_ = 0;
  std::unique_ptr<TDnsBuffer> nameCache_;
  std::unique_ptr<TAsCache> asCache_;  // from FormCreate on
  // What each TTL of this run reported (index = TTL), for the end-of-route
  // rules; results above lastKept_ lie beyond the route's end and are dropped.
  std::vector<std::optional<THopOutcome>> outcomes_;
  std::int32_t lastKept_ = MaxHopEntries;
  // Workers that a later Start dropped from their slots; released when their
  // message arrives or when the window goes.
  std::vector<std::unique_ptr<TPingThread>> droppedProbes_;
  std::vector<std::unique_ptr<TDNSThread>> droppedResolvers_;
};

// Ends the process at once with the status when the form (if there is one)
// still has workers under way, of its run or set aside by a later Start: a probe
// may wait out three time-outs, and no result of theirs is wanted any more.
// Otherwise returns the status. Save what must be kept before calling it.
int ExitWithoutWaitingForWorkers(const TTraceRouteForm* form, int status);

}  // namespace quillon
