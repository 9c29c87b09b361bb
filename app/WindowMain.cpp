// Entry of the window module. The module carries its own copy of the engine
// (only this function is exported), so it marks its own main thread and shuts
// its own socket layer down.
#include <type_traits>

#include "WindowModule.h"
#include "gui/DesktopApp.h"
#include "net/IdStackPosix.h"
#include "platform/Process.h"

extern "C" int QuillonWindowMain(int argc, char** argv) {
  using namespace quillon;
  static_assert(std::is_same_v<decltype(&QuillonWindowMain), TWindowMain>);
  MarkMainThread();
  const int status = RunDesktop(argc, argv);
  ShutdownSocketLayer();
  return status;
}
