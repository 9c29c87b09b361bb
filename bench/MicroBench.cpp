// Micro benchmarks of the hot paths: reply classification, request building,
// the name cache and the grid refresh.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "net/IdIcmpClient.h"
#include "trace/DnsBuffer.h"
#include "trace/TraceRouteForm.h"

namespace {

using namespace quillon;

std::string AddressOf(int i) {
  return "10." + std::to_string((i >> 16) & 255) + "." + std::to_string((i >> 8) & 255) + "." +
         std::to_string(i & 255);
}

// A time-exceeded datagram as a router sends it, about the client's request.
int CraftTimeExceeded(TIdIcmpClient& client) {
  auto& a = client.ReplyArea;
  a.fill(0);
  a[0] = 0x45;
  a[8] = 250;
  a[12] = 198, a[13] = 18, a[14] = 0, a[15] = 1;
  a[20] = 11;
  a[28] = 0x45;
  a[48] = 8;
  a[54] = static_cast<std::uint8_t>(client.NextSequence & 0xFF);
  a[55] = static_cast<std::uint8_t>(client.NextSequence >> 8);
  return 56;
}

void BM_ClassifyPacket(benchmark::State& state) {
  TIdIcmpClient client;
  const int count = CraftTimeExceeded(client);
  TReplyStatus record;
  for (auto _ : state) {
    benchmark::DoNotOptimize(client.ClassifyPacket(count, record));
  }
}
BENCHMARK(BM_ClassifyPacket);

void BM_BuildRequest(benchmark::State& state) {
  TIdIcmpClient client;
  client.SetPacketSize(static_cast<std::uint32_t>(state.range(0)));
  for (auto _ : state) {
    client.BuildRequest("asdas");
    benchmark::DoNotOptimize(client.RequestArea[2]);
  }
}
BENCHMARK(BM_BuildRequest)->Arg(32)->Arg(1500);

TDnsBuffer FilledCache(int records) {
  TDnsBuffer cache([] { return 46000.0; });
  for (int i = 0; i < records; ++i) cache.AddName(AddressOf(i), "host-" + std::to_string(i));
  return cache;
}

// The worst case: the address is not cached at all.
void BM_FindNameMiss(benchmark::State& state) {
  const TDnsBuffer cache = FilledCache(static_cast<int>(state.range(0)));
  const std::string missing = "203.0.113.77";
  for (auto _ : state) benchmark::DoNotOptimize(cache.FindName(missing));
}
BENCHMARK(BM_FindNameMiss)->Arg(1000)->Arg(100000);

void BM_FindNameLastRecord(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const TDnsBuffer cache = FilledCache(n);
  const std::string last = AddressOf(n - 1);
  for (auto _ : state) benchmark::DoNotOptimize(cache.FindName(last));
}
BENCHMARK(BM_FindNameLastRecord)->Arg(1000)->Arg(100000);

void BM_LoadFromFile(benchmark::State& state) {
  char dir[] = "/tmp/quillon-bench-XXXXXX";
  const std::string path = std::string(::mkdtemp(dir)) + "/cache.dnb";
  FilledCache(100000).SaveToFile(path);
  for (auto _ : state) {
    TDnsBuffer cache;
    cache.LoadFromFile(path);
    benchmark::DoNotOptimize(cache.Count());
  }
  ::unlink(path.c_str());
  ::rmdir(dir);
}
BENCHMARK(BM_LoadFromFile)->Unit(benchmark::kMillisecond);

void BM_RefreshGrid500(benchmark::State& state) {
  TTraceRouteForm form(nullptr, TFormFiles{});
  form.ResetGrid();
  for (int n = 1; n <= MaxHopEntries; ++n) {
    auto& hop = form.Hops[static_cast<std::size_t>(n)];
    hop = THopEntry{AddressOf(n), "router-" + std::to_string(n), n, static_cast<std::uint32_t>(n),
                    true};
  }
  form.RouteEndFound = true;
  form.RouteLength = MaxHopEntries;
  for (auto _ : state) {
    form.RefreshGrid();
    benchmark::DoNotOptimize(form.TimeMax);
  }
}
BENCHMARK(BM_RefreshGrid500)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
