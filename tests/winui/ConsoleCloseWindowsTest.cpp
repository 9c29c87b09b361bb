// A window started from a console shares it: Ctrl+C or Ctrl+Break typed there
// leave the window alone, and the console's close closes the window as its
// close button does. The system calls the handler on a thread of its own and
// ends the process once it returns, so it must return only after the save.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/TempDir.h"
#include "winui/DesktopAppWindows.h"
#include "winui/MainWindowWindows.h"

namespace quillon {
namespace {

void DispatchWaiting() {
  MSG message{};
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

TEST(WindowConsoleClose, KeysAreIgnoredAndTheCloseReturnsOnceTheNamesAreSaved) {
  TTempDir dir("quillon-console-window");
  const std::string cache = dir.File("q.dnb");
  std::unique_ptr<TWinMainWindow> made;
  try {
    made = std::make_unique<TWinMainWindow>(TFormFiles{dir.File("q.hst"), cache},
                                            std::vector<std::string>{});
  } catch (const std::runtime_error&) {
    GTEST_SKIP() << "no window can be made here (the lab runs this on a display)";
  }
  TWinMainWindow& window = *made;
  CloseWithConsole(window.Handle());

  EXPECT_TRUE(OnWindowConsoleControl(CTRL_C_EVENT));
  EXPECT_TRUE(OnWindowConsoleControl(CTRL_BREAK_EVENT));
  DispatchWaiting();
  EXPECT_TRUE(IsWindow(window.Handle()));
  EXPECT_FALSE(std::filesystem::exists(cache));

  std::string whenReturned = "(not returned)";
  std::thread system([&] {
    EXPECT_TRUE(OnWindowConsoleControl(CTRL_CLOSE_EVENT));
    whenReturned = std::filesystem::exists(cache) ? "saved" : "not saved";
  });
  MSG message{};
  while (window.Handle() && GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  system.join();
  CloseWithConsole(nullptr);
  EXPECT_FALSE(window.Handle()) << "the window was closed";
  EXPECT_EQ(whenReturned, "saved");
}

}  // namespace
}  // namespace quillon
