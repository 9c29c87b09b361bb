// Any command text: the parser returns, a host it reports is never empty
// and holds no blank, and the probes in flight stay within 1..64.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "trace/CommandLine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  quillon::TCommandSettings settings;
  const bool found = quillon::ParseCommandLine(text, settings);
  const std::string& host = settings.Host;
  if (found && (host.empty() || host.find(' ') != std::string::npos)) std::abort();
  // Whatever the text, a run never gets a count of probes out of range.
  const int inFlight = settings.InFlight.Count();
  if (inFlight < 1 || inFlight > quillon::TProbesInFlight::Max) std::abort();
  return 0;
}
