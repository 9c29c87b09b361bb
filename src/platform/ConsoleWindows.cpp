#include "platform/Console.h"

#include <windows.h>

namespace quillon {

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

}  // namespace quillon
