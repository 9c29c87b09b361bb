// The desktop program: the Qt application with the main window and the About
// window. app/main.cpp calls it when a display is present.
#pragma once

namespace quillon {

// Runs the desktop program until its main window is closed; the exit code.
int RunDesktop(int argc, char** argv);

class TMainWindow;
// Shows the window and runs the application until the window closes. The
// process then ends at once if workers are still under way, as waiting for
// them could take three time-outs.
int RunMainWindow(TMainWindow& window);

}  // namespace quillon
