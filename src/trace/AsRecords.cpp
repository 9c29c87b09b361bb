#include "trace/AsRecords.h"

#include <algorithm>
#include <array>

#include "net/IdIPAddress.h"

namespace quillon {
namespace {

constexpr std::size_t AnswerFields = 5;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// The text split at every '|', each field without its blanks; nothing unless
// there are exactly five.
std::optional<std::array<std::string_view, AnswerFields>> SplitAnswer(std::string_view text) {
  if (text.empty() || text.size() > MaxAsAnswerLength) return std::nullopt;
  // Printable ASCII only: the text reaches terminals, files and tooltips.
  if (std::any_of(text.begin(), text.end(), [](char c) { return c < ' ' || c > '~'; }))
    return std::nullopt;
  std::array<std::string_view, AnswerFields> fields;
  std::size_t count = 0;
  for (std::size_t start = 0;;) {
    const std::size_t bar = text.find('|', start);
    if (count == AnswerFields) return std::nullopt;
    fields[count++] = TrimBlanks(text.substr(start, bar - start));
    if (bar == std::string_view::npos) break;
    start = bar + 1;
  }
  if (count != AnswerFields) return std::nullopt;
  return fields;
}

// 1 to 4294967295 in decimal (AS 0 is never announced).
std::optional<std::uint32_t> AsNumber(std::string_view text) {
  if (text.empty() || text.size() > 10 || !std::all_of(text.begin(), text.end(), IsDigit))
    return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) value = value * 10 + static_cast<std::uint64_t>(c - '0');
  if (value == 0 || value > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

bool AllOf(std::string_view text, bool (*allowed)(char)) {
  return std::all_of(text.begin(), text.end(), allowed);
}

// Two letters, or none where the registry gives none.
bool IsCountry(std::string_view text) {
  return text.empty() || (text.size() == 2 && AllOf(text, IsLetter));
}

bool IsRegistry(std::string_view text) {
  return text.size() <= 16 && AllOf(text, [](char c) { return IsLetter(c) || IsDigit(c); });
}

bool IsDate(std::string_view text) {
  return text.size() <= 10 && AllOf(text, [](char c) { return IsDigit(c) || c == '-'; });
}

bool IsPrefix(std::string_view text) {
  return !text.empty() && text.size() <= 49 && text.find('/') != std::string_view::npos &&
         AllOf(text, [](char c) {
           return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == '.' ||
                  c == ':' || c == '/';
         });
}

// Ranges no one announces on the Internet (RFC 6890 and its kin), as
// (first byte, second byte, prefix length) of the network.
struct TV4Range {
  std::uint8_t A, B, C;
  int Bits;
};
constexpr std::array<TV4Range, 14> NotAnnouncedV4 = {{
    {0, 0, 0, 8},        // "this network", the unspecified address
    {10, 0, 0, 8},       // private
    {100, 64, 0, 10},    // shared address space (carrier-grade NAT)
    {127, 0, 0, 8},      // loopback
    {169, 254, 0, 16},   // link-local
    {172, 16, 0, 12},    // private
    {192, 0, 0, 24},     // protocol assignments
    {192, 0, 2, 24},     // documentation
    {192, 88, 99, 24},   // the retired 6to4 relay anycast
    {192, 168, 0, 16},   // private
    {198, 51, 100, 24},  // documentation
    {203, 0, 113, 24},   // documentation
    {224, 0, 0, 4},      // multicast
    {240, 0, 0, 4},      // reserved, the broadcast address
}};

bool InV4Range(const std::array<std::uint8_t, 4>& bytes, const TV4Range& range) {
  const std::uint32_t address = (static_cast<std::uint32_t>(bytes[0]) << 24) |
                                (static_cast<std::uint32_t>(bytes[1]) << 16) |
                                (static_cast<std::uint32_t>(bytes[2]) << 8);
  const std::uint32_t network = (static_cast<std::uint32_t>(range.A) << 24) |
                                (static_cast<std::uint32_t>(range.B) << 16) |
                                (static_cast<std::uint32_t>(range.C) << 8);
  const std::uint32_t mask = ~std::uint32_t{0} << (32 - range.Bits);
  return (address & mask) == (network & mask);
}

// Only global unicast (2000::/3) is announced; within it the documentation
// prefix 2001:db8::/32 is not.
bool AnnouncedV6(const TIdIPv6Bytes& bytes) {
  if ((bytes[0] & 0xE0) != 0x20) return false;
  return !(bytes[0] == 0x20 && bytes[1] == 0x01 && bytes[2] == 0x0d && bytes[3] == 0xb8);
}

}  // namespace

std::string JoinTxtStrings(const std::vector<std::string>& strings) {
  std::string text;
  for (const std::string& part : strings) {
    // Stops growing past what any reader takes; the result is then refused.
    if (text.size() > MaxAsAnswerLength) break;
    text += part;
  }
  return text;
}

std::optional<TAsOrigin> ReadAsOrigin(std::string_view text) {
  const auto fields = SplitAnswer(text);
  if (!fields) return std::nullopt;
  TAsOrigin origin;
  std::string_view numbers = (*fields)[0];
  while (!numbers.empty()) {
    const std::size_t blank = numbers.find(' ');
    const auto number = AsNumber(numbers.substr(0, blank));
    if (!number || origin.Numbers.size() == MaxAsNumbers) return std::nullopt;
    if (std::find(origin.Numbers.begin(), origin.Numbers.end(), *number) == origin.Numbers.end())
      origin.Numbers.push_back(*number);
    numbers = blank == std::string_view::npos ? std::string_view{}
                                              : TrimBlanks(numbers.substr(blank + 1));
  }
  const auto& [_, prefix, country, registry, date] = *fields;
  if (origin.Numbers.empty() || !IsPrefix(prefix) || !IsCountry(country) || !IsRegistry(registry) ||
      !IsDate(date))
    return std::nullopt;
  origin.Prefix = prefix;
  origin.Country = country;
  origin.Registry = registry;
  origin.Date = date;
  return origin;
}

std::optional<TAsName> ReadAsName(std::string_view text) {
  const auto fields = SplitAnswer(text);
  if (!fields) return std::nullopt;
  const auto& [numberText, country, registry, date, name] = *fields;
  const auto number = AsNumber(numberText);
  if (!number || !IsCountry(country) || !IsRegistry(registry) || !IsDate(date) || name.empty())
    return std::nullopt;
  return TAsName{*number, std::string(country), std::string(registry), std::string(date),
                 std::string(name)};
}

bool AsQuestionAllowed(std::string_view address) {
  if (IsIPv6Text(address)) {
    TIdIPv6Address parsed;
    return ParseIPv6Text(address, parsed) && parsed.Zone.empty() && AnnouncedV6(parsed.Bytes);
  }
  const auto bytes = ParseIPv4Text(address);
  return bytes && std::none_of(NotAnnouncedV4.begin(), NotAnnouncedV4.end(),
                               [&](const TV4Range& range) { return InV4Range(*bytes, range); });
}

std::string AsOriginQuestion(std::string_view address) {
  if (!AsQuestionAllowed(address)) return {};
  std::string question;
  if (IsIPv6Text(address)) {
    TIdIPv6Address parsed;
    ParseIPv6Text(address, parsed);
    constexpr char Hex[] = "0123456789abcdef";
    for (auto byte = parsed.Bytes.rbegin(); byte != parsed.Bytes.rend(); ++byte) {
      question += Hex[*byte & 0x0F];
      question += '.';
      question += Hex[*byte >> 4];
      question += '.';
    }
    return question + "origin6.asn.cymru.com";
  }
  const auto bytes = *ParseIPv4Text(address);
  for (auto byte = bytes.rbegin(); byte != bytes.rend(); ++byte)
    question += std::to_string(*byte) + ".";
  return question + "origin.asn.cymru.com";
}

std::string AsNameQuestion(std::uint32_t number) {
  return "AS" + std::to_string(number) + ".asn.cymru.com";
}

std::string AsNumbersText(const std::vector<std::uint32_t>& numbers) {
  std::string text;
  for (const std::uint32_t number : numbers) {
    if (!text.empty()) text += '/';
    text += "AS" + std::to_string(number);
  }
  return text;
}

std::string AsHostCellPrefix(const THopAs& as) {
  // Appended, not added to a literal: GCC 12 at -O2 misreads that as an overlapping copy.
  std::string prefix = "[";
  prefix += AsNumbersText(as.Origin.Numbers);
  prefix += "] ";
  return prefix;
}

std::string AsNamesText(const THopAs& as) {
  std::string text;
  for (const std::string& name : as.Names) {
    if (name.empty()) continue;
    if (!text.empty()) text += " / ";
    text += name;
  }
  return text;
}

std::string AsTipText(const THopAs& as) {
  std::string text;
  for (std::size_t i = 0; i < as.Origin.Numbers.size(); ++i) {
    if (!text.empty()) text += '\n';
    text += "AS" + std::to_string(as.Origin.Numbers[i]);
    if (i < as.Names.size() && !as.Names[i].empty()) text += " " + as.Names[i];
  }
  return text;
}

}  // namespace quillon
