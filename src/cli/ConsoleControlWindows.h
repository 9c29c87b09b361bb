// The console's control handler (Windows): Ctrl-C stops the trace as the Stop
// button does, the other events quit; closing the console, logoff and shutdown
// also wait, within the time the system allows (ConsoleCloseWaitMs), until the
// session has saved the name cache (MarkStateSaved), since the process ends
// when the handler returns.
#pragma once

#include "cli/TerminalSession.h"
// After the engine's headers, whose message names windows.h takes as macros.
#include <windows.h>

namespace quillon {

// The session the handler speaks to, or nullptr for none.
void ListenToConsole(TTerminalSession* session);
BOOL WINAPI OnConsoleControl(DWORD event);

}  // namespace quillon
