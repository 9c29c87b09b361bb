#include "trace/AsCache.h"

#include <algorithm>
#include <chrono>
#include <string_view>
#include <vector>

#include "platform/AtomicFile.h"
#include "trace/StateFiles.h"

namespace quillon {
namespace {

// The file's first line: content without it is someone else's.
constexpr std::string_view Heading = "quillon-as 1";
constexpr char OriginKind = 'o';
constexpr char NameKind = 'n';
// A clock set back a little must not drop everything as "from the future".
constexpr std::int64_t FutureSlackSeconds = 3600;

std::optional<std::int64_t> Decimal(std::string_view text, std::size_t maxDigits) {
  if (text.empty() || text.size() > maxDigits ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  std::int64_t value = 0;
  for (const char c : text) value = value * 10 + (c - '0');
  return value;
}

// The first of the texts that the reader takes, or "".
template <typename Read>
std::string FirstReadable(const std::vector<std::string>& answers, Read read) {
  for (const std::string& answer : answers)
    if (read(answer)) return answer;
  return {};
}

std::string Line(char kind, const std::string& key, std::int64_t asked, const std::string& answer) {
  return std::string(1, kind) + '\t' + key + '\t' + std::to_string(asked) + '\t' + answer + '\n';
}

}  // namespace

std::string AsCachePath(const std::string& cachePath) {
  return ChangeFileExt(cachePath, ".dna");
}

std::int64_t UnixSecondsNow() {
  using namespace std::chrono;
  return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

TAsCache::TAsCache(TClock now) : now_(std::move(now)) {}

bool TAsCache::Kept(std::int64_t asked, bool answered) const {
  const std::int64_t now = now_();
  const std::int64_t kept = answered ? AsAnswerKeptSeconds : AsNoRecordKeptSeconds;
  return asked <= now + FutureSlackSeconds && now - asked < kept;
}

const TAsOriginEntry* TAsCache::Origin(const std::string& address) const {
  const auto found = origins_.find(address);
  if (found == origins_.end() || !Kept(found->second.Asked, found->second.Origin.has_value()))
    return nullptr;
  return &found->second;
}

const TAsNameEntry* TAsCache::Name(std::uint32_t number) const {
  const auto found = names_.find(number);
  if (found == names_.end() || !Kept(found->second.Asked, found->second.Name.has_value()))
    return nullptr;
  return &found->second;
}

void TAsCache::PutOrigin(const std::string& address, const std::vector<std::string>& answers) {
  if (!AsQuestionAllowed(address)) return;
  std::string answer = FirstReadable(answers, ReadAsOrigin);
  auto origin = ReadAsOrigin(answer);
  origins_[address] = {now_(), std::move(answer), std::move(origin)};
  changed_ = true;
}

void TAsCache::PutName(std::uint32_t number, const std::vector<std::string>& answers) {
  // An answer about another AS than the one asked is no answer.
  std::string answer = FirstReadable(answers, [number](std::string_view text) {
    const auto name = ReadAsName(text);
    return name && name->Number == number;
  });
  auto name = ReadAsName(answer);
  names_[number] = {now_(), std::move(answer), std::move(name)};
  changed_ = true;
}

void TAsCache::LoadFromFile(const std::string& path) {
  origins_.clear();
  names_.clear();
  changed_ = false;
  try {
    std::string text;
    if (!ReadFileContents(path, text)) return;
    std::string_view rest = text;
    const std::size_t first = rest.find('\n');
    if (first == std::string_view::npos || rest.substr(0, first) != Heading) return;
    rest.remove_prefix(first + 1);
    while (!rest.empty()) {
      const std::size_t end = rest.find('\n');
      if (end == std::string_view::npos) break;  // a last line cut short
      const std::string_view line = rest.substr(0, end);
      rest.remove_prefix(end + 1);
      // kind TAB key TAB time TAB answer
      const std::size_t tab1 = line.find('\t');
      const std::size_t tab2 = line.find('\t', tab1 == std::string_view::npos ? tab1 : tab1 + 1);
      const std::size_t tab3 = line.find('\t', tab2 == std::string_view::npos ? tab2 : tab2 + 1);
      if (tab1 != 1 || tab3 == std::string_view::npos) continue;
      const std::string key(line.substr(tab1 + 1, tab2 - tab1 - 1));
      const auto asked = Decimal(line.substr(tab2 + 1, tab3 - tab2 - 1), 12);
      const std::string answer(line.substr(tab3 + 1));
      if (!asked) continue;
      if (line[0] == OriginKind && AsQuestionAllowed(key)) {
        auto origin = ReadAsOrigin(answer);
        if (!answer.empty() && !origin) continue;
        if (!Kept(*asked, origin.has_value())) continue;
        origins_[key] = {*asked, answer, std::move(origin)};
      } else if (line[0] == NameKind) {
        const auto number = Decimal(key, 10);
        auto name = ReadAsName(answer);
        if (!number || *number < 1 || *number > 0xFFFFFFFF) continue;
        if (!answer.empty() && (!name || name->Number != *number)) continue;
        if (!Kept(*asked, name.has_value())) continue;
        names_[static_cast<std::uint32_t>(*number)] = {*asked, answer, std::move(name)};
      }
    }
  } catch (...) {
    // A cache that cannot be read is simply smaller.
  }
}

bool TAsCache::SaveToFile(const std::string& path) {
  if (!changed_) return true;
  try {
    std::vector<std::string> lines;
    for (const auto& [address, entry] : origins_) {
      if (Kept(entry.Asked, entry.Origin.has_value()))
        lines.push_back(Line(OriginKind, address, entry.Asked, entry.Answer));
    }
    for (const auto& [number, entry] : names_) {
      if (Kept(entry.Asked, entry.Name.has_value()))
        lines.push_back(Line(NameKind, std::to_string(number), entry.Asked, entry.Answer));
    }
    // One order whatever the hashing: the same answers give the same file.
    std::sort(lines.begin(), lines.end());
    std::string data = std::string(Heading) + '\n';
    for (const std::string& line : lines) data += line;
    if (!ReplaceFileContents(path, data)) return false;
    changed_ = false;
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace quillon
