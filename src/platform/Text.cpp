#include "platform/Text.h"

#include <limits>

namespace quillon {
namespace {

int DigitValue(char c, int base) {
  int v = -1;
  if (c >= '0' && c <= '9') v = c - '0';
  else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
  else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
  return v < base ? v : -1;
}

// Parses into a magnitude limited to 'limit' (the largest negative magnitude
// is one more than the largest positive value).
std::optional<std::int64_t> ParseInteger(std::string_view text, std::int64_t minValue,
                                         std::int64_t maxValue) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return std::nullopt;
  const std::uint64_t limit = negative ? static_cast<std::uint64_t>(-(minValue + 1)) + 1
                                       : static_cast<std::uint64_t>(maxValue);
  std::uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const int d = DigitValue(text[i], base);
    if (d < 0) return std::nullopt;
    // Checked before the step, which would otherwise wrap past 2^64.
    const auto digit = static_cast<std::uint64_t>(d);
    if (magnitude > (limit - digit) / static_cast<std::uint64_t>(base)) return std::nullopt;
    magnitude = magnitude * static_cast<std::uint64_t>(base) + digit;
  }
  if (negative) {
    if (magnitude == 0) return 0;
    return -static_cast<std::int64_t>(magnitude - 1) - 1;
  }
  return static_cast<std::int64_t>(magnitude);
}

}  // namespace

std::optional<std::int32_t> TryStrToInt(std::string_view text) {
  auto v = ParseInteger(text, std::numeric_limits<std::int32_t>::min(),
                        std::numeric_limits<std::int32_t>::max());
  if (!v) return std::nullopt;
  return static_cast<std::int32_t>(*v);
}

std::optional<std::int64_t> TryStrToInt64(std::string_view text) {
  return ParseInteger(text, std::numeric_limits<std::int64_t>::min(),
                      std::numeric_limits<std::int64_t>::max());
}

std::string Trim(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= 32) --e;
  return std::string(text.substr(b, e - b));
}

std::string LowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool SameText(std::string_view a, std::string_view b) { return LowerCase(a) == LowerCase(b); }

}  // namespace quillon
