// Telling a console of our own (a double-click) from one we share, and how
// long a console's close may wait for the save.
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>

#include "platform/Console.h"
#include "platform/ConsoleWindows.h"
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

// A second below the user's hung-application time-out, so that the handler
// returns before the system ends the process; at least half of it.
TEST(ConsoleWindows, CloseWaitFollowsTheHungAppTimeOut) {
  const std::pair<std::uint32_t, std::uint32_t> cases[] = {
      {5000, 4000}, {20000, 19000}, {1500, 750}, {1000, 500}, {0, 0},
  };
  for (const auto& [hung, wait] : cases) EXPECT_EQ(ConsoleCloseWaitMs(hung), wait) << hung;
}

}  // namespace
}  // namespace quillon
