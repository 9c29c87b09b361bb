// The system resolver's list of addresses, read alike on both platforms: their
// addrinfo and socket address types differ in name, not in their fields.
#pragma once

#include <cstring>
#include <string>

#include "net/IdIPAddress.h"
#include "net/IdStack.h"

namespace quillon {

// The platform's numbers that a lookup uses.
struct TIdResolverNumbers {
  int Unspecified, Inet, Inet6, Datagram, AddressConfig;
};

// The hints of a lookup in the family asked for (ivAny: either), one entry per
// address, among the families this machine has an address of.
template <typename TAddrInfo>
TAddrInfo ResolverHints(TIdIPVersion version, const TIdResolverNumbers& numbers) {
  TAddrInfo hints{};
  hints.ai_family = version == TIdIPVersion::ivIPv4   ? numbers.Inet
                    : version == TIdIPVersion::ivIPv6 ? numbers.Inet6
                                                      : numbers.Unspecified;
  hints.ai_socktype = numbers.Datagram;
  hints.ai_flags = numbers.AddressConfig;
  return hints;
}

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

// The first address of a name in the family asked for, as text, looked up with
// the platform's getaddrinfo and freeaddrinfo. "" when there is none, with
// result the lookup's own failure (0 when it succeeded without an address).
template <typename TAddrInfo, typename TSockaddrIn, typename TSockaddrIn6, typename TLookUp,
          typename TRelease>
std::string FirstAddressOfName(TIdStack& stack, const std::string& hostName, TIdIPVersion version,
                               const TIdResolverNumbers& numbers, TLookUp lookUp, TRelease release,
                               int& result) {
  const TAddrInfo hints = ResolverHints<TAddrInfo>(version, numbers);
  TAddrInfo* found = nullptr;
  result = lookUp(hostName.c_str(), nullptr, &hints, &found);
  if (result != 0) return "";
  std::string address =
      FirstAddressText<TSockaddrIn, TSockaddrIn6>(stack, found, numbers.Inet, numbers.Inet6);
  release(found);
  return address;
}

}  // namespace quillon
