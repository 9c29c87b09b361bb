#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/TempDir.h"
#include "trace/DnsBuffer.h"
#include "unit/trace/DnsRecordText.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

// 2023-03-15 13:14:15.678 as an OLE Automation date.
constexpr double FixedDate = 45000.0 + (13 * 3600 + 14 * 60 + 15.678) / 86400.0;

class DnsBufferFile : public ::testing::Test {
 protected:
  std::string ReadAll() const {
    std::ifstream in(path_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  void WriteAll(const std::string& data) const {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
  }

  static TDnsBuffer FixedClockBuffer() {
    return TDnsBuffer([] { return FixedDate; });
  }

  TTempDir dir_{"quillon-dnb"};
  std::string path_ = dir_.File("quillon.dnb");
};

TEST(OleDate, EncodesLocalDateAndTimeToTheMillisecond) {
  EXPECT_EQ(EncodeOleDate(1899, 12, 30, 0, 0, 0, 0), 0.0);
  EXPECT_EQ(EncodeOleDate(1900, 1, 1, 0, 0, 0, 0), 2.0);
  EXPECT_EQ(EncodeOleDate(2023, 3, 15, 12, 0, 0, 0), 45000.5);
  EXPECT_DOUBLE_EQ(EncodeOleDate(2023, 3, 15, 13, 14, 15, 678), FixedDate);
  EXPECT_EQ(EncodeOleDate(2000, 2, 29, 0, 0, 0, 0), 36585.0);  // leap day
  const double now = NowAsOleDate();
  EXPECT_GT(now, 45000.0);  // after 2023-03-15
  EXPECT_LT(now, 73051.0);  // before 2100
}

TEST_F(DnsBufferFile, SavedRecordIsByteExact) {
  TDnsBuffer cache = FixedClockBuffer();
  cache.AddName("192.0.2.1", "router.example");
  cache.AddName("10.0.0.1", "10.0.0.1[no DNS]");
  ASSERT_TRUE(cache.SaveToFile(path_));
  const std::string expected = HandMadeRecord("192.0.2.1", "router.example", FixedDateBytes) +
                               HandMadeRecord("10.0.0.1", "10.0.0.1[no DNS]", FixedDateBytes);
  EXPECT_EQ(ReadAll(), expected);
  EXPECT_EQ(cache.Record(0).AddedDate(), FixedDate);
}

TEST_F(DnsBufferFile, SaveWritesCountRecordsAndRewritesLoadedOnesUnchanged) {
  // A loaded record keeps its own date and even bytes beyond its texts.
  std::string foreign = HandMadeRecord("198.51.100.7", "old.example", std::string(8, '\x11'));
  foreign[200] = 'z';
  foreign[278] = '\x05';
  WriteAll(foreign);
  TDnsBuffer cache = FixedClockBuffer();
  cache.LoadFromFile(path_);
  ASSERT_EQ(cache.Count(), 1);
  for (int i = 0; i < 4; ++i) cache.AddName("192.0.2." + std::to_string(i), "h");
  ASSERT_TRUE(cache.SaveToFile(path_));
  const std::string data = ReadAll();
  ASSERT_EQ(data.size(), 5u * 288u);
  EXPECT_EQ(data.substr(0, 288), foreign);
  EXPECT_EQ(data.substr(4 * 288), HandMadeRecord("192.0.2.3", "h", FixedDateBytes));
}

TEST_F(DnsBufferFile, EmptyCacheSavesAnEmptyFile) {
  WriteAll("old contents");
  TDnsBuffer cache;
  ASSERT_TRUE(cache.SaveToFile(path_));
  EXPECT_TRUE(fs::exists(path_));
  EXPECT_EQ(fs::file_size(path_), 0u);
}

TEST_F(DnsBufferFile, FailedSaveLeavesNothingBehind) {
  TDnsBuffer old = FixedClockBuffer();
  old.AddName("192.0.2.1", "a.example");
  ASSERT_TRUE(old.SaveToFile(path_));
  const std::string before = ReadAll();
  // A directory where the file should go: the rename at the end fails.
  const std::string blocked = dir_.File("blocked.dnb");
  fs::create_directory(blocked);
  TDnsBuffer cache;
  cache.AddName("192.0.2.2", "b.example");
  EXPECT_FALSE(cache.SaveToFile(blocked));
  EXPECT_TRUE(fs::is_directory(blocked));
  EXPECT_EQ(ReadAll(), before);
  // No temporary file is left beside them.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.Path()), fs::directory_iterator()), 2);
}

TEST_F(DnsBufferFile, LoadKeepsWholeRecordsAndIgnoresATrailingPart) {
  const std::string a = HandMadeRecord("192.0.2.1", "a.example", FixedDateBytes);
  const std::string b = HandMadeRecord("192.0.2.2", "b.example", FixedDateBytes);
  WriteAll(a + b + std::string(287, 'x'));
  TDnsBuffer cache;
  cache.LoadFromFile(path_);
  ASSERT_EQ(cache.Count(), 2);
  EXPECT_EQ(cache.FindName("192.0.2.2"), "b.example");
  ASSERT_TRUE(cache.SaveToFile(path_));
  EXPECT_EQ(ReadAll(), a + b);
}

TEST_F(DnsBufferFile, EmptyOrMissingFileGivesAnEmptyCache) {
  TDnsBuffer cache;
  cache.AddName("192.0.2.1", "stale");
  cache.LoadFromFile(path_);  // missing
  EXPECT_EQ(cache.Count(), 0);
  EXPECT_EQ(cache.FindName("192.0.2.1"), "192.0.2.1");
  WriteAll("");
  cache.LoadFromFile(path_);
  EXPECT_EQ(cache.Count(), 0);
  WriteAll(std::string(100, '\x07'));
  cache.LoadFromFile(path_);
  EXPECT_EQ(cache.Count(), 0);
}

TEST_F(DnsBufferFile, DamagedLengthBytesNeverReachBeyondTheirFields) {
  std::string record = HandMadeRecord("192.0.2.1234567890ab", "n", FixedDateBytes);
  record[0] = '\xff';   // address length above 20
  record[21] = '\xff';  // name length above 255
  record.replace(22, 255, std::string(255, 'n'));
  WriteAll(record);
  TDnsBuffer cache;
  cache.LoadFromFile(path_);
  ASSERT_EQ(cache.Count(), 1);
  EXPECT_EQ(cache.Record(0).Address(), "192.0.2.1234567890ab");
  EXPECT_EQ(cache.Record(0).HostName(), std::string(255, 'n'));
  EXPECT_EQ(cache.FindName("192.0.2.1234567890ab"), std::string(255, 'n'));
}

TEST(DnsBuffer, FindNameReturnsTheFirstOfDuplicatesAndTheAddressWhenAbsent) {
  TDnsBuffer cache;
  EXPECT_EQ(cache.FindName("192.0.2.1"), "192.0.2.1");
  cache.AddName("192.0.2.1", "first.example");
  cache.AddName("192.0.2.1", "second.example");
  cache.AddName("192.0.2.10", "ten.example");
  EXPECT_EQ(cache.Count(), 3);
  EXPECT_EQ(cache.FindName("192.0.2.1"), "first.example");
  EXPECT_EQ(cache.FindName("192.0.2.10"), "ten.example");
  // Whole text, exact bytes: neither a prefix nor an extension matches.
  EXPECT_EQ(cache.FindName("192.0.2."), "192.0.2.");
  EXPECT_EQ(cache.FindName("192.0.2.100"), "192.0.2.100");
  EXPECT_EQ(cache.FindName(""), "");
}

TEST(DnsBuffer, NameEqualToItsAddressReadsLikeAMiss) {
  TDnsBuffer cache;
  cache.AddName("192.0.2.5", "192.0.2.5");
  EXPECT_EQ(cache.FindName("192.0.2.5"), "192.0.2.5");
  cache.AddName("192.0.2.5", "later.example");
  // The first record still answers: the caller compares with the address.
  EXPECT_EQ(cache.FindName("192.0.2.5"), "192.0.2.5");
}

TEST(DnsBuffer, LongTextsAreCutToTheirFields) {
  TDnsBuffer cache;
  const std::string address = "123456789012345678901234";
  const std::string name(300, 'h');
  cache.AddName(address, name);
  EXPECT_EQ(cache.Record(0).Address(), address.substr(0, 20));
  EXPECT_EQ(cache.Record(0).AddressLength, 20);
  EXPECT_EQ(cache.Record(0).HostNameLength, 255);
  EXPECT_EQ(cache.FindName(address.substr(0, 20)), name.substr(0, 255));
  EXPECT_EQ(cache.FindName(address), address);  // the full text was never stored
}

}  // namespace
}  // namespace quillon
