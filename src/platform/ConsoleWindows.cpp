#include "platform/ConsoleWindows.h"
#include "platform/Console.h"

#include <windows.h>

#include <algorithm>

namespace quillon {
namespace {

// Set once, by the save; never reset, as the process is on its way out.
const HANDLE gStateSaved = CreateEventW(nullptr, TRUE, FALSE, nullptr);
// What the system takes when the user has not changed it.
constexpr std::uint32_t kDefaultHungAppTimeoutMs = 5000;

}  // namespace

bool ConsoleIsOurOwn() {
  // 0 without a console; more than 1 when a console window's shell shares it.
  DWORD processes[2] = {};
  return GetConsoleProcessList(processes, 2) == 1;
}

void ReleaseOwnConsole() {
  if (!ConsoleIsOurOwn()) return;
  if (const HWND window = GetConsoleWindow()) ShowWindow(window, SW_HIDE);
  FreeConsole();
}

std::uint32_t ConsoleCloseWaitMs(std::uint32_t hungAppTimeoutMs) {
  return std::max(hungAppTimeoutMs > 1000 ? hungAppTimeoutMs - 1000 : 0, hungAppTimeoutMs / 2);
}

std::uint32_t ConsoleCloseWaitMs() {
  UINT timeout = 0;
  if (!SystemParametersInfoW(SPI_GETHUNGAPPTIMEOUT, 0, &timeout, 0) || timeout == 0) {
    timeout = kDefaultHungAppTimeoutMs;
  }
  return ConsoleCloseWaitMs(timeout);
}

void MarkStateSaved() {
  if (gStateSaved != nullptr) SetEvent(gStateSaved);
}

bool AwaitStateSaved() {
  return gStateSaved != nullptr &&
         WaitForSingleObject(gStateSaved, ConsoleCloseWaitMs()) == WAIT_OBJECT_0;
}

}  // namespace quillon
