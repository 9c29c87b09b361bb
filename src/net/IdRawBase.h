// A raw socket component: opens its socket (IPv4, or IPv6 for IPVersion ivIPv6)
// lazily, keeps the socket's TTL or hop limit at OutgoingTtl on every access,
// sends whole datagrams and receives one at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/IdComponent.h"
#include "net/IdIPAddress.h"
#include "net/IdSocketHandle.h"

namespace quillon {

class TIdRawBase : public TIdComponent {
 public:
  TIdRawBase();
  ~TIdRawBase() override;

  // The handle with a raw socket of IPVersion open and OutgoingTtl applied; a
  // socket of the other family is replaced.
  TIdSocketHandle& EnsureSocket();
  void SetOutgoingTtl(std::int32_t ttl);
  void SendRaw(const std::string& host, int port, const void* buffer, int length);
  // Byte count of one datagram, 0 when nothing came in time (or length <= 0 or no
  // buffer), -1 on a receive failure. A negative wait means ReceiveTimeout.
  int ReceiveRaw(void* buffer, int length, int waitMs);

  std::int32_t BufferSize() const;
  void SetBufferSize(std::int32_t size);

  std::string Host;
  // The address text the last SendRaw went to, and the host it was for.
  std::string SentHost;
  std::string SentAddress;
  std::int32_t Port = 0;
  std::int32_t ReceiveTimeout = 0;
  std::int32_t Protocol = 255;
  std::int32_t OutgoingTtl = 128;
  TIdIPVersion IPVersion = TIdIPVersion::ivIPv4;

 protected:
  TIdSocketHandle Socket;

 private:
  void ApplyTtl();

  TIdIPVersion socketVersion_ = TIdIPVersion::ivIPv4;
  std::unique_ptr<std::vector<std::uint8_t>> buffer_;
};

}  // namespace quillon
