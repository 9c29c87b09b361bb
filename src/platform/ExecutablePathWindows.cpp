#include "platform/ExecutablePath.h"

#include <windows.h>

#include <vector>

#include "platform/WideText.h"

namespace quillon {

std::string ExecutablePath() {
  // The wide call, so that a folder name outside the ANSI code page survives;
  // it cuts the name silently when the buffer is short: grow until it fits.
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return Utf8FromWide({buffer.data(), length});
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace quillon
