// The small box of "Other…" in the grid menu's Port submenu: one edit box for
// the port, OK and Cancel. The engine reads what was typed.
#pragma once

#include <string>

#include "winui/Win32.h"

namespace quillon {

// The title of the box, as the desktop lists it.
inline constexpr const char* PortDialogTitle = "Port";

// The text typed (UTF-8), empty when cancelled; the box starts with current
// when it is a port (0: the method's default, an empty box).
std::string AskPortText(::HWND owner, int current);

}  // namespace quillon
