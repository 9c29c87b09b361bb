// One ICMP echo exchange over a raw socket: build the request, send it, wait for
// the message that answers it (echo reply, time exceeded, unreachable) and keep
// the outcome in LastReply. With IPVersion ivIPv6 the exchange is ICMPv6 echo,
// the same identifier, sequence and data after a type of 128.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "net/IdRawClient.h"

namespace quillon {

// The codes of an ICMPv6 destination unreachable that a trace tells apart.
constexpr std::uint8_t Id_ICMPV6_UNREACH_NOROUTE = 0;
constexpr std::uint8_t Id_ICMPV6_UNREACH_ADMIN = 1;
constexpr std::uint8_t Id_ICMPV6_UNREACH_ADDR = 3;
constexpr std::uint8_t Id_ICMPV6_UNREACH_PORT = 4;

enum class TReplyStatusKind : std::uint8_t {
  rskEchoReply = 0,
  rskError = 1,
  rskTimedOut = 2,
  rskUnreachable = 3,
  rskTtlExpired = 4,
};

struct TReplyStatus {
  std::int32_t ReceivedBytes = 0;
  std::string ReplyFrom;
  std::uint8_t IcmpType = 0;
  std::uint16_t SequenceNumber = 0;
  std::uint32_t RoundTripMicros = 0;
  std::uint8_t ReplyTtl = 0;  // the hop limit for IPv6
  std::uint8_t IcmpCode = 0;  // why unreachable: Id_ICMPV6_UNREACH_* for IPv6
  TReplyStatusKind StatusKind = TReplyStatusKind::rskEchoReply;
};

class TIdIcmpClient;
using TOnReplyEvent = std::function<void(TIdIcmpClient& sender, const TReplyStatus& reply)>;

constexpr int Id_ICMP_AREA_SIZE = 10240;

class TIdIcmpClient : public TIdRawClient {
 public:
  TIdIcmpClient();  // Protocol 1, NextSequence 3489, ReceiveTimeout 5000, PacketSize 32

  std::uint16_t PacketSize() const { return packetSize_; }
  void SetPacketSize(std::uint32_t size);  // clamped to 20..10240

  // One exchange; sequence 0 sends NextSequence without replacing it.
  void Echo(const std::string& payload, std::uint16_t sequence);
  const TReplyStatus& LastReply() const { return lastReply_; }

  TOnReplyEvent OnReply;

  // The steps of an exchange, open for tests.
  void BuildRequest(const std::string& payload);
  void SendRequest();
  void AwaitReply(std::int32_t budgetMs, TReplyStatus& record);
  // Whether the datagram in ReplyArea answers the request (0 bytes: the time-out
  // record). Raises EIdIcmpException for a datagram shorter than its IP header
  // plus 8 bytes, or than the 20-byte IP header, and for other ICMP types. An
  // answer carries EchoIdentifier and NextSequence: an echo reply (or our own
  // request, seen when tracing this host) from the Host itself, or an error
  // whose quote is an echo request to the Host. Anything else, a quote cut
  // before the request's sequence number included, answers nothing.
  bool ClassifyPacket(int byteCount, TReplyStatus& record);
  // The same for the IPv6 datagram the stack rebuilds (a 40-byte IPv6 header,
  // then the ICMPv6 message): EIdIcmpException when shorter than both headers;
  // a type other than echo reply, time exceeded and unreachable is skipped.
  bool ClassifyPacketV6(int byteCount, TReplyStatus& record);

  std::uint16_t NextSequence = 3489;
  // Requests that went out whole: an exchange that raised before this grew
  // failed to send.
  std::uint32_t RequestsSent = 0;
  // The identifier an answer must carry, read as the sequence number is: ours
  // from BuildRequest, or the system's after SendRequest where it writes its own.
  std::uint16_t EchoIdentifier = 0;
  std::int32_t MessageLength = 0;
  std::array<std::uint8_t, Id_ICMP_AREA_SIZE> ReplyArea{};
  std::array<std::uint8_t, Id_ICMP_AREA_SIZE> RequestArea{};

 private:
  // Whether the address bytes (4 or 16, after the family of the Host) are the Host's.
  bool IsTarget(const std::uint8_t* address);

  std::uint16_t packetSize_ = 32;
  // The Host's address as last parsed (none: size 0), kept while it stays the same.
  std::string targetText_;
  std::array<std::uint8_t, 16> targetBytes_{};
  std::size_t targetSize_ = 0;
  bool targetKnown_ = false;
  TReplyStatus lastReply_;
};

// The RFC 1071 Internet checksum of the bytes, as stored at bytes 2..3 (least
// significant byte first puts it on the wire in network order).
std::uint16_t IcmpChecksum(const std::uint8_t* data, int length);

}  // namespace quillon
