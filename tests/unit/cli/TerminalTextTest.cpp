// Names from the network reach the terminal only through SanitizeForTerminal:
// no byte of its output may start a control function, whatever the input.
#include <gtest/gtest.h>

#include <string>

#include "cli/TerminalText.h"

namespace quillon {
namespace {

// The code points of valid UTF-8 (the test's own strict decoder).
std::u32string Decode(const std::string& text, bool& valid) {
  std::u32string out;
  valid = true;
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    std::size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > text.size()) {
      valid = false;
      return out;
    }
    char32_t c = static_cast<char32_t>(n == 1 ? b : (b & (0x7F >> n)));
    for (std::size_t k = 1; k < n; ++k) {
      const auto t = static_cast<unsigned char>(text[i + k]);
      if ((t & 0xC0) != 0x80) {
        valid = false;
        return out;
      }
      c = c << 6 | static_cast<char32_t>(t & 0x3F);
    }
    out += c;
    i += n;
  }
  return out;
}

// True when a terminal would take nothing in the text as a control function.
bool Harmless(const std::string& text) {
  bool valid = false;
  const std::u32string points = Decode(text, valid);
  if (!valid) return false;
  for (char32_t c : points) {
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F)) return false;
    if (c == 0x202E || c == 0x2066 || c == 0x2028) return false;
  }
  return true;
}

TEST(Sanitize, EscapeSequencesBecomeVisible) {
  EXPECT_EQ(SanitizeForTerminal("\x1b[31mred\x1b[0m"), "\u241b[31mred\u241b[0m");
  // A window-title change (OSC ... BEL) cannot reach the terminal.
  EXPECT_EQ(SanitizeForTerminal("\x1b]0;owned\x07"), "\u241b]0;owned\u2407");
  EXPECT_EQ(SanitizeForTerminal("a\nb\rc\td"), "a\u240ab\u240dc\u2409d");
  EXPECT_EQ(SanitizeForTerminal(std::string("nul\0x", 5)), "nul\u2400x");
  EXPECT_EQ(SanitizeForTerminal("del\x7f"), "del\u2421");
}

TEST(Sanitize, C1ControlsAndInvalidBytesBecomeReplacementCharacters) {
  EXPECT_EQ(SanitizeForTerminal("\xC2\x9B"
                                "31m"),
            "\uFFFD31m")
      << "CSI as UTF-8";
  EXPECT_EQ(SanitizeForTerminal("\x9B"
                                "31m"),
            "\uFFFD31m")
      << "CSI as a raw byte";
  EXPECT_EQ(SanitizeForTerminal("\xC0\xAF"), "\uFFFD\uFFFD") << "overlong";
  EXPECT_EQ(SanitizeForTerminal("\xED\xA0\x80"), "\uFFFD\uFFFD\uFFFD") << "surrogate";
  EXPECT_EQ(SanitizeForTerminal("\xF4\x90\x80\x80"), "\uFFFD\uFFFD\uFFFD\uFFFD") << "> U+10FFFF";
  EXPECT_EQ(SanitizeForTerminal("ab\xE2\x82"), "ab\uFFFD\uFFFD") << "cut short";
  EXPECT_EQ(SanitizeForTerminal("caf\xE9"), "caf\uFFFD") << "Latin-1";
  EXPECT_EQ(SanitizeForTerminal("x\u202Eevil"), "x\uFFFDevil") << "right-to-left override";
}

TEST(Sanitize, PrintableTextPassesUnchanged) {
  for (const std::string text :
       {"router1.example", "m\u00fcnchen-gw", "\u6771\u4eac.jp", "[no DNS]", "\U0001F600"}) {
    EXPECT_EQ(SanitizeForTerminal(text), text);
  }
}

TEST(Sanitize, EveryByteAndPairOfBytesComesOutHarmless) {
  for (int a = 0; a < 256; ++a) {
    const std::string one(1, static_cast<char>(a));
    ASSERT_TRUE(Harmless(SanitizeForTerminal(one))) << a;
    for (int b = 0x80; b < 256; ++b) {
      const std::string two = one + static_cast<char>(b);
      ASSERT_TRUE(Harmless(SanitizeForTerminal(two))) << a << " " << b;
    }
  }
}

TEST(TerminalWidth, CountsColumnsNotBytes) {
  EXPECT_EQ(DisplayWidth("abc"), 3);
  EXPECT_EQ(DisplayWidth("m\u00fcnchen"), 7);
  EXPECT_EQ(DisplayWidth("\u6771\u4eac"), 4);
  EXPECT_EQ(DisplayWidth("e\u0301"), 1) << "combining accent";
}

TEST(TerminalWidth, FitPadsAndCuts) {
  EXPECT_EQ(FitToWidth("ab", 4), "ab  ");
  EXPECT_EQ(FitToWidth("ab", 4, true), "  ab");
  EXPECT_EQ(FitToWidth("abcdef", 4), "abc\u2026");
  EXPECT_EQ(FitToWidth("abcd", 4), "abcd");
  // A wide character that does not fit before the ellipsis leaves a blank.
  EXPECT_EQ(FitToWidth("a\u6771\u4eac", 4), "a\u6771\u2026");
  EXPECT_EQ(FitToWidth("\u6771\u4eac\u6771", 4), "\u6771\u2026 ");
  EXPECT_EQ(FitToWidth("x\x1b[2J", 8), "x\u241b[2J   ");
  EXPECT_EQ(FitToWidth("abc", 0), "");
  for (int width = 1; width < 12; ++width) {
    EXPECT_EQ(DisplayWidth(FitToWidth("\u6771a\u4eacbc\x1b"
                                      "defgh",
                                      width)),
              width)
        << width;
  }
}

}  // namespace
}  // namespace quillon
