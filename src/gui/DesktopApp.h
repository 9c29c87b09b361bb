// The desktop program: the Qt application with the main window and the About
// window. app/main.cpp calls it when a display is present.
#pragma once

namespace quillon {

// Runs the desktop program until its main window is closed; the exit code.
int RunDesktop(int argc, char** argv);

}  // namespace quillon
