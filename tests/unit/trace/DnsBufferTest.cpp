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
  std::string ReadAll() const { return ReadAll(path_); }
  static std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  void WriteAll(const std::string& data) const { WriteAll(path_, data); }
  static void WriteAll(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
  }

  static TDnsBuffer FixedClockBuffer() {
    return TDnsBuffer([] { return FixedDate; });
  }

  TTempDir dir_{"quillon-dnb"};
  std::string path_ = dir_.File("quillon.dnb");
  std::string path6_ = dir_.File("quillon.dn6");
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

TEST_F(DnsBufferFile, Ipv6NamesGoToTheSiblingFileAndLeaveTheDnbByteForByte) {
  const std::string old = HandMadeRecord("198.51.100.7", "old.example", std::string(8, '\x11'));
  WriteAll(old);
  TDnsBuffer cache = FixedClockBuffer();
  cache.LoadFromFile(path_);
  // Up to the widest address with a zone the field takes.
  const std::string widest = "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff%" + std::string(23, 'z');
  ASSERT_EQ(widest.size(), 63u);
  cache.AddName("2001:db8::1", "six.example");
  cache.AddName("2001:db8::2", "2001:db8::2[no DNS]");
  cache.AddName(widest, "wide.example");
  cache.AddName(widest + "z", "cut.example");  // would never match again: not kept
  ASSERT_TRUE(cache.SaveToFile(path_));
  EXPECT_EQ(ReadAll(), old) << "an older program would read IPv6 records it cannot match";
  EXPECT_EQ(ReadAll(path6_),
            HandMadeRecord6("2001:db8::1", "six.example", FixedDateBytes) +
                HandMadeRecord6("2001:db8::2", "2001:db8::2[no DNS]", FixedDateBytes) +
                HandMadeRecord6(widest, "wide.example", FixedDateBytes));

  TDnsBuffer again;
  again.LoadFromFile(path_);
  EXPECT_EQ(again.Count(), 1);
  EXPECT_EQ(again.Ipv6Names().Count(), 3);
  EXPECT_EQ(again.FindName("2001:db8::1"), "six.example");
  EXPECT_EQ(again.FindName("2001:db8::2"), "2001:db8::2[no DNS]");
  EXPECT_EQ(again.FindName(widest), "wide.example");
  EXPECT_EQ(again.FindName(widest + "z"), widest + "z");
  EXPECT_EQ(again.FindName("198.51.100.7"), "old.example");
}

// A link-local name holds for this run only: never written, and an older
// program's record of one is left out when the file is read.
TEST_F(DnsBufferFile, LinkLocalNamesAreKeptForTheRunOnly) {
  const std::string global = HandMadeRecord6("2001:db8::a", "a.example", FixedDateBytes);
  WriteAll(path6_, HandMadeRecord6("fe80::1%eth0", "stale.example", FixedDateBytes) + global);
  TDnsBuffer cache = FixedClockBuffer();
  cache.LoadFromFile(path_);
  EXPECT_EQ(cache.FindName("fe80::1%eth0"), "fe80::1%eth0") << "read from an older file";
  const char* linkLocal[] = {"fe80::1%eth0", "fe80::2%2", "febf:ffff::1%v+1", "fe80::3"};
  for (const char* address : linkLocal) {
    cache.AddName(address, std::string(address) + " name");
    cache.AddName(address, "later.example");
    EXPECT_EQ(cache.FindName(address), std::string(address) + " name") << "the first wins";
  }
  cache.AddName("fec0::1", "site.example");  // not link-local
  ASSERT_TRUE(cache.SaveToFile(path_));
  EXPECT_EQ(ReadAll(path6_), global + HandMadeRecord6("fec0::1", "site.example", FixedDateBytes));
}

TEST_F(DnsBufferFile, SiblingFileKeepsWholeRecordsAndIgnoresATrailingPart) {
  const std::string a = HandMadeRecord6("2001:db8::a", "a.example", FixedDateBytes);
  const std::string b = HandMadeRecord6("2001:db8::b", "b.example", FixedDateBytes);
  ASSERT_EQ(a.size(), 328u);
  WriteAll(path6_, a + b + std::string(327, 'x'));
  TDnsBuffer cache;
  cache.LoadFromFile(path_);  // the .dnb itself is missing
  EXPECT_EQ(cache.Count(), 0);
  ASSERT_EQ(cache.Ipv6Names().Count(), 2);
  EXPECT_EQ(cache.FindName("2001:db8::b"), "b.example");
  ASSERT_TRUE(cache.SaveToFile(path_));
  EXPECT_EQ(ReadAll(path6_), a + b);
  EXPECT_EQ(ReadAll(), "");
}

TEST_F(DnsBufferFile, IPv4OnlyCacheMakesNoSiblingFile) {
  TDnsBuffer cache = FixedClockBuffer();
  cache.AddName("192.0.2.1", "a.example");
  ASSERT_TRUE(cache.SaveToFile(path_));
  EXPECT_FALSE(fs::exists(path6_));
  // One that exists mirrors the cache, even with no whole record in it.
  WriteAll(path6_, std::string(100, 'x'));
  TDnsBuffer loaded;
  loaded.LoadFromFile(path_);
  ASSERT_TRUE(loaded.SaveToFile(path_));
  EXPECT_EQ(ReadAll(path6_), "");
  fs::remove(path6_);
  // A sibling that cannot be written fails the save; the .dnb is still saved.
  fs::create_directory(path6_);
  cache.AddName("2001:db8::1", "six.example");
  EXPECT_FALSE(cache.SaveToFile(path_));
  EXPECT_EQ(ReadAll(), HandMadeRecord("192.0.2.1", "a.example", FixedDateBytes));
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

// The same rules in both files: the first record of an address wins, and an
// unresolved address is kept as a negative entry that still answers.
struct TFamilyCase {
  const char* Address;  // a second address is this one plus "0"
  const char* Prefix;   // a prefix of the address that must not match
};
constexpr TFamilyCase FamilyCases[] = {{"192.0.2.1", "192.0.2."}, {"2001:db8::1", "2001:db8::"}};

int CountOf(const TDnsBuffer& cache, const std::string& address) {
  return address.find(':') == std::string::npos ? cache.Count() : cache.Ipv6Names().Count();
}

TEST(DnsBuffer, FindNameReturnsTheFirstOfDuplicatesAndTheAddressWhenAbsent) {
  for (const auto& c : FamilyCases) {
    SCOPED_TRACE(c.Address);
    const std::string address = c.Address;
    const std::string longer = address + "0";
    TDnsBuffer cache;
    EXPECT_EQ(cache.FindName(address), address);
    cache.AddName(address, "first.example");
    cache.AddName(address, "second.example");
    cache.AddName(longer, "ten.example");
    EXPECT_EQ(CountOf(cache, address), 3);
    EXPECT_EQ(cache.Count() + cache.Ipv6Names().Count(), 3) << "one file only";
    EXPECT_EQ(cache.FindName(address), "first.example");
    EXPECT_EQ(cache.FindName(longer), "ten.example");
    // Whole text, exact bytes: neither a prefix nor an extension matches.
    EXPECT_EQ(cache.FindName(c.Prefix), c.Prefix);
    EXPECT_EQ(cache.FindName(longer + "0"), longer + "0");
    EXPECT_EQ(cache.FindName(""), "");
    // A negative entry answers like a name.
    cache.AddName(longer + "0", longer + "0[no DNS]");
    EXPECT_EQ(cache.FindName(longer + "0"), longer + "0[no DNS]");
    // A name equal to its address reads like a miss, and as the first record
    // it still answers: the caller compares with the address.
    TDnsBuffer same;
    same.AddName(address, address);
    EXPECT_EQ(same.FindName(address), address);
    same.AddName(address, "later.example");
    EXPECT_EQ(same.FindName(address), address);
  }
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
