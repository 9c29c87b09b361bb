// Fills the engine's hop table directly with answering hops 1..n (the given
// times, in milliseconds) and lets the engine refresh its grid, as a finished
// route would: for tests of what the windows draw.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "trace/TraceRouteForm.h"

namespace quillon {

// Addresses and names not given are 10.0.0.<hop> and hop<hop>.test.
inline void ShowHops(TTraceRouteForm& form, const std::vector<std::uint32_t>& times,
                     const std::vector<std::string>& addresses = {},
                     const std::vector<std::string>& names = {}) {
  form.ResetGrid();
  for (std::size_t i = 0; i < times.size(); ++i) {
    THopEntry& entry = form.Hops[i + 1];
    entry.Address = i < addresses.size() ? addresses[i] : "10.0.0." + std::to_string(i + 1);
    entry.HostName = i < names.size() ? names[i] : "hop" + std::to_string(i + 1) + ".test";
    entry.HopNo = static_cast<std::int32_t>(i + 1);
    entry.Time = times[i];
    entry.Filled = true;
  }
  form.HighestAnsweringHop = static_cast<std::int32_t>(times.size());
  form.RouteEndFound = true;
  form.RouteLength = static_cast<std::int32_t>(times.size());
  form.RefreshGrid();
}

}  // namespace quillon
