// Damaged name cache files, the IPv4 one and its IPv6 sibling given the same
// bytes: loading keeps every text within its field (and no link-local name),
// and what is saved again loads back to the same records.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "net/IdIPAddress.h"
#include "platform/AtomicFile.h"
#include "trace/DnsBuffer.h"

namespace {

template <class TList>
void CheckRecords(const TList& list, const TList& again, std::size_t expected,
                  std::size_t addressWidth) {
  if (static_cast<std::size_t>(list.Count()) != expected) std::abort();
  if (again.Count() != list.Count()) std::abort();
  for (std::int32_t i = 0; i < list.Count(); ++i) {
    if (list.Record(i).Address().size() > addressWidth || list.Record(i).HostName().size() > 255)
      std::abort();
    if (again.Record(i).Address() != list.Record(i).Address() ||
        again.Record(i).HostName() != list.Record(i).HostName())
      std::abort();
  }
}

template <class TList>
void CheckFirstRecord(const quillon::TDnsBuffer& cache, const TList& list) {
  if (list.Count() == 0) return;
  const std::string first(list.Record(0).Address());
  const std::string found = cache.FindName(first);
  if (quillon::IsIPv6Text(first)) {
    const quillon::TDnsRecord6* record = cache.Ipv6Names().Find(first);
    if (found != (record ? std::string(record->HostName()) : first)) std::abort();
  } else {
    const quillon::TDnsRecord* record = cache.Ipv4Names().Find(first);
    if (found != (record ? std::string(record->HostName()) : first)) std::abort();
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
  // A text is answered from the file of its family only: the first record of
  // each file wins for its address there, and a text filed in the other
  // family's file is looked up where it belongs.
  CheckFirstRecord(cache, cache.Ipv4Names());
  CheckFirstRecord(cache, cache.Ipv6Names());
  if (!cache.SaveToFile(saved)) std::abort();
  quillon::TDnsBuffer again([] { return 0.0; });
  again.LoadFromFile(saved);
  // Every whole record is kept, but for link-local names in the IPv6 file.
  std::size_t kept6 = 0;
  for (std::size_t at = 0; at + sizeof(quillon::TDnsRecord6) <= size;
       at += sizeof(quillon::TDnsRecord6)) {
    quillon::TDnsRecord6 record;
    std::memcpy(&record, data + at, sizeof record);
    quillon::TIdIPv6Address parsed;
    if (!quillon::ParseIPv6Text(record.Address(), parsed) || !quillon::IsLinkLocal(parsed.Bytes))
      ++kept6;
  }
  CheckRecords(cache.Ipv4Names(), again.Ipv4Names(), size / sizeof(quillon::TDnsRecord),
               quillon::TDnsRecord::AddressCapacity);
  CheckRecords(cache.Ipv6Names(), again.Ipv6Names(), kept6, quillon::TDnsRecord6::AddressCapacity);
  return 0;
}
