// Any command text: the parser returns, and a host it reports is never empty
// and holds no blank.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "trace/CommandLine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string host;
  std::int32_t hops = 0;
  std::int32_t timeOut = 0;
  const bool found = quillon::ParseCommandLine(text, host, hops, timeOut);
  if (found && (host.empty() || host.find(' ') != std::string::npos)) std::abort();
  return 0;
}
