// The current process and its main (window) thread.
#pragma once

#include <cstdint>

namespace quillon {

std::uint32_t GetCurrentProcessId();

// Records the calling thread as the program's main thread, the one that runs the
// window-message loop. Called once at program entry; the first thread that asks
// is taken when nobody has called it.
void MarkMainThread();
bool IsMainThread();

}  // namespace quillon
