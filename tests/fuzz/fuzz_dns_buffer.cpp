// Damaged name cache files, the IPv4 one and its IPv6 sibling given the same
// bytes: loading keeps every text within its field, and what is saved again
// loads back to the same records.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/AtomicFile.h"
#include "trace/DnsBuffer.h"

namespace {

template <class TList>
void CheckRecords(const TList& list, const TList& again, std::size_t size, std::size_t recordSize,
                  std::size_t addressWidth) {
  if (static_cast<std::size_t>(list.Count()) != size / recordSize) std::abort();
  if (again.Count() != list.Count()) std::abort();
  for (std::int32_t i = 0; i < list.Count(); ++i) {
    if (list.Record(i).Address().size() > addressWidth || list.Record(i).HostName().size() > 255)
      std::abort();
    if (again.Record(i).Address() != list.Record(i).Address() ||
        again.Record(i).HostName() != list.Record(i).HostName())
      std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string dir = [] {
    char pattern[] = "/tmp/quillon-fuzz-dnb-XXXXXX";
    return std::string(::mkdtemp(pattern));
  }();
  const std::string path = dir + "/cache.dnb";
  const std::string saved = dir + "/again.dnb";
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (!quillon::ReplaceFileContents(path, bytes) ||
      !quillon::ReplaceFileContents(quillon::Ipv6CachePath(path), bytes))
    return 0;
  quillon::TDnsBuffer cache([] { return 0.0; });
  cache.LoadFromFile(path);
  if (cache.Count() > 0) {
    const std::string first(cache.Record(0).Address());
    if (cache.FindName(first) != std::string(cache.Record(0).HostName()) &&
        cache.FindName(first) != first)
      std::abort();
  }
  if (!cache.SaveToFile(saved)) std::abort();
  quillon::TDnsBuffer again([] { return 0.0; });
  again.LoadFromFile(saved);
  CheckRecords(cache.Ipv4Names(), again.Ipv4Names(), size, sizeof(quillon::TDnsRecord),
               quillon::TDnsRecord::AddressCapacity);
  CheckRecords(cache.Ipv6Names(), again.Ipv6Names(), size, sizeof(quillon::TDnsRecord6),
               quillon::TDnsRecord6::AddressCapacity);
  return 0;
}
