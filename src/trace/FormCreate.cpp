// The main window's creation and closing: the name cache, the grid, the host
// history and the command line are read once, before the window is first shown.
#include <filesystem>

#include "platform/Random.h"
#include "trace/AsCache.h"
#include "trace/CommandLine.h"
#include "trace/DNSThread.h"
#include "trace/DnsBuffer.h"
#include "trace/HostHistory.h"
#include "trace/TraceRouteForm.h"

namespace quillon {
namespace {

// The one history entry of a first start; tracing it never leaves the machine.
constexpr const char* DefaultHistoryHost = "localhost";

}  // namespace

void TTraceRouteForm::FormCreate(const std::vector<std::string>& parameters) {
  Randomize();

  // A worker still held here would report later; keep it reachable until then.
  for (auto& slot : ResolverSlots) {
    if (slot) droppedResolvers_.push_back(std::move(slot));
  }

  nameCache_ = std::make_unique<TDnsBuffer>();
  nameCache_->LoadFromFile(files_.CachePath);
  asCache_ = std::make_unique<TAsCache>();
  asCache_->LoadFromFile(AsCachePath(files_.CachePath));

  ResetGrid();

  try {
    Host.Items.clear();
    std::error_code error;
    if (std::filesystem::exists(files_.HistoryPath, error)) {
      ReadHostHistory(files_.HistoryPath, Host.Items);
    } else {
      Host.Items.emplace_back(DefaultHistoryHost);
    }
    if (!Host.Items.empty()) Host.Text = Host.Items.front();
  } catch (...) {
    // The history is a convenience: whatever was loaded so far stays.
  }
  Notify();

  std::vector<std::string> words = parameters;
  IPVersion = TakeIPVersionOptions(words);
  const bool hostGiven = ParseCommandLine(BuildCommandText(words), CommandLine);
  if (!CommandLine.Refused.empty()) {
    // A value no run may use: say so rather than trace with another.
    if (view_ != nullptr) view_->ShowMessage(CommandLine.Refused);
    return;
  }
  // The probes in flight have no box: they apply with or without a host.
  InFlight = CommandLine.InFlight;
  if (CommandLine.AsLookups) AsLookups = true;
  ProbeMethod = CommandLine.ProbeMethod;
  ProbePort = CommandLine.ProbePort;
  if (hostGiven) {
    Host.Text = CommandLine.Host;
    Hoops.Text = std::to_string(CommandLine.Hops);
    TimeOut.Text = std::to_string(CommandLine.TimeOut);
    Notify();
    if (!Running) StartTrace();
  }
}

void TTraceRouteForm::FormClose() {
  if (nameCache_) nameCache_->SaveToFile(files_.CachePath);
  if (asCache_) asCache_->SaveToFile(AsCachePath(files_.CachePath));
}

}  // namespace quillon
