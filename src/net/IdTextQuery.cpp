#include "net/IdTextQuery.h"

namespace quillon {
namespace {

constexpr std::size_t HeaderLength = 12;
constexpr std::uint16_t TypeTxt = 16;
constexpr std::uint16_t ClassIn = 1;
// Labels a name may have before it is taken for a loop of pointers.
constexpr int MaxLabels = 128;

std::uint16_t Word(const std::uint8_t* at) {
  return static_cast<std::uint16_t>((at[0] << 8) | at[1]);
}

// The offset after the name at pos, or nothing when it runs past the end.
// Only the name's own bytes are skipped: a pointer ends it.
std::optional<std::size_t> SkipName(const std::uint8_t* message, std::size_t length,
                                    std::size_t pos) {
  for (int labels = 0; labels < MaxLabels; ++labels) {
    if (pos >= length) return std::nullopt;
    const std::uint8_t size = message[pos];
    if ((size & 0xC0) == 0xC0) return pos + 2 <= length ? std::optional(pos + 2) : std::nullopt;
    if ((size & 0xC0) != 0) return std::nullopt;  // extended label types are not used
    if (size == 0) return pos + 1;
    pos += 1 + size;
  }
  return std::nullopt;
}

}  // namespace

std::optional<TIdTextAnswer> DecodeTxtMessage(const std::uint8_t* message, std::size_t length) {
  if (message == nullptr || length < HeaderLength) return std::nullopt;
  const std::uint16_t questions = Word(message + 4);
  const std::uint16_t answers = Word(message + 6);
  std::size_t pos = HeaderLength;
  for (std::uint16_t i = 0; i < questions; ++i) {
    const auto next = SkipName(message, length, pos);
    if (!next || *next + 4 > length) return std::nullopt;
    pos = *next + 4;  // type and class
  }
  TIdTextAnswer answer;
  for (std::uint16_t i = 0; i < answers; ++i) {
    const auto next = SkipName(message, length, pos);
    if (!next || *next + 10 > length) return std::nullopt;
    const std::uint16_t type = Word(message + *next);
    const std::uint16_t klass = Word(message + *next + 2);
    const std::size_t dataLength = Word(message + *next + 8);
    const std::size_t data = *next + 10;
    if (data + dataLength > length) return std::nullopt;
    pos = data + dataLength;
    if (type != TypeTxt || klass != ClassIn) continue;  // a CNAME on the way, say
    std::vector<std::string> strings;
    for (std::size_t at = data; at < data + dataLength;) {
      const std::size_t size = message[at];
      if (at + 1 + size > data + dataLength) return std::nullopt;
      if (strings.size() < Id_TXT_MAX_STRINGS)
        strings.emplace_back(reinterpret_cast<const char*>(message + at + 1), size);
      at += 1 + size;
    }
    if (answer.Records.size() < Id_TXT_MAX_RECORDS) answer.Records.push_back(std::move(strings));
  }
  return answer;
}

}  // namespace quillon
