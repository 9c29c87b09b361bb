// The desktop program on Windows: the native main window and the About window.
// The program's entry calls it unless the terminal is asked for.
#pragma once

#include "winui/Win32.h"

#include <string>
#include <vector>

namespace quillon {

// Runs the window until it is closed; the exit code. The parameters are the
// program's, without its own path.
int RunDesktop(const std::vector<std::string>& parameters);

// The console's control handler for a window started from a console: Ctrl+C
// and Ctrl+Break are ignored, and the console's close is the window's own
// close, waited for until the names are saved. CloseWithConsole installs it
// for the window (nullptr: removes it).
void CloseWithConsole(::HWND window);
BOOL WINAPI OnWindowConsoleControl(DWORD event);

}  // namespace quillon
