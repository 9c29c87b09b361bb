// Arbitrary datagrams handed to the echo client's classification: it may raise
// its own two exceptions, but must never read outside its areas.
#include <cstdint>

#include "ClassifyInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto* client = [] {
    auto* made = new quillon::TIdIcmpClient();  // lives for the whole run
    // The target and identifier of the seeds' requests.
    made->Host = "198.18.0.9";
    made->EchoIdentifier = 0x1234;
    return made;
  }();
  quillon::TReplyStatus record;
  quillon::fuzz::ClassifyInput(*client, data, size, record);
  return 0;
}
