// Addresses of both families as the socket layer reads and writes them. Above
// the socket layer an address is text: dotted IPv4, or canonical IPv6 (RFC 5952,
// lower case) with an optional "%zone"; a text is IPv6 exactly when it holds ':'.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Text.h"

namespace quillon {

// Which family a trace asks for: any (the resolver's first address), or one.
enum class TIdIPVersion : std::uint8_t { ivAny = 0, ivIPv4 = 4, ivIPv6 = 6 };

using TIdIPv6Bytes = std::array<std::uint8_t, 16>;  // network order

// An IPv6 address with the zone it was written with ("eth0", "2"; empty without).
struct TIdIPv6Address {
  TIdIPv6Bytes Bytes{};
  std::string Zone;
};

// The longest zone kept: an interface name (15 characters, the system's limit)
// or a decimal index.
constexpr std::size_t Id_IPV6_ZONE_MAX = 15;

// Parses every RFC 4291 text form, with a dotted IPv4 tail and a "%zone" of up
// to 15 characters other than blanks, control characters and '%'. False for
// anything else, address untouched.
bool ParseIPv6Text(std::string_view text, TIdIPv6Address& address);
// Four decimal parts of 0..255 without leading zeros, as inet_pton reads a
// dotted IPv4 address; the bytes in network order, or nothing.
std::optional<std::array<std::uint8_t, 4>> ParseIPv4Text(std::string_view text);

// The RFC 5952 text: lower case, no leading zeros, the longest run of two or
// more zero groups shortened to "::" (the leftmost of equal runs); the zone
// follows after '%'.
std::string IPv6ToText(const TIdIPv6Bytes& bytes, std::string_view zone = {});

// ::ffff:a.b.c.d, an IPv4 address in IPv6 dress.
bool IsIPv4Mapped(const TIdIPv6Bytes& bytes);
// fe80::/10: such an address means something only together with its zone.
bool IsLinkLocal(const TIdIPv6Bytes& bytes);
// ff00::/8. With link-local unicast, the only addresses a zone may go with.
bool IsMulticast(const TIdIPv6Bytes& bytes);

// The address text a caller above the socket layer keeps for an IPv6 literal:
// canonical, zone kept, an IPv4-mapped address turned back into dotted IPv4.
// Nothing when the text is no IPv6 address (or a mapped one with a zone).
std::optional<std::string> CanonicalIPv6Text(std::string_view text);

// The address text of an address the system gave with its scope id: as
// CanonicalIPv6Text, a scope id other than 0 becoming a numeric zone.
std::string IPv6AddressText(const TIdIPv6Bytes& bytes, std::uint32_t scopeId);

// The family an address text of the layers above belongs to.
inline TIdIPVersion VersionOfAddressText(std::string_view text) {
  return IsIPv6Text(text) ? TIdIPVersion::ivIPv6 : TIdIPVersion::ivIPv4;
}

// The zone of an address text ("" without one).
std::string_view ZoneOfAddressText(std::string_view text);

// The system's index of an interface by name, 0 for none (if_nametoindex).
using TIdInterfaceIndexOf = unsigned (*)(const char* name);
// The scope id a zone stands for: a decimal zone is the number itself, any
// other names an interface. False for a number beyond 32 bits or an interface
// the system does not have.
bool ZoneToScopeId(std::string_view zone, TIdInterfaceIndexOf indexOf, std::uint32_t& scopeId);

}  // namespace quillon
