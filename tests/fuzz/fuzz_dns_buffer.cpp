// Damaged name cache files: loading keeps every text within its field, and what
// is saved again loads back to the same records.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/AtomicFile.h"
#include "trace/DnsBuffer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string dir = [] {
    char pattern[] = "/tmp/quillon-fuzz-dnb-XXXXXX";
    return std::string(::mkdtemp(pattern));
  }();
  const std::string path = dir + "/cache.dnb";
  const std::string saved = dir + "/again.dnb";
  if (!quillon::ReplaceFileContents(path,
                                    std::string_view(reinterpret_cast<const char*>(data), size)))
    return 0;
  quillon::TDnsBuffer cache([] { return 0.0; });
  cache.LoadFromFile(path);
  if (static_cast<std::size_t>(cache.Count()) != size / 288) std::abort();
  for (std::int32_t i = 0; i < cache.Count(); ++i) {
    if (cache.Record(i).Address().size() > 20 || cache.Record(i).HostName().size() > 255)
      std::abort();
  }
  if (cache.Count() > 0) {
    const std::string first(cache.Record(0).Address());
    if (cache.FindName(first) != std::string(cache.Record(0).HostName()) &&
        cache.FindName(first) != first)
      std::abort();
  }
  if (!cache.SaveToFile(saved)) std::abort();
  quillon::TDnsBuffer again([] { return 0.0; });
  again.LoadFromFile(saved);
  if (again.Count() != cache.Count()) std::abort();
  for (std::int32_t i = 0; i < again.Count(); ++i) {
    if (again.Record(i).Address() != cache.Record(i).Address() ||
        again.Record(i).HostName() != cache.Record(i).HostName())
      std::abort();
  }
  return 0;
}
