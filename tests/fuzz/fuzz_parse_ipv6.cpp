// IPv6 texts of every shape: parsing either fails or yields an address whose
// canonical text parses back to the same bytes and zone, is its own canonical
// form and fits the widest address with a zone.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/IdIPAddress.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  quillon::TIdIPv6Address address;
  if (!quillon::ParseIPv6Text(text, address)) {
    if (quillon::CanonicalIPv6Text(text)) std::abort();
    return 0;
  }
  const std::string canonical = quillon::IPv6ToText(address.Bytes, address.Zone);
  if (canonical.size() > 39 + 1 + quillon::Id_IPV6_ZONE_MAX) std::abort();
  quillon::TIdIPv6Address again;
  if (!quillon::ParseIPv6Text(canonical, again)) std::abort();
  if (again.Bytes != address.Bytes || again.Zone != address.Zone) std::abort();
  if (quillon::IPv6ToText(again.Bytes, again.Zone) != canonical) std::abort();
  return 0;
}
