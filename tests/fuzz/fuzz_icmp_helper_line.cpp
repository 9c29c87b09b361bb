// Lines of every shape for both sides of the ICMP helper: reading never fails
// to decide, a request it accepts goes to a unicast address within the bounds,
// and whatever either reader accepts is written back in a spelling it reads
// back as the same thing.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "IcmpHelperRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillon;
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const TIcmpHelperParsedRequest parsed = ParseIcmpHelperRequest(line);
  if (parsed.Error == TIcmpHelperError::None) {
    const TIcmpHelperRequest& request = parsed.Request;
    if (request.Token == 0 || request.Data.Length > IcmpHelperMaxData) std::abort();
    if (request.Command == TIcmpHelperCommand::SendProbe &&
        (request.Ttl == 0 || request.TimeoutMs == 0 || !IsIcmpHelperUnicast(request.Destination)))
      std::abort();
    const std::string written = FormatIcmpHelperRequest(request);
    const TIcmpHelperParsedRequest again = ParseIcmpHelperRequest(written);
    if (again.Error != TIcmpHelperError::None || !(again.Request == request)) std::abort();
  }
  TIcmpHelperAnswer answer;
  if (ParseIcmpHelperAnswer(line, answer)) {
    TIcmpHelperAnswer again;
    if (!ParseIcmpHelperAnswer(FormatIcmpHelperAnswer(answer), again) || !(again == answer))
      std::abort();
  }
  return 0;
}
