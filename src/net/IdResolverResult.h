// The system resolver's list of addresses, read alike on both platforms: their
// addrinfo and socket address types differ in name, not in their fields.
#pragma once

#include <cstring>
#include <string>

#include "net/IdIPAddress.h"
#include "net/IdStack.h"

namespace quillon {

// The address text of the list's first entry of either family (inet, inet6:
// the platform's numbers), "" when it holds none.
template <typename TSockaddrIn, typename TSockaddrIn6, typename TAddrInfo>
std::string FirstAddressText(TIdStack& stack, const TAddrInfo* found, int inet, int inet6) {
  for (const TAddrInfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_addr == nullptr) continue;
    if (entry->ai_family == inet && entry->ai_addrlen >= sizeof(TSockaddrIn)) {
      TSockaddrIn v4{};
      std::memcpy(&v4, entry->ai_addr, sizeof v4);
      TIdIPv4Bytes bytes{};
      std::memcpy(bytes.data(), &v4.sin_addr, bytes.size());
      return stack.AddrToText(bytes);
    }
    if (entry->ai_family == inet6 && entry->ai_addrlen >= sizeof(TSockaddrIn6)) {
      TSockaddrIn6 v6{};
      std::memcpy(&v6, entry->ai_addr, sizeof v6);
      TIdIPv6Bytes bytes{};
      std::memcpy(bytes.data(), &v6.sin6_addr, bytes.size());
      std::string text = IPv6AddressText(bytes, v6.sin6_scope_id);
      if (!text.empty()) return text;
    }
  }
  return "";
}

}  // namespace quillon
