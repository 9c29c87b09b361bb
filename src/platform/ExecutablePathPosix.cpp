#include "platform/ExecutablePath.h"

#include <unistd.h>

#include <vector>

namespace quillon {

std::string ExecutablePath() {
  // readlink does not say whether it truncated: grow until the answer fits.
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return {};
    if (static_cast<std::size_t>(length) < buffer.size()) {
      return std::string(buffer.data(), static_cast<std::size_t>(length));
    }
    if (buffer.size() >= 65536) return {};
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace quillon
