// Arbitrary datagrams handed to the echo client's ICMPv6 classification, in the
// shape the stack rebuilds (a 40-byte IPv6 header, then the message): it may
// raise its own exception for a short datagram, skips what is not its own, and
// never reads outside its areas.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "net/IdException.h"
#include "net/IdIcmpClient.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto* client = [] {
    auto* made = new quillon::TIdIcmpClient();  // lives for the whole run
    made->IPVersion = quillon::TIdIPVersion::ivIPv6;
    made->Host = "fe80::1%eth0";
    return made;
  }();
  if (size < 2) return 0;
  // The first two bytes pick the sequence number the datagram is matched against.
  client->NextSequence = static_cast<std::uint16_t>(data[0] | (data[1] << 8));
  data += 2;
  size -= 2;
  client->ReplyArea.fill(0);
  const std::size_t kept = std::min(size, client->ReplyArea.size());
  if (kept > 0) std::memcpy(client->ReplyArea.data(), data, kept);
  quillon::TReplyStatus record;
  try {
    if (client->ClassifyPacket(static_cast<int>(size), record) && record.ReplyFrom.empty())
      std::abort();  // a match always names who answered
  } catch (const quillon::EIdIcmpException&) {
  }
  return 0;
}
