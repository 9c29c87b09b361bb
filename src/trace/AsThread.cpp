#include "trace/AsThread.h"

#include <algorithm>
#include <stdexcept>

#include "net/IdStack.h"
#include "trace/AsCache.h"
#include "trace/PingThread.h"
#include "trace/TraceRouteForm.h"
#include "trace/WorkerSlots.h"

namespace quillon {

TAsThread::TAsThread() : Serial(NextWorkerSerial()) {}

// Execute reads and writes the fields above; they must outlive the thread.
TAsThread::~TAsThread() {
  WaitFor();
}

void TAsThread::Execute() {
  try {
    TIdStack* stack = GSocketStack.load(std::memory_order_acquire);
    if (stack == nullptr) throw std::runtime_error("no socket stack");
    const TIdTextAnswer answer = stack->QueryText(Question, AsQueryTimeoutMs);
    for (const auto& record : answer.Records) Answers.push_back(JoinTxtStrings(record));
    Answered = true;
  } catch (...) {
    // No answer: nothing is kept, and a later hop with the address asks again.
    Answers.clear();
  }
  TMessageQueue::Main().PostMessage(Window, WM_AS_RESOLVED, static_cast<WPARAM>(SlotIndex), 0,
                                    Serial);
}

bool TTraceRouteForm::AsSlotBusy() const {
  return BusyCount(AsSlots) > 0;
}

void TTraceRouteForm::AskAs(const std::string& question, const std::string& address,
                            std::uint32_t number) {
  // One question at a time per name: a route through one network asks once.
  if (std::any_of(AsSlots.begin(), AsSlots.end(),
                  [&](const auto& slot) { return slot && slot->Question == question; }))
    return;
  auto* free = FirstFreeSlot(AsSlots);
  if (free == nullptr) return;  // all busy: a later hop with the address asks again
  auto worker = std::make_unique<TAsThread>();
  worker->Question = question;
  worker->Address = address;
  worker->Number = number;
  worker->SlotIndex = static_cast<std::int32_t>(free - AsSlots.data());
  worker->Window = handle_;
  StartInSlot(*free, std::move(worker));
}

void TTraceRouteForm::StartAsLookup(const std::string& address) {
  if (!AsLookups || !asCache_ || StopRequested) return;
  // Only addresses someone announces leave the machine.
  const std::string question = AsOriginQuestion(address);
  if (question.empty()) return;
  const TAsOriginEntry* known = asCache_->Origin(address);
  if (known == nullptr) return AskAs(question, address, 0);
  if (!known->Origin) return;
  for (const std::uint32_t number : known->Origin->Numbers) {
    if (asCache_->Name(number) == nullptr) AskAs(AsNameQuestion(number), {}, number);
  }
}

void TTraceRouteForm::WMAsResolved(const TMessage& message) {
  auto* poster = PosterSlot(AsSlots, message);
  if (poster == nullptr) return;
  // Out of the slot first: released (its thread waited for) when this ends.
  const std::unique_ptr<TAsThread> worker = std::move(*poster);
  if (!worker->Answered || !asCache_) return;
  try {
    if (worker->Number != 0) {
      asCache_->PutName(worker->Number, worker->Answers);
    } else {
      asCache_->PutOrigin(worker->Address, worker->Answers);
      StartAsLookup(worker->Address);  // the names of the AS just learnt
    }
    RefreshGrid();
  } catch (...) {
    // An answer that cannot be kept is only an AS not shown.
  }
}

void TTraceRouteForm::SetAsLookups(bool on) {
  AsLookups = on;
  // The hops already found are asked about at once.
  for (std::int32_t hop = 1; on && hop <= MaxHopEntries; ++hop) {
    const THopEntry& entry = Hops[static_cast<std::size_t>(hop)];
    if (entry.Filled && !IsSilentAddress(entry.Address)) StartAsLookup(entry.Address);
  }
  RefreshGrid();
}

std::optional<THopAs> TTraceRouteForm::HopAs(const std::string& address) const {
  if (!AsLookups || !asCache_) return std::nullopt;
  const TAsOriginEntry* known = asCache_->Origin(address);
  if (known == nullptr || !known->Origin) return std::nullopt;
  THopAs as{*known->Origin, {}};
  for (const std::uint32_t number : as.Origin.Numbers) {
    const TAsNameEntry* name = asCache_->Name(number);
    as.Names.push_back(name != nullptr && name->Name ? name->Name->Name : std::string());
  }
  return as;
}

}  // namespace quillon
