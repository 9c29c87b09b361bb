// Entry of the window module. The module carries its own copy of the engine
// (only this function is exported), so it marks its own main thread and shuts
// its own socket layer down. No exception leaves it: the program on the other
// side has a C++ run-time of its own.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <type_traits>

#include "WindowModule.h"
#include "gui/DesktopApp.h"
#include "net/IdStackPosix.h"
#include "platform/Process.h"

extern "C" int QuillonWindowMain(int argc, char** argv) {
  using namespace quillon;
  static_assert(std::is_same_v<decltype(&QuillonWindowMain), TWindowMain>);
  MarkMainThread();
  int status = EXIT_FAILURE;
  try {
    status = RunDesktop(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
  } catch (...) {
    std::fputs("The window failed.\n", stderr);
  }
  ShutdownSocketLayer();
  return status;
}
