// What the desktop offers the windows beyond themselves: the help pages and
// web addresses, both opened in the user's browser.
#pragma once

#include <QUrl>
#include <functional>
#include <string>

#include "trace/AboutText.h"

namespace quillon {

// Opens a URL outside the program; true when the desktop took it. The default
// hands it to the desktop's browser; tests put a recorder in its place.
using TUrlOpener = std::function<bool(const QUrl& url)>;
// An empty opener restores the desktop's.
void SetUrlOpener(TUrlOpener opener);

// The help page's absolute path, fixed when the program is built: the build
// tree's copy for the program run where it was built (which nobody installed),
// the installed page for any other copy.
std::string BuiltInHelpFile();
// Sets the page the Help button opens (BuiltInHelpFile() at start-up).
void SetHelpFile(const std::string& path);
const std::string& HelpFile();

// Opens the address in the browser. A failure is not reported: the link is a
// convenience and the desktop shows its own errors.
void OpenWebAddress(const std::string& address);
// Opens the help page's contents in the browser; a missing page is left to
// the browser to report. False when the desktop has nothing to open it with.
bool ShowHelp();
// What the window says then: how to get an opener, and where the page is.
std::string NoHelpOpenerText();

}  // namespace quillon
