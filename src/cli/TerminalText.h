// Text for a terminal. Host names come from the network (or a cache file) and may
// hold control characters, escape sequences or bytes that are no UTF-8; printed
// raw they could move the cursor, retitle the window or worse. Everything the
// terminal front end prints from the engine goes through SanitizeForTerminal.
#pragma once

#include <string>
#include <string_view>

namespace quillon {

// Valid UTF-8 with every control character replaced by a visible substitute:
// C0 controls by their control pictures (ESC becomes U+241B), DEL by U+2421, C1
// controls, line and paragraph separators, bidirectional overrides and every
// invalid byte by U+FFFD. Printable characters pass unchanged.
std::string SanitizeForTerminal(std::string_view text);

// Columns that sanitised text takes on a terminal (combining marks 0, East Asian
// wide characters 2, everything else 1).
int DisplayWidth(std::string_view text);

// Sanitised text cut to at most width columns (the cut marked with "…") and, unless
// it is cut, padded with blanks to exactly width columns, on the left when
// alignRight is set.
std::string FitToWidth(std::string_view text, int width, bool alignRight = false);

}  // namespace quillon
