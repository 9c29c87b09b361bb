#include "IcmpHelperRequest.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <span>

namespace quillon {
namespace {

using enum TIcmpHelperAnswerKind;

// The words of one line, split at single blanks. A line with an empty word
// (two blanks, a leading or trailing one) or a character outside printable
// ASCII has none.
struct TWords {
  std::array<std::string_view, 16> Items;
  std::size_t Count = 0;
  bool Sound = false;
};

TWords SplitWords(std::string_view line) {
  TWords words;
  for (const char c : line) {
    if (c < ' ' || c > '~') return words;
  }
  std::size_t start = 0;
  while (start <= line.size()) {
    const std::size_t end = std::min(line.find(' ', start), line.size());
    if (end == start || words.Count == words.Items.size()) return words;
    words.Items[words.Count++] = line.substr(start, end - start);
    start = end + 1;
  }
  words.Sound = true;
  return words;
}

// Plain decimal: no sign, no leading zero, within [low, high].
bool ParseNumber(std::string_view word, std::uint64_t low, std::uint64_t high,
                 std::uint64_t& value) {
  if (word.empty() || word.size() > 10 || (word.size() > 1 && word[0] == '0')) return false;
  value = 0;
  for (const char c : word) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value >= low && value <= high;
}

template <typename T>
bool ParseField(std::string_view word, std::uint64_t low, std::uint64_t high, T& field) {
  std::uint64_t value = 0;
  if (!ParseNumber(word, low, high, value)) return false;
  field = static_cast<T>(value);
  return true;
}

bool ParseAddress(std::string_view word, TIcmpHelperFamily family, TIcmpHelperAddress& address) {
  // inet_pton reads no more than a dotted quad or RFC 4291 text: no zone, no
  // octal, no short forms.
  if (word.size() > INET6_ADDRSTRLEN) return false;
  char text[INET6_ADDRSTRLEN + 1] = {};
  std::memcpy(text, word.data(), word.size());
  address.Family = family;
  address.Bytes.fill(0);
  const int af = family == TIcmpHelperFamily::Ip6 ? AF_INET6 : AF_INET;
  return inet_pton(af, text, address.Bytes.data()) == 1;
}

std::string AddressText(const TIcmpHelperAddress& address) {
  char text[INET6_ADDRSTRLEN] = {};
  const int af = address.Family == TIcmpHelperFamily::Ip6 ? AF_INET6 : AF_INET;
  return inet_ntop(af, address.Bytes.data(), text, sizeof text) != nullptr ? text : "";
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;  // lower case only, so that each data has one spelling
}

bool ParseData(std::string_view word, TIcmpHelperData& data) {
  if (word.empty() || word.size() % 2 != 0 || word.size() > 2 * IcmpHelperMaxData) return false;
  for (std::size_t i = 0; i < word.size(); i += 2) {
    const int high = HexDigit(word[i]);
    const int low = HexDigit(word[i + 1]);
    if (high < 0 || low < 0) return false;
    data.Bytes[i / 2] = static_cast<std::uint8_t>(high << 4 | low);
  }
  data.Length = static_cast<std::uint16_t>(word.size() / 2);
  return true;
}

std::string DataText(const TIcmpHelperData& data) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < data.Length; ++i) {
    text += kDigits[data.Bytes[i] >> 4];
    text += kDigits[data.Bytes[i] & 0xF];
  }
  return text;
}

// A word field's letters: lower-case letters, digits and '-'.
bool IsWord(std::string_view word) {
  for (const char c : word) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')) return false;
  }
  return !word.empty();
}

// Reads the KEY VALUE pairs after the fixed words; each key once at most, each
// one of the keys given. The reader returns false for a bad value.
template <typename TReader>
bool ReadPairs(std::span<const std::string_view> pairs, std::span<const std::string_view> keys,
               TReader read) {
  if (pairs.size() % 2 != 0) return false;
  unsigned seen = 0;
  for (std::size_t i = 0; i < pairs.size(); i += 2) {
    std::size_t key = 0;
    while (key < keys.size() && keys[key] != pairs[i]) ++key;
    if (key == keys.size() || (seen & (1u << key)) != 0) return false;
    seen |= 1u << key;
    if (!read(key, pairs[i + 1])) return false;
  }
  return true;
}

// Appended piece by piece: g++ 12 at -O2 sees a false overlap in chains of +.
void AddWords(std::string& line, std::string_view key, std::string_view value) {
  line += ' ';
  line += key;
  if (value.empty()) return;
  line += ' ';
  line += value;
}

struct TAnswerWord {
  TIcmpHelperAnswerKind Kind;
  std::string_view Word;
};
constexpr TAnswerWord kAnswerWords[] = {
    {EchoReply, "echo-reply"},
    {IcmpError, "icmp-error"},
    {NoReply, "no-reply"},
    {SendFailed, "send-failed"},
    {FeatureSupport, "feature-support"},
    {UnknownCommand, "unknown-command"},
    {InvalidArgument, "invalid-argument"},
    {ProbesExhausted, "probes-exhausted"},
};

}  // namespace

bool ParseIcmpHelperFamily(std::string_view word, TIcmpHelperFamily& family) {
  if (word == "ip-4") {
    family = TIcmpHelperFamily::Ip4;
  } else if (word == "ip-6") {
    family = TIcmpHelperFamily::Ip6;
  } else {
    return false;
  }
  return true;
}

std::string_view IcmpHelperFamilyWord(TIcmpHelperFamily family) {
  return family == TIcmpHelperFamily::Ip6 ? "ip-6" : "ip-4";
}

std::string_view IcmpHelperWord(const std::array<char, 16>& field) {
  return {field.data(), strnlen(field.data(), field.size())};
}

bool SetIcmpHelperWord(std::array<char, 16>& field, std::string_view word) {
  field.fill('\0');
  if (word.size() > field.size() || !IsWord(word)) return false;
  std::memcpy(field.data(), word.data(), word.size());
  return true;
}

bool IsIcmpHelperUnicast(const TIcmpHelperAddress& address) {
  const auto& b = address.Bytes;
  if (address.Family == TIcmpHelperFamily::Ip4) {
    // 0/8 is "this network", 224/4 multicast, 240/4 reserved with the limited
    // broadcast at its top.
    return b[0] != 0 && b[0] < 224;
  }
  const bool unspecified = std::all_of(b.begin(), b.end(), [](std::uint8_t x) { return x == 0; });
  // ::ffff:0:0/96 would reach IPv4 through an IPv6 socket.
  const bool mapped =
      std::all_of(b.begin(), b.begin() + 10, [](std::uint8_t x) { return x == 0; }) &&
      b[10] == 0xFF && b[11] == 0xFF;
  return !unspecified && !mapped && b[0] != 0xFF;
}

TIcmpHelperParsedRequest ParseIcmpHelperRequest(std::string_view line) {
  TIcmpHelperParsedRequest parsed;
  TIcmpHelperRequest& request = parsed.Request;
  const TWords words = SplitWords(line);
  const auto refuse = [&parsed](TIcmpHelperError error) {
    parsed.Error = error;
    return parsed;
  };
  if (!words.Sound || words.Count < 2 ||
      !ParseField(words.Items[0], 1, 0x7FFFFFFF, request.Token)) {
    request.Token = 0;
    return refuse(TIcmpHelperError::InvalidArgument);
  }
  const std::string_view command = words.Items[1];
  const std::span<const std::string_view> rest(words.Items.data() + 2, words.Count - 2);
  if (command == "cancel-probe") {
    request.Command = TIcmpHelperCommand::CancelProbe;
    return rest.empty() ? parsed : refuse(TIcmpHelperError::InvalidArgument);
  }
  if (command == "check-support") {
    request.Command = TIcmpHelperCommand::CheckSupport;
    constexpr std::string_view kKeys[] = {"feature"};
    const bool sound = rest.size() == 2 && ReadPairs(rest, kKeys, [&](std::size_t, auto value) {
                         return SetIcmpHelperWord(request.Feature, value);
                       });
    return sound ? parsed : refuse(TIcmpHelperError::InvalidArgument);
  }
  if (command != "send-probe") return refuse(TIcmpHelperError::UnknownCommand);

  request.Command = TIcmpHelperCommand::SendProbe;
  TIcmpHelperFamily family{};
  if (rest.size() < 2 || !ParseIcmpHelperFamily(rest[0], family) ||
      !ParseAddress(rest[1], family, request.Destination) ||
      !IsIcmpHelperUnicast(request.Destination)) {
    return refuse(TIcmpHelperError::InvalidArgument);
  }
  constexpr std::string_view kKeys[] = {"ttl", "timeout", "data", "scope"};
  const bool v6 = family == TIcmpHelperFamily::Ip6;
  const bool sound = ReadPairs(rest.subspan(2), kKeys, [&](std::size_t key, auto value) {
    switch (key) {
      case 0:
        return ParseField(value, 1, 255, request.Ttl);
      case 1:
        return ParseField(value, 1, 60000, request.TimeoutMs);
      case 2:
        return ParseData(value, request.Data);
      default:
        return v6 && ParseField(value, 1, 0xFFFFFFFF, request.ScopeId);
    }
  });
  return sound ? parsed : refuse(TIcmpHelperError::InvalidArgument);
}

std::string FormatIcmpHelperRequest(const TIcmpHelperRequest& request) {
  std::string line = std::to_string(request.Token);
  const auto add = [&line](std::string_view key, std::string_view value) {
    AddWords(line, key, value);
  };
  switch (request.Command) {
    case TIcmpHelperCommand::CancelProbe:
      add("cancel-probe", "");
      return line;
    case TIcmpHelperCommand::CheckSupport:
      add("check-support feature", IcmpHelperWord(request.Feature));
      return line;
    case TIcmpHelperCommand::SendProbe:
      break;
  }
  add("send-probe", IcmpHelperFamilyWord(request.Destination.Family));
  line += ' ';
  line += AddressText(request.Destination);
  add("ttl", std::to_string(request.Ttl));
  if (request.TimeoutMs != IcmpHelperDefaultTimeoutMs)
    add("timeout", std::to_string(request.TimeoutMs));
  if (request.Data.Length > 0) add("data", DataText(request.Data));
  if (request.ScopeId != 0) add("scope", std::to_string(request.ScopeId));
  return line;
}

TIcmpHelperAnswer IcmpHelperRefusal(std::uint32_t token, TIcmpHelperError error) {
  TIcmpHelperAnswer answer;
  answer.Token = token;
  answer.Kind = error == TIcmpHelperError::UnknownCommand    ? UnknownCommand
                : error == TIcmpHelperError::ProbesExhausted ? ProbesExhausted
                                                             : InvalidArgument;
  return answer;
}

bool ParseIcmpHelperAnswer(std::string_view line, TIcmpHelperAnswer& answer) {
  answer = TIcmpHelperAnswer{};
  const TWords words = SplitWords(line);
  if (!words.Sound || words.Count < 2 || !ParseField(words.Items[0], 0, 0x7FFFFFFF, answer.Token))
    return false;
  const TAnswerWord* kind = nullptr;
  for (const TAnswerWord& known : kAnswerWords) {
    if (known.Word == words.Items[1]) kind = &known;
  }
  if (kind == nullptr) return false;
  answer.Kind = kind->Kind;
  const std::span<const std::string_view> rest(words.Items.data() + 2, words.Count - 2);
  switch (answer.Kind) {
    case EchoReply:
    case IcmpError: {
      const bool error = answer.Kind == IcmpError;
      if (rest.size() != (error ? 8u : 4u) && !(!error && rest.size() == 6)) return false;
      if (rest[0] != "from") return false;
      if (!ParseAddress(rest[1], TIcmpHelperFamily::Ip4, answer.From) &&
          !ParseAddress(rest[1], TIcmpHelperFamily::Ip6, answer.From)) {
        return false;
      }
      if (rest[2] != "ttl" || !ParseField(rest[3], 0, 255, answer.Ttl)) return false;
      if (error) {
        return rest[4] == "type" && ParseField(rest[5], 0, 255, answer.Type) && rest[6] == "code" &&
               ParseField(rest[7], 0, 255, answer.Code);
      }
      return rest.size() == 4 || (rest[4] == "data" && ParseData(rest[5], answer.Data));
    }
    case SendFailed:
      return rest.size() == 2 && rest[0] == "errno" &&
             ParseField(rest[1], 1, 0x7FFFFFFF, answer.Errno);
    case FeatureSupport:
      return rest.size() == 2 && rest[0] == "support" && SetIcmpHelperWord(answer.Support, rest[1]);
    default:
      return rest.empty();
  }
}

std::string FormatIcmpHelperAnswer(const TIcmpHelperAnswer& answer) {
  std::string line = std::to_string(answer.Token);
  const auto add = [&line](std::string_view key, std::string_view value) {
    AddWords(line, key, value);
  };
  for (const TAnswerWord& known : kAnswerWords) {
    if (known.Kind == answer.Kind) add(known.Word, "");
  }
  switch (answer.Kind) {
    case EchoReply:
    case IcmpError:
      add("from", AddressText(answer.From));
      add("ttl", std::to_string(answer.Ttl));
      if (answer.Kind == IcmpError) {
        add("type", std::to_string(answer.Type));
        add("code", std::to_string(answer.Code));
      } else if (answer.Data.Length > 0) {
        add("data", DataText(answer.Data));
      }
      break;
    case SendFailed:
      add("errno", std::to_string(answer.Errno));
      break;
    case FeatureSupport:
      add("support", IcmpHelperWord(answer.Support));
      break;
    default:
      break;
  }
  return line;
}

}  // namespace quillon
