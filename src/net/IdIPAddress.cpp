#include "net/IdIPAddress.h"

#include <algorithm>
#include <vector>

namespace quillon {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Interface names may hold almost anything ("v+1", "w@2"): the system decides
// whether one exists. Only blanks, control characters and the '%' that
// introduces the zone are no part of one.
bool IsZoneChar(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte > ' ' && byte != 0x7F && c != '%';
}

// Four decimal parts of 0..255 without leading zeros, as inet_pton reads them.
bool ParseDottedQuad(std::string_view text, std::uint8_t* out) {
  int part = 0;
  int value = -1;
  int digits = 0;
  for (const char c : text) {
    if (c == '.') {
      if (digits == 0 || part == 3) return false;
      out[part++] = static_cast<std::uint8_t>(value);
      value = -1;
      digits = 0;
    } else if (c >= '0' && c <= '9') {
      if (digits > 0 && value == 0) return false;
      value = (value < 0 ? 0 : value * 10) + (c - '0');
      if (value > 255) return false;
      ++digits;
    } else {
      return false;
    }
  }
  if (digits == 0 || part != 3) return false;
  out[3] = static_cast<std::uint8_t>(value);
  return true;
}

// The groups of one side of "::" (or of the whole text without it): 16-bit hex
// groups, the last of which may be a dotted IPv4 address where allowed.
bool ParseGroups(std::string_view text, bool tailMayBeIPv4, std::vector<std::uint8_t>& bytes) {
  if (text.empty()) return true;
  std::size_t start = 0;
  for (;;) {
    const std::size_t colon = text.find(':', start);
    const std::string_view group = text.substr(
        start, colon == std::string_view::npos ? std::string_view::npos : colon - start);
    const bool last = colon == std::string_view::npos;
    if (last && tailMayBeIPv4 && group.find('.') != std::string_view::npos) {
      std::uint8_t quad[4];
      if (!ParseDottedQuad(group, quad)) return false;
      bytes.insert(bytes.end(), quad, quad + 4);
      return true;
    }
    if (group.empty() || group.size() > 4) return false;
    int value = 0;
    for (const char c : group) {
      const int digit = HexValue(c);
      if (digit < 0) return false;
      value = value * 16 + digit;
    }
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
    bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
    if (last) return true;
    start = colon + 1;
  }
}

}  // namespace

bool ParseIPv6Text(std::string_view text, TIdIPv6Address& address) {
  std::string_view zone;
  const std::size_t percent = text.find('%');
  if (percent != std::string_view::npos) {
    zone = text.substr(percent + 1);
    text = text.substr(0, percent);
    if (zone.empty() || zone.size() > Id_IPV6_ZONE_MAX ||
        !std::all_of(zone.begin(), zone.end(), IsZoneChar))
      return false;
  }
  std::vector<std::uint8_t> head;
  std::vector<std::uint8_t> tail;
  const std::size_t gap = text.find("::");
  if (gap == std::string_view::npos) {
    if (!ParseGroups(text, true, head) || head.size() != 16) return false;
  } else {
    const std::string_view before = text.substr(0, gap);
    const std::string_view after = text.substr(gap + 2);
    if (after.find("::") != std::string_view::npos) return false;
    // "::" stands for at least one zero group.
    if (!ParseGroups(before, false, head) || !ParseGroups(after, true, tail) ||
        head.size() + tail.size() > 14)
      return false;
  }
  TIdIPv6Bytes bytes{};
  std::copy(head.begin(), head.end(), bytes.begin());
  std::copy(tail.begin(), tail.end(), bytes.end() - static_cast<std::ptrdiff_t>(tail.size()));
  address.Bytes = bytes;
  address.Zone.assign(zone);
  return true;
}

std::string IPv6ToText(const TIdIPv6Bytes& bytes, std::string_view zone) {
  std::array<unsigned, 8> groups{};
  for (std::size_t i = 0; i < 8; ++i) groups[i] = unsigned{bytes[2 * i]} << 8 | bytes[2 * i + 1];
  // The longest run of zero groups; a later run must be longer to win.
  std::size_t bestStart = 8;
  std::size_t bestLength = 1;  // a single zero group is never shortened
  for (std::size_t i = 0; i < 8;) {
    if (groups[i] != 0) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < 8 && groups[end] == 0) ++end;
    if (end - i > bestLength) {
      bestStart = i;
      bestLength = end - i;
    }
    i = end;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(39 + 1 + zone.size());
  for (std::size_t i = 0; i < 8; ++i) {
    if (i == bestStart) {
      text += "::";
      i += bestLength - 1;
      continue;
    }
    if (!text.empty() && text.back() != ':') text += ':';
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const unsigned digit = (groups[i] >> shift) & 0xF;
      if (digit != 0 || started || shift == 0) {
        text += kHex[digit];
        started = true;
      }
    }
  }
  if (!zone.empty()) {
    text += '%';
    text += zone;
  }
  return text;
}

std::optional<std::array<std::uint8_t, 4>> ParseIPv4Text(std::string_view text) {
  std::array<std::uint8_t, 4> bytes{};
  if (!ParseDottedQuad(text, bytes.data())) return std::nullopt;
  return bytes;
}

bool IsIPv4Mapped(const TIdIPv6Bytes& bytes) {
  return std::all_of(bytes.begin(), bytes.begin() + 10, [](std::uint8_t b) { return b == 0; }) &&
         bytes[10] == 0xFF && bytes[11] == 0xFF;
}

bool IsLinkLocal(const TIdIPv6Bytes& bytes) {
  return bytes[0] == 0xFE && (bytes[1] & 0xC0) == 0x80;
}

bool IsMulticast(const TIdIPv6Bytes& bytes) {
  return bytes[0] == 0xFF;
}

std::optional<std::string> CanonicalIPv6Text(std::string_view text) {
  TIdIPv6Address address;
  if (!ParseIPv6Text(text, address)) return std::nullopt;
  if (IsIPv4Mapped(address.Bytes)) {
    if (!address.Zone.empty()) return std::nullopt;
    return std::to_string(address.Bytes[12]) + "." + std::to_string(address.Bytes[13]) + "." +
           std::to_string(address.Bytes[14]) + "." + std::to_string(address.Bytes[15]);
  }
  return IPv6ToText(address.Bytes, address.Zone);
}

std::string_view ZoneOfAddressText(std::string_view text) {
  const std::size_t percent = text.find('%');
  return percent == std::string_view::npos ? std::string_view{} : text.substr(percent + 1);
}

std::string IPv6AddressText(const TIdIPv6Bytes& bytes, std::uint32_t scopeId) {
  return CanonicalIPv6Text(IPv6ToText(bytes, scopeId != 0 ? std::to_string(scopeId) : ""))
      .value_or("");
}

bool ZoneToScopeId(std::string_view zone, TIdInterfaceIndexOf indexOf, std::uint32_t& scopeId) {
  scopeId = 0;
  if (zone.empty()) return true;
  const bool numeric = zone.size() <= 10 && std::all_of(zone.begin(), zone.end(), [](char c) {
                         return c >= '0' && c <= '9';
                       });
  if (numeric) {
    const std::uint64_t number = std::stoull(std::string(zone));
    if (number > 0xFFFFFFFFULL) return false;
    scopeId = static_cast<std::uint32_t>(number);
    return true;
  }
  scopeId = indexOf(std::string(zone).c_str());
  return scopeId != 0;
}

}  // namespace quillon
