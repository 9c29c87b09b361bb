// Text helpers shared by every layer: the integer conversion of input boxes,
// command-line values, grid cells and address parts; trimming and lower-casing
// as the rest of the program understands them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

// Optional leading blanks, an optional sign, then decimal digits, or a hexadecimal
// number introduced by "$", "x" or "0x" (either letter case), and nothing after.
// Empty text and values outside the target range fail.
std::optional<std::int32_t> TryStrToInt(std::string_view text);
std::optional<std::int64_t> TryStrToInt64(std::string_view text);

// Removes leading and trailing characters with codes 32 or less.
std::string Trim(std::string_view text);
// Changes only the letters A to Z.
std::string LowerCase(std::string_view text);
// Case-insensitive equality over A..Z only.
bool SameText(std::string_view a, std::string_view b);

// Above the socket layer an address is text: an IPv6 one, and only an IPv6 one,
// has a ':' (a dotted IPv4 address or a host name never does).
inline bool IsIPv6Text(std::string_view address) {
  return address.find(':') != std::string_view::npos;
}

}  // namespace quillon
