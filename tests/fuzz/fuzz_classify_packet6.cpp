// Arbitrary datagrams handed to the echo client's ICMPv6 classification, in the
// shape the stack rebuilds (a 40-byte IPv6 header, then the message): it may
// raise its own exception for a short datagram, skips what is not its own, and
// never reads outside its areas.
#include <cstdint>
#include <cstdlib>

#include "ClassifyInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto* client = [] {
    auto* made = new quillon::TIdIcmpClient();  // lives for the whole run
    made->IPVersion = quillon::TIdIPVersion::ivIPv6;
    made->Host = "fe80::1%eth0";
    made->EchoIdentifier = 0x3039;  // the seeds' requests
    return made;
  }();
  quillon::TReplyStatus record;
  // A match always names who answered.
  if (quillon::fuzz::ClassifyInput(*client, data, size, record) && record.ReplyFrom.empty())
    std::abort();
  return 0;
}
