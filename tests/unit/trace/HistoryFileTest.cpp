// The host history file: how lines end when read and written, and that a save
// that fails never damages the history already on disk.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "trace/HostHistory.h"
#include "unit/trace/HistoryFileFixture.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

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

}  // namespace
}  // namespace quillon
