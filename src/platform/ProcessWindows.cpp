#include "platform/Process.h"

#include <windows.h>

namespace quillon {

std::uint32_t GetCurrentProcessId() {
  return static_cast<std::uint32_t>(::GetCurrentProcessId());
}

}  // namespace quillon
