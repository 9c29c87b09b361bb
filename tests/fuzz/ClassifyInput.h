// The input of the classification targets: two bytes of sequence number, then
// the datagram as a receive would put it into the reply area.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "net/IdException.h"
#include "net/IdIcmpClient.h"

namespace quillon::fuzz {

// Classifies the input; false when it was too short to hold the sequence
// number, or the classification matched nothing or raised its exception.
inline bool ClassifyInput(TIdIcmpClient& client, const std::uint8_t* data, std::size_t size,
                          TReplyStatus& record) {
  if (size < 2) return false;
  client.NextSequence = static_cast<std::uint16_t>(data[0] | (data[1] << 8));
  data += 2;
  size -= 2;
  client.ReplyArea.fill(0);
  const std::size_t kept = std::min(size, client.ReplyArea.size());
  if (kept > 0) std::memcpy(client.ReplyArea.data(), data, kept);
  try {
    // The count as the socket reports it: it may claim more than the area holds.
    return client.ClassifyPacket(static_cast<int>(size), record);
  } catch (const EIdIcmpException&) {
    return false;
  }
}

}  // namespace quillon::fuzz
