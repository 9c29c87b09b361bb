#include "platform/Console.h"

namespace quillon {

bool ConsoleIsOurOwn() {
  return false;
}

void ReleaseOwnConsole() {}

}  // namespace quillon
