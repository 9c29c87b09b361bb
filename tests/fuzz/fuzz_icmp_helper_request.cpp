// Command lines of every shape for the ICMP helper, split into words at NUL as
// the system hands them over: parsing never fails to decide, and what it
// accepts is exactly a request the client can ask for.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "IcmpHelperRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> words;
  for (std::size_t start = 0; start <= input.size();) {
    const std::size_t end = std::min(input.find('\0', start), input.size());
    words.push_back(input.substr(start, end - start));
    start = end + 1;
  }
  const quillon::TIcmpHelperRequest request = quillon::ParseIcmpHelperRequest(words);
  if (!request.Valid()) return 0;
  if (request.Count < 1 || request.Count > quillon::IcmpHelperMaxSockets) std::abort();
  const auto asked = quillon::IcmpHelperRequestWords(request.Kind, request.Count);
  if (words.size() != asked.size() || words[0] != asked[0] || words[1] != asked[1]) std::abort();
  return 0;
}
