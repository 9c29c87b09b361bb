// The AS answers of earlier runs, kept beside the name cache in its ".dna"
// sibling: for each address the AS numbers that announce it, for each AS
// number its name, each with the time it was asked. An answer is kept a week,
// a "no record" answer a day. The file keeps the answers as the zone gave
// them and reads them again through the same reader, so that nothing in it
// is trusted that would not be trusted fresh from the network.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>

#include "trace/AsRecords.h"

namespace quillon {

constexpr std::int64_t AsAnswerKeptSeconds = 7 * 24 * 3600;
constexpr std::int64_t AsNoRecordKeptSeconds = 24 * 3600;

// Where the AS answers of the name cache at that path are kept: the same
// folder and name, extension ".dna".
std::string AsCachePath(const std::string& cachePath);

// The seconds since 1970 now.
std::int64_t UnixSecondsNow();

struct TAsOriginEntry {
  std::int64_t Asked = 0;           // seconds since 1970
  std::string Answer;               // the joined TXT text; "" for no record
  std::optional<TAsOrigin> Origin;  // read from Answer
};

struct TAsNameEntry {
  std::int64_t Asked = 0;
  std::string Answer;
  std::optional<TAsName> Name;
};

class TAsCache {
 public:
  using TClock = std::function<std::int64_t()>;

  // The clock dates every answer and decides what has expired (tests fix it).
  explicit TAsCache(TClock now = UnixSecondsNow);

  // The answer for an address or an AS number while it is kept, else null.
  const TAsOriginEntry* Origin(const std::string& address) const;
  const TAsNameEntry* Name(std::uint32_t number) const;
  // Keeps an answer: the first of the TXT texts that reads as one, or "no
  // record" when none does (a malformed answer is asked again a day later).
  void PutOrigin(const std::string& address, const std::vector<std::string>& answers);
  void PutName(std::uint32_t number, const std::vector<std::string>& answers);

  // Replaces the answers with those of the file that are still kept; a file
  // without the heading, a line of the wrong shape, an address that may not be
  // asked, an answer the reader refuses or a time in the future leave that
  // much out. Failures are silent: the cache is then smaller.
  void LoadFromFile(const std::string& path);
  // Writes the answers still kept through a temporary file that replaces the
  // old one only when complete. Only after a change: an unused cache writes
  // no file. True when saved or nothing needed saving.
  bool SaveToFile(const std::string& path);

  std::size_t OriginCount() const { return origins_.size(); }
  std::size_t NameCount() const { return names_.size(); }

 private:
  bool Kept(std::int64_t asked, bool answered) const;

  TClock now_;
  std::unordered_map<std::string, TAsOriginEntry> origins_;
  std::unordered_map<std::uint32_t, TAsNameEntry> names_;
  bool changed_ = false;
};

}  // namespace quillon
