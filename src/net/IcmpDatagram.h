// Where the system gives no raw ICMP socket (an ICMP datagram socket on Linux,
// the system's ICMP service on Windows), the answers arrive in other shapes.
// These functions rebuild from them the IPv4 datagram a raw socket would have
// delivered, so that the layers above read all alike.
#pragma once

#include <cstdint>
#include <span>

#include "net/IdStack.h"

namespace quillon {

constexpr int Id_IP_HEADER_SIZE = 20;
constexpr int Id_ICMP_HEADER_SIZE = 8;
// The TTL written when the socket did not report the one the datagram came with.
constexpr std::uint8_t Id_DEFAULT_REPLY_TTL = 64;

// An entry of a datagram ICMP socket's error queue.
struct TIcmpErrorReport {
  bool FromIcmp = false;   // an ICMP message from the network (else a local error)
  std::int32_t Errno = 0;  // the error the system made of it
  std::uint8_t Type = 0;   // ICMP type and code of the message
  std::uint8_t Code = 0;
  std::uint32_t Info = 0;                   // the next-hop MTU for "fragmentation needed"
  TIdIPv4Bytes Offender{};                  // who sent the message
  TIdIPv4Bytes OriginalDestination{};       // where the request was going
  std::uint8_t Ttl = Id_DEFAULT_REPLY_TTL;  // of the message on arrival
};

// The RFC 1071 checksum of the bytes as a big-endian 16-bit value.
std::uint16_t InternetChecksum(std::span<const std::uint8_t> bytes);

// Writes a 20-byte IPv4 header without options for an ICMP datagram, with its
// header checksum.
void WriteIcmpIpHeader(std::uint8_t* header, std::uint16_t totalLength, std::uint8_t ttl,
                       const TIdIPv4Bytes& source, const TIdIPv4Bytes& destination);

// A reply: the IP header, then the message. Returns the bytes written; what
// does not fit into out is cut, as a short receive buffer cuts a datagram.
int BuildReplyDatagram(std::span<const std::uint8_t> message, const TIdIPv4Bytes& source,
                       std::uint8_t ttl, std::span<std::uint8_t> out);

// An ICMP error: the IP header from the offender, the ICMP error header, the
// request's IP header and the request as far as the error quoted it.
int BuildErrorDatagram(const TIcmpErrorReport& report, std::span<const std::uint8_t> request,
                       std::span<std::uint8_t> out);

}  // namespace quillon
