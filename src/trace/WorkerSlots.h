// What the probe slots and the resolver slots have in common: launching a worker
// into the lowest free slot, finding the worker that posted a message, and
// releasing workers that a later Start dropped from their slots.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <memory>
#include <vector>

#include "platform/MessageQueue.h"
#include "platform/Thread.h"

namespace quillon {

// Slots are numbered from 1 (entry 0 is never used), in an array of fixed size
// or a vector sized for the run.

// The lowest empty slot, or nullptr when all are busy.
template <class TSlots>
auto* FirstFreeSlot(TSlots& slots) {
  const auto free =
      slots.empty() ? slots.end() : std::find(std::next(slots.begin()), slots.end(), nullptr);
  return free == slots.end() ? nullptr : &*free;
}

// How many slots hold a worker.
template <class TSlots>
int BusyCount(const TSlots& slots) {
  return static_cast<int>(std::count_if(slots.begin() + (slots.empty() ? 0 : 1), slots.end(),
                                        [](const auto& slot) { return slot != nullptr; }));
}

// Puts a filled-in worker into its slot and starts it at normal priority. A worker
// whose thread cannot start gives the slot back: it would keep the run busy for ever.
template <class TWorker>
void StartInSlot(std::unique_ptr<TWorker>& slot, std::unique_ptr<TWorker> worker) {
  worker->SetPriority(TThreadPriority::tpNormal);
  TWorker& started = *worker;
  slot = std::move(worker);
  try {
    started.Start();
  } catch (...) {
    slot.reset();
    throw;
  }
}

// The slot of the worker that posted the message: the slot named by wParam, when
// its worker carries the serial the message repeats. A later worker in the same
// slot, even with the same run id, has not written its result yet.
template <class TSlots>
auto* PosterSlot(TSlots& slots, const TMessage& message) {
  decltype(&slots[0]) poster = nullptr;
  if (message.WParam < 1 || message.WParam >= slots.size()) return poster;
  auto& slot = slots[message.WParam];
  if (slot && slot->Serial == message.Tag) poster = &slot;
  return poster;
}

// Releases (waits for) the dropped worker whose report this is; false when the
// message comes from no dropped worker.
template <class TWorker>
bool ReleaseDroppedWorker(std::vector<std::unique_ptr<TWorker>>& dropped, std::uint64_t serial) {
  const auto poster = std::find_if(dropped.begin(), dropped.end(), [serial](const auto& worker) {
    return worker && worker->Serial == serial;
  });
  if (poster == dropped.end()) return false;
  dropped.erase(poster);
  return true;
}

}  // namespace quillon
