#include <gtest/gtest.h>

#include "trace/AboutText.h"

namespace quillon {
namespace {

TEST(AboutText, VersionStandsBetweenTheFixedParts) {
  EXPECT_EQ(ProductLine("0.8.0.0"), "Free Quillon ( Version 0.8.0.0 )");
  // With no version the fixed parts meet: two blanks before the parenthesis.
  EXPECT_EQ(ProductLine(""), "Free Quillon ( Version  )");
}

TEST(AboutText, OnlyAQuotedProgramPathIsTakenFromTheOpenCommand) {
  EXPECT_EQ(QuotedProgram(R"("C:\Program Files\Web\web.exe" -nohome "%1")"),
            R"(C:\Program Files\Web\web.exe)");
  EXPECT_EQ(QuotedProgram(R"(  "C:\web.exe")"), R"(C:\web.exe)");
  EXPECT_EQ(QuotedProgram(R"(C:\web.exe %1)"), "");
  EXPECT_EQ(QuotedProgram(R"("C:\web.exe %1)"), "");
  EXPECT_EQ(QuotedProgram(R"(C:\web.exe "%1)"), "");
  EXPECT_EQ(QuotedProgram(""), "");
}

}  // namespace
}  // namespace quillon
