// Telling a console of our own (a double-click) from one we share.
#include <gtest/gtest.h>

#include "platform/Console.h"
// After our headers, whose names it would take as macros.
#include <windows.h>

namespace quillon {
namespace {

TEST(ConsoleWindows, OnlyAConsoleOfOurOwnIsReleased) {
  FreeConsole();
  EXPECT_FALSE(ConsoleIsOurOwn()) << "no console at all";
  if (!AllocConsole()) GTEST_SKIP() << "no console can be made here";
  EXPECT_TRUE(ConsoleIsOurOwn()) << "a console made for this process alone";
  ReleaseOwnConsole();
  EXPECT_FALSE(ConsoleIsOurOwn()) << "released";
  DWORD processes[2] = {};
  EXPECT_EQ(GetConsoleProcessList(processes, 2), 0u) << "no console any more";
}

}  // namespace
}  // namespace quillon
