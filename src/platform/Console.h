// The console of a Windows console program: started from a console window it
// shares that console; started from the desktop (a double-click) it is given a
// console of its own, which a program that opens a window should hide rather
// than leave standing. Linux has no such thing: false and nothing to do.
#pragma once

namespace quillon {

// True when this process has a console and no other process shares it.
bool ConsoleIsOurOwn();
// Closes the console when it is our own; a shared one stays.
void ReleaseOwnConsole();

}  // namespace quillon
