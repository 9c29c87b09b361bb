// The integer conversion of input boxes, command-line values and address
// parts, and the trimming and letter case rules the program relies on.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/Text.h"

namespace quillon {
namespace {

TEST(TextIntegerTest, AcceptsDecimalAndTheThreeHexadecimalPrefixes) {
  const std::pair<const char*, std::int32_t> accepted[] = {
      {"0", 0},
      {"42", 42},
      {"+42", 42},
      {"-42", -42},
      {"   7", 7},
      {"00012", 12},
      {"$ff", 255},
      {"$FF", 255},
      {"x1F", 31},
      {"X1f", 31},
      {"0x10", 16},
      {"0X10", 16},
      {"-$10", -16},
      {"  -0x7FFFFFFF", -2147483647},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"0x7FFFFFFF", 2147483647},
      {"-0x80000000", -2147483647 - 1},
      {"-0", 0},
  };
  for (const auto& [text, value] : accepted) {
    EXPECT_EQ(TryStrToInt(text), std::optional<std::int32_t>(value)) << '"' << text << '"';
  }
}

TEST(TextIntegerTest, RejectsEverythingElseAndValuesOutOfRange) {
  const char* rejected[] = {
      "",
      " ",
      "+",
      "-",
      "$",
      "x",
      "0x",
      "12 ",
      "1 2",
      "\t12",
      "- 1",
      "--1",
      "1e3",
      "1.5",
      "0x1G",
      "$-1",
      "2147483648",
      "-2147483649",
      "0x80000000",
      "abc",
      "12abc",
      "0b101",
      "99999999999999999999999",
      "٣",
      "\n5",
  };
  for (const char* text : rejected) {
    EXPECT_EQ(TryStrToInt(text), std::nullopt) << '"' << text << '"';
  }
}

TEST(TextIntegerTest, SixtyFourBitReadingHoldsTheWholeAddressRange) {
  EXPECT_EQ(TryStrToInt64("4294967295"), 4294967295LL);
  EXPECT_EQ(TryStrToInt64("4294967296"), 4294967296LL);
  EXPECT_EQ(TryStrToInt64("9223372036854775807"), 9223372036854775807LL);
  EXPECT_EQ(TryStrToInt64("-9223372036854775808"), -9223372036854775807LL - 1);
  EXPECT_EQ(TryStrToInt64("9223372036854775808"), std::nullopt);
  EXPECT_EQ(TryStrToInt64("0xFFFFFFFF"), 4294967295LL);
  EXPECT_EQ(TryStrToInt64(""), std::nullopt);
  EXPECT_EQ(TryStrToInt("4294967295"), std::nullopt);
}

TEST(TextTrimTest, RemovesCodes32AndBelowAtBothEndsOnly) {
  EXPECT_EQ(Trim("  host  "), "host");
  EXPECT_EQ(Trim("\t\r\nhost\r\n"), "host");
  EXPECT_EQ(Trim(std::string("\0\x01host\x1f", 7)), "host");
  EXPECT_EQ(Trim("a b"), "a b");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Trim(""), "");
  // Codes above 127 are no blanks, whatever the code page makes of them.
  EXPECT_EQ(Trim("\xA0host\xA0"), "\xA0host\xA0");
  EXPECT_EQ(Trim("\x7Fhost"), "\x7Fhost");
}

TEST(TextCaseTest, OnlyTheLettersAToZChangeCase) {
  EXPECT_EQ(LowerCase("LocalHost-01.LAB"), "localhost-01.lab");
  EXPECT_EQ(LowerCase("\xC0\xC9Z@["), "\xC0\xC9z@[");
  EXPECT_EQ(LowerCase(""), "");
  EXPECT_TRUE(SameText("LOCALHOST", "localhost"));
  EXPECT_TRUE(SameText("LocalHost", "lOCALhOST"));
  EXPECT_FALSE(SameText("localhost", "localhost."));
  EXPECT_FALSE(SameText("\xC0", "\xE0"));  // no letter outside A..Z folds
  EXPECT_FALSE(SameText("@", "`"));        // neighbours of the letters stay apart
  EXPECT_TRUE(SameText("", ""));
}

}  // namespace
}  // namespace quillon
