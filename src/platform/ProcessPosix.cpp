#include "platform/Process.h"

#include <unistd.h>

namespace quillon {

std::uint32_t GetCurrentProcessId() {
  return static_cast<std::uint32_t>(getpid());
}

}  // namespace quillon
