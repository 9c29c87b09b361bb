// The host history file: how lines end when read and written, and that a save
// that fails never damages the history already on disk.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/AtomicFile.h"
#include "support/TempDir.h"
#include "trace/HostHistory.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

class HistoryFile : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& name) const { return dir_.File(name); }
  static std::string Contents(const std::string& path) {
    std::string data;
    EXPECT_TRUE(ReadFileContents(path, data)) << path;
    return data;
  }

  TTempDir dir_{"quillon-history"};
};

TEST(HistoryParse, EachLineEndingEndsALine) {
  EXPECT_EQ(ParseHostHistory("a\r\nb\nc\rd"), (Lines{"a", "b", "c", "d"}));
  // CR LF is one ending; LF CR and CR CR LF are two.
  EXPECT_EQ(ParseHostHistory("a\r\n"), (Lines{"a"}));
  EXPECT_EQ(ParseHostHistory("a\n\rb"), (Lines{"a", "", "b"}));
  EXPECT_EQ(ParseHostHistory("a\r\r\nb"), (Lines{"a", "", "b"}));
}

TEST(HistoryParse, LastLineWithoutEndingCounts) {
  EXPECT_EQ(ParseHostHistory("first\r\nlast"), (Lines{"first", "last"}));
  EXPECT_EQ(ParseHostHistory("only"), (Lines{"only"}));
  EXPECT_EQ(ParseHostHistory(""), Lines{});
}

TEST(HistoryParse, EmptyLinesAndBlanksAreKept) {
  EXPECT_EQ(ParseHostHistory("a\r\n\r\n  b \r\n\t\r\n"), (Lines{"a", "", "  b ", "\t"}));
  EXPECT_EQ(ParseHostHistory("\r\n"), (Lines{""}));
}

TEST(HistoryParse, ZeroByteEndsTheText) {
  using namespace std::string_literals;
  EXPECT_EQ(ParseHostHistory("a\r\nb\0c\r\nd\r\n"s), (Lines{"a", "b"}));
  EXPECT_EQ(ParseHostHistory("\0host\r\n"s), Lines{});
  EXPECT_EQ(ParseHostHistory("a\r\n\0"s), (Lines{"a"}));
}

TEST(HistoryFormat, EveryLineEndsWithCrLf) {
  EXPECT_EQ(FormatHostHistory({"x.test", "", " y "}), "x.test\r\n\r\n y \r\n");
  EXPECT_EQ(FormatHostHistory({}), "");
  const Lines lines{"Host.Test", "  spaced  ", "", "10.0.0.1"};
  EXPECT_EQ(ParseHostHistory(FormatHostHistory(lines)), lines);
}

TEST_F(HistoryFile, WriteThenReadGivesTheLinesBack) {
  const std::string path = PathOf("q.hst");
  const Lines lines{"localhost", " a.test", "B.TEST "};
  ASSERT_TRUE(WriteHostHistory(path, lines));
  EXPECT_EQ(Contents(path), "localhost\r\n a.test\r\nB.TEST \r\n");
  Lines read{"stale"};
  ASSERT_TRUE(ReadHostHistory(path, read));
  EXPECT_EQ(read, lines);
}

TEST_F(HistoryFile, ReadingAMissingFileLeavesTheLinesAlone) {
  Lines lines{"kept"};
  EXPECT_FALSE(ReadHostHistory(PathOf("missing.hst"), lines));
  EXPECT_FALSE(ReadHostHistory("", lines));
  EXPECT_EQ(lines, Lines{"kept"});
}

TEST_F(HistoryFile, ReadingAnEmptyFileGivesNoLines) {
  const std::string path = PathOf("empty.hst");
  ASSERT_TRUE(ReplaceFileContents(path, ""));
  Lines lines{"stale"};
  ASSERT_TRUE(ReadHostHistory(path, lines));
  EXPECT_TRUE(lines.empty());
}

TEST_F(HistoryFile, SavingIntoAMissingDirectoryFailsAndCreatesNothing) {
  const std::string path = PathOf("no/such/dir/q.hst");
  EXPECT_FALSE(WriteHostHistory(path, {"a"}));
  EXPECT_FALSE(fs::exists(dir_ / "no"));
}

TEST_F(HistoryFile, AFailedWriteLeavesTheOldHistoryWhole) {
  const std::string path = PathOf("q.hst");
  const Lines old{"one.test", "two.test", "three.test"};
  ASSERT_TRUE(WriteHostHistory(path, old));
  const std::string before = Contents(path);

  // Let the disk "fill up" after a few bytes: the new text cannot be written
  // in full, which works for root as well as for anyone else.
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit tight = saved;
  tight.rlim_cur = 8;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tight), 0);
  const bool written = WriteHostHistory(path, {"a-much-longer-host-name.test", "one.test"});
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);

  EXPECT_FALSE(written);
  EXPECT_EQ(Contents(path), before);
  Lines read;
  ASSERT_TRUE(ReadHostHistory(path, read));
  EXPECT_EQ(read, old);
  // No temporary file is left beside it.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.Path()), fs::directory_iterator{}), 1);
}

TEST_F(HistoryFile, SavingIntoAReadOnlyDirectoryLeavesTheOldHistoryWhole) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only directories anyway";
  const std::string path = PathOf("q.hst");
  ASSERT_TRUE(WriteHostHistory(path, {"old.test"}));
  fs::permissions(dir_.Path(), fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_FALSE(WriteHostHistory(path, {"new.test", "old.test"}));
  fs::permissions(dir_.Path(), fs::perms::owner_all);
  EXPECT_EQ(Contents(path), "old.test\r\n");
}

}  // namespace
}  // namespace quillon
