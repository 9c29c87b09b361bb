// The desktop program on Windows: the native main window and the About window.
// The program's entry calls it unless the terminal is asked for.
#pragma once

#include <string>
#include <vector>

namespace quillon {

// Runs the window until it is closed; the exit code. The parameters are the
// program's, without its own path.
int RunDesktop(const std::vector<std::string>& parameters);

}  // namespace quillon
