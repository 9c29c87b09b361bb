// Any history file: the lines read hold no line ending and no zero byte, and
// writing them and reading them back gives the same lines.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "trace/HostHistory.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> lines = quillon::ParseHostHistory(text);
  for (const auto& line : lines) {
    if (line.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) std::abort();
  }
  if (quillon::ParseHostHistory(quillon::FormatHostHistory(lines)) != lines) std::abort();
  return 0;
}
