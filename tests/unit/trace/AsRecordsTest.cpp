// The AS answers: the TXT reader, the questions asked (and the addresses
// never asked about), and the ".dna" file.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/AtomicFile.h"
#include "support/TempDir.h"
#include "trace/AsCache.h"
#include "trace/AsRecords.h"

namespace quillon {
namespace {

// A reading as one line ("AS1/AS2|prefix|cc|registry|date" or
// "n|cc|registry|date|name"), "-" when the reader refuses the text.
std::string Reading(bool origin, const std::vector<std::string>& strings) {
  const std::string text = JoinTxtStrings(strings);
  if (origin) {
    const auto read = ReadAsOrigin(text);
    if (!read) return "-";
    return AsNumbersText(read->Numbers) + "|" + read->Prefix + "|" + read->Country + "|" +
           read->Registry + "|" + read->Date;
  }
  const auto read = ReadAsName(text);
  if (!read) return "-";
  return std::to_string(read->Number) + "|" + read->Country + "|" + read->Registry + "|" +
         read->Date + "|" + read->Name;
}

TEST(AsReader, ReadsEachAnswerOrRefusesIt) {
  const std::string origin = "12301 | 81.0.100.0/22 | HU | ripencc | 2001-12-06";
  const std::string read = "AS12301|81.0.100.0/22|HU|ripencc|2001-12-06";
  const std::string name = "12301 | HU | ripencc | 1999-02-25 | INVITECH, HU";
  const std::string nameRead = "12301|HU|ripencc|1999-02-25|INVITECH, HU";
  const std::string lab = " | ZZ | lab | 2026-12-01";
  // One row per case: origin (true) or name answer, its strings, the reading.
  const std::vector<std::tuple<bool, std::vector<std::string>, std::string>> cases = {
      {true, {origin}, read},
      {false, {name}, nameRead},
      {true,
       {"64501 64502 | 198.18.2.0/24" + lab},
       "AS64501/AS64502|198.18.2.0/24|ZZ|lab|2026-12-01"},
      {true, {"64501  64501 | 1.2.0.0/16" + lab}, "AS64501|1.2.0.0/16|ZZ|lab|2026-12-01"},
      {true, {"12301 | 81.0.100.0/22 ", "| HU | ripencc | 2001-12-06"}, read},  // joined
      {true,
       {"6939 | 2001:470::/32 | US | arin | 2002-08-01"},
       "AS6939|2001:470::/32|US|arin|2002-08-01"},
      {true, {"64501 | 198.18.0.0/15 |  | other | "}, "AS64501|198.18.0.0/15||other|"},
      {false, {"4294967295 | ZZ | lab | | LAST"}, "4294967295|ZZ|lab||LAST"},
      {true, {}, "-"},                                                 // empty
      {true, {" | 81.0.100.0/22 | HU | ripencc | 2001-12-06"}, "-"},   // no number
      {true, {"AS12301 | 81.0.100.0/22 | HU | ripencc | 2001"}, "-"},  // a word for a number
      {true, {"0 | 81.0.100.0/22 | HU | ripencc | 2001-12-06"}, "-"},  // AS 0
      {false, {"4294967296 | HU | ripencc | 1999-02-25 | X"}, "-"},    // beyond 32 bits
      {false, {"1 2 | HU | ripencc | 1999-02-25 | X"}, "-"},           // two for a name
      {true, {"1 2 3 4 5 6 7 8 9 | 81.0.100.0/22" + lab}, "-"},        // nine AS numbers
      {true, {origin + " | extra"}, "-"},                              // too many fields
      {true, {"12301 | 81.0.100.0/22 | HU | ripencc"}, "-"},           // a field too few
      {false, {"12301" + lab + " | " + std::string(2000, 'A')}, "-"},  // kilobytes
      {false, {"12301" + lab + " | EVIL\x1b[2J"}, "-"},                // control bytes
      {true, {std::string("12301 | 81.0.100.0/22 | HU | ripencc | 2001\0", 45)}, "-"},
      {false, {"12301" + lab + " | K\xc3\xb6ln"}, "-"},                 // not ASCII
      {true, {"12301 | 81.0.100.0/22;rm | HU | ripencc | 2001"}, "-"},  // a prefix of another shape
      {true, {"12301 | 81.0.100.0/22 | HUN | ripencc | 2001"}, "-"},  // a country of three letters
      {false, {"12301" + lab + " | "}, "-"},                          // no name
  };
  for (const auto& [isOrigin, strings, expected] : cases)
    EXPECT_EQ(Reading(isOrigin, strings), expected) << JoinTxtStrings(strings);
}

TEST(AsQuestions, AsksOnlyAboutAddressesSomeoneAnnounces) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"198.18.1.2", "2.1.18.198.origin.asn.cymru.com"},  // benchmarking: the lab's
      {"172.32.0.1", "1.0.32.172.origin.asn.cymru.com"},  // just past 172.16.0.0/12
      {"2001:2::1",
       "1.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.2.0.0.0.1.0.0.2.origin6.asn.cymru.com"},
  };
  for (const auto& [address, question] : cases)
    EXPECT_EQ(AsOriginQuestion(address), question) << address;
  // Private, link-local and mapped addresses are no one's to announce; nor is what is no address.
  for (const char* address :
       {"10.1.2.3", "fe80::1%eth0", "::ffff:81.0.100.1", "Unknown Ip", "81.0.100.256"})
    EXPECT_EQ(AsOriginQuestion(address), "") << address;
  EXPECT_EQ(AsNameQuestion(64501), "AS64501.asn.cymru.com");
}

// --- the ".dna" file ---

class AsCacheFile : public ::testing::Test {
 protected:
  static constexpr std::int64_t Now = 1'800'000'000;
  TAsCache CacheAt(std::int64_t now) const {
    return TAsCache([now] { return now; });
  }

  TTempDir dir_{"quillon-dna"};
  std::string path_ = dir_.File("quillon.dna");
};

TEST_F(AsCacheFile, SavesEachAnswerWithItsTimeAndKeepsItAWeekAndNoRecordADay) {
  EXPECT_EQ(AsCachePath(dir_.File("quillon.dnb")), path_);
  TAsCache cache = CacheAt(Now);
  ASSERT_TRUE(cache.SaveToFile(path_));
  EXPECT_FALSE(std::filesystem::exists(path_)) << "an unused cache writes no file";
  cache.PutOrigin("198.18.1.2", {"junk", "64501 64502 | 198.18.1.0/24 | ZZ | lab | 2026-12-01"});
  cache.PutOrigin("198.18.1.3", {});
  cache.PutName(64501, {"64502 | ZZ | lab | 2026-12-01 | ANOTHER"});  // not the AS asked
  cache.PutName(64502, {"64502 | ZZ | lab | 2026-12-01 | LAB-B"});
  cache.PutOrigin("10.0.0.1", {"64501 | 10.0.0.0/8 | ZZ | lab | 2026-12-01"});  // never asked
  ASSERT_TRUE(cache.SaveToFile(path_));
  std::string saved;
  ReadFileContents(path_, saved);
  EXPECT_EQ(saved,
            "quillon-as 1\n"
            "n\t64501\t1800000000\t\n"
            "n\t64502\t1800000000\t64502 | ZZ | lab | 2026-12-01 | LAB-B\n"
            "o\t198.18.1.2\t1800000000\t64501 64502 | 198.18.1.0/24 | ZZ | lab | 2026-12-01\n"
            "o\t198.18.1.3\t1800000000\t\n");

  TAsCache read = CacheAt(Now);
  read.LoadFromFile(path_);
  ASSERT_TRUE(read.Origin("198.18.1.2") && read.Origin("198.18.1.3") && read.Name(64502));
  EXPECT_EQ(read.Origin("198.18.1.2")->Origin->Numbers, (std::vector<std::uint32_t>{64501, 64502}));
  EXPECT_FALSE(read.Origin("198.18.1.3")->Origin);
  EXPECT_EQ(read.Name(64502)->Name->Name, "LAB-B");

  // An answer is kept a week, "no record" a day.
  const std::vector<std::tuple<std::int64_t, bool, bool>> cases = {
      {Now + 24 * 3600 - 1, true, true},
      {Now + 24 * 3600, true, false},
      {Now + 7 * 24 * 3600 - 1, true, false},
      {Now + 7 * 24 * 3600, false, false},
  };
  for (const auto& [at, answer, noRecord] : cases) {
    TAsCache later = CacheAt(at);
    later.LoadFromFile(path_);
    EXPECT_EQ(later.Origin("198.18.1.2") != nullptr, answer) << at - Now;
    EXPECT_EQ(later.Origin("198.18.1.3") != nullptr, noRecord) << at - Now;
    EXPECT_EQ(later.Name(64502) != nullptr, answer) << at - Now;
    EXPECT_EQ(later.Name(64501) != nullptr, noRecord) << at - Now;
  }
}

TEST_F(AsCacheFile, DropsCorruptAndForeignContentOnReading) {
  const std::string good = "o\t198.18.1.2\t1800000000\t64501 | 198.18.1.0/24 | ZZ | lab | 2026\n";
  const std::vector<std::pair<std::string, std::size_t>> cases = {
      {"quillon-as 1\n" + good, 1},
      {good, 0},                                   // no heading: someone else's file
      {std::string(1000, '\0'), 0},                // zeros
      {"quillon-as 1\n" + good.substr(0, 30), 0},  // the last line cut short
      {"quillon-as 1\no\t10.0.0.1\t1800000000\t64501 | 10.0.0.0/8 | ZZ | lab | 2026\n", 0},
      {"quillon-as 1\no\t198.18.1.2\t1800000000\tEVIL\x1b[2J | 1/1 | ZZ | lab | 2026\n", 0},
      {"quillon-as 1\no\t198.18.1.2\t9900000000\t64501 | 198.18.1.0/24 | ZZ | lab | 2026\n", 0},
      {"quillon-as 1\nn\t7\t1800000000\t8 | ZZ | lab | 2026 | OTHER\n" + good, 1},
  };
  for (const auto& [content, origins] : cases) {
    ASSERT_TRUE(ReplaceFileContents(path_, content));
    TAsCache read = CacheAt(Now);
    read.LoadFromFile(path_);
    EXPECT_EQ(read.OriginCount() + read.NameCount(), origins) << content;
  }
}

}  // namespace
}  // namespace quillon
