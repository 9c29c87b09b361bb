// A build without the window (QUILLON_BUILD_GUI=OFF): the terminal alone.
#include <cstdlib>

#include "OpenWindow.h"

namespace quillon {

const bool WindowBuilt = false;

const char* WindowDisplay() {
  return std::getenv("DISPLAY");
}

std::optional<int> OpenWindow(int, char**, const TCliOptions&) {
  return std::nullopt;
}

}  // namespace quillon
