// The Qt window, loaded from its module only now, so that nothing of the window
// toolkit is loaded before or for a terminal run. The module's place is fixed
// relative to the executable, the same in the build tree as installed.
#include <cstdlib>
#include <filesystem>

#include "OpenWindow.h"
#include "WindowModule.h"
#include "platform/ExecutablePath.h"
#include "platform/SharedModule.h"

namespace quillon {

const bool WindowBuilt = true;

const char* WindowDisplay() {
  return std::getenv("DISPLAY");
}

std::optional<int> OpenWindow(int argc, char** argv, const TCliOptions&) {
  const std::filesystem::path self = ExecutablePath();
  if (self.empty()) return std::nullopt;
  const std::filesystem::path module = self.parent_path() / QUILLON_WINDOW_MODULE;
  void* windowMain = LoadModuleFunction(module.lexically_normal(), WindowMainName);
  if (windowMain == nullptr) return std::nullopt;
  return reinterpret_cast<TWindowMain>(windowMain)(argc, argv);
}

}  // namespace quillon
