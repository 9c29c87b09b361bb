// What the Windows desktop offers the windows beyond themselves: the compiled
// help file in the system's help viewer, and web addresses in the browser
// registered for HTML files.
#pragma once

#include <string>

#include "trace/AboutText.h"

namespace quillon {

// The help file's absolute path, fixed when the program is built and set at
// start-up.
void SetHelpFile(const std::string& path);
const std::string& HelpFile();

// Opens the address with the program of the registered HTML-file open command.
// Nothing is reported when there is none or it fails: the link is a convenience.
void OpenWebAddress(const std::string& address);
// Opens the help file's table of contents in the help viewer, which reports a
// missing file itself, if at all.
void ShowHelp();

}  // namespace quillon
