// Memory of a long run: the heap in use after 100 fast rounds on loopback and
// after 10,000 must be the same, since a hop's statistics keep no list of times
// (a few kilobytes of container capacity, reached by round 1,000, aside).
// Needs ICMP sockets (root, or datagram sockets allowed); skipped otherwise.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/MessageQueue.h"
#include "trace/DnsBuffer.h"
#include "trace/TraceRouteForm.h"

namespace {

using namespace quillon;

std::size_t HeapInUse() {
  return mallinfo2().uordblks;
}

// Measures the heap as round 101 and the last round start: the rounds before
// committed, no probe under way, the same point of the cycle.
class TMeasuringView : public TTraceView {
 public:
  void ShowMessage(const std::string&) override {}
  void GridChanged() override {}
  void ControlsChanged() override {
    if (Form == nullptr || Form->ProbeSlotBusy()) return;
    if (Form->Round == 101 && After100 == 0) After100 = HeapInUse();
    if (Form->Round == 1001 && After1000 == 0) After1000 = HeapInUse();
    if (Form->Round == Form->RunRounds && AtLast == 0) AtLast = HeapInUse();
  }
  const TTraceRouteForm* Form = nullptr;
  std::size_t After100 = 0;
  std::size_t After1000 = 0;
  std::size_t AtLast = 0;
};

void BM_RoundsMemory(benchmark::State& state) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("quillon-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const int rounds = static_cast<int>(state.range(0));
  for (auto _ : state) {
    TMeasuringView view;
    TTraceRouteForm form(&view, {(dir / "q.hst").string(), (dir / "q.dnb").string()});
    view.Form = &form;
    form.FormCreate({});
    // Named already: no lookup leaves the machine, nor grows anything.
    form.NameCache().AddName("127.0.0.1", "localhost");
    form.Host.Text = "127.0.0.1";
    form.TimeOut.Text = "1000";
    form.Rounds = rounds;
    form.IntervalMs = 0;
    try {
      form.StartTrace();
    } catch (const std::exception& error) {
      state.SkipWithError(error.what());
      break;
    }
    auto& queue = TMessageQueue::Main();
    while (form.Running || form.ProbeSlotBusy() || form.ResolverSlotBusy()) {
      if (queue.WaitMessage(1000)) queue.ProcessOneMessage();
    }
    const std::size_t after100 = view.After100;
    const std::size_t atEnd = view.AtLast;
    state.counters["rounds"] = form.RoundsDone;
    state.counters["heap_after_100_rounds"] = static_cast<double>(after100);
    state.counters["heap_after_1000_rounds"] = static_cast<double>(view.After1000);
    state.counters["heap_after_all_but_one_round"] = static_cast<double>(atEnd);
    state.counters["growth_bytes"] = static_cast<double>(atEnd) - static_cast<double>(after100);
    form.FormClose();
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_RoundsMemory)->Arg(10000)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
