#include "trace/DNSThread.h"

#include <algorithm>
#include <stdexcept>

#include "net/IdStack.h"
#include "trace/DnsBuffer.h"
#include "trace/TraceRouteForm.h"
#include "trace/WorkerSlots.h"

namespace quillon {

TDNSThread::TDNSThread() : Serial(NextWorkerSerial()) {}

// Execute reads and writes the fields above; they must outlive the thread.
TDNSThread::~TDNSThread() {
  WaitFor();
}

void TDNSThread::Execute() {
  try {
    TIdStack* stack = GSocketStack.load(std::memory_order_acquire);
    if (stack == nullptr) throw std::runtime_error("no socket stack");
    HostName = stack->AddrToHostName(Address);
  } catch (...) {
    // Any failure is shown (and cached) as the address marked unresolved.
    HostName = Address + NoDnsSuffix;
  }
  TMessageQueue::Main().PostMessage(Window, WM_NAME_RESOLVED, static_cast<WPARAM>(SlotIndex),
                                    static_cast<LPARAM>(RunId), Serial);
}

void TTraceRouteForm::StartNameResolution(const std::string& address, std::int32_t hop) {
  if (StopRequested) return;
  if (hop < 1 || hop > MaxHopEntries) return;
  THopEntry& entry = Hops[static_cast<std::size_t>(hop)];

  if (address.empty() || address == "0.0.0.0") {
    entry.HostName = "Unknown Host";
    entry.Address = "Unknown Ip";
    entry.Filled = true;
    RefreshGrid();
    CheckRunFinished();
    return;
  }

  // Before FormCreate there is no cache: every address is a miss.
  const std::string name = nameCache_ ? nameCache_->FindName(address) : address;
  if (name != address) {
    entry.Address = address;
    entry.HostName = name;
    entry.Filled = true;
    RefreshGrid();
    CheckRunFinished();
    return;
  }

  // Later rounds look up only an address not yet named.
  if (Round > 1 && LookupUnderWay(address)) return;
  auto* free = FirstFreeSlot(ResolverSlots);
  if (free == nullptr) return;  // all busy: the address stays as the name

  auto worker = std::make_unique<TDNSThread>();
  worker->Address = address;
  worker->SlotIndex = static_cast<std::int32_t>(free - ResolverSlots.data());
  worker->Window = handle_;
  worker->HopNo = hop;
  worker->RunId = RunId;
  StartInSlot(*free, std::move(worker));
}

void TTraceRouteForm::WMNameResolved(const TMessage& message) {
  if (ReleaseDroppedWorker(droppedResolvers_, message.Tag)) {
    // A worker that a later Start dropped from its slot: its result belongs to an
    // earlier run, but the object is ours to release now that it has reported.
  } else if (auto* poster = PosterSlot(ResolverSlots, message)) {
    // Out of the slot first: the worker is released (its thread waited for)
    // when this block ends, whatever happens on the way.
    const std::unique_ptr<TDNSThread> worker = std::move(*poster);
    const bool currentRun = message.LParam == static_cast<LPARAM>(RunId);
    // The latest TTL requested is accepted too: the route's last hop often is
    // that one when few probes are in flight. A hop beyond the route's end was
    // discarded with its result. Later rounds start again from TTL 1: a name
    // looked up in an earlier one is kept whatever this round has requested.
    if (currentRun && worker->HopNo >= 1 && worker->HopNo <= MaxHopEntries &&
        (Round > 1 || (worker->HopNo <= LastRequestedTtl && worker->HopNo <= lastKept_))) {
      try {
        THopEntry& entry = Hops[static_cast<std::size_t>(worker->HopNo)];
        // A hop answered by another address since keeps its own label.
        if (Round <= 1 || entry.Address == worker->Address) {
          entry.Address = worker->Address;
          entry.HostName = worker->HostName;
          entry.Filled = true;
        }
        if (nameCache_) nameCache_->AddName(worker->Address, worker->HostName);
        RefreshGrid();
      } catch (...) {
        // A name that cannot be kept is only a name not shown.
      }
    }
  }
  CheckRunFinished();
}

}  // namespace quillon
