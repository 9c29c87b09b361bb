// The window module (libquillon-window.so): the desktop program, built as a
// module of its own so that quillon itself, and every run in the terminal, goes
// without the window toolkit. quillon loads it only once it has decided to open
// the window, and calls its one exported function.
#pragma once

// Runs the desktop program until its main window is closed; the exit code.
extern "C" int QuillonWindowMain(int argc, char** argv);

namespace quillon {

inline constexpr const char* WindowMainName = "QuillonWindowMain";
using TWindowMain = int (*)(int argc, char** argv);

}  // namespace quillon
