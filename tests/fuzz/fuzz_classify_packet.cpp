// Arbitrary datagrams handed to the echo client's classification: it may raise
// its own two exceptions, but must never read outside its areas.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "net/IdException.h"
#include "net/IdIcmpClient.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto* client = new quillon::TIdIcmpClient();  // lives for the whole run
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
    // The count as the socket reports it: it may claim more than the area holds.
    client->ClassifyPacket(static_cast<int>(size), record);
  } catch (const quillon::EIdIcmpException&) {
  }
  return 0;
}
