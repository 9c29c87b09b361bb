// Where the system gives no raw ICMP socket (an ICMP datagram socket on Linux,
// the system's ICMP service on Windows), the answers arrive in other shapes.
// These functions rebuild from them the IPv4 datagram a raw socket would have
// delivered, so that the layers above read all alike. An IPv6 socket never
// hands over the IPv6 header, raw or not: for IPv6 every path rebuilds a 40-byte
// IPv6 header in front of the ICMPv6 message.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "net/IdIPAddress.h"
#include "net/IdStack.h"

namespace quillon {

constexpr int Id_IP_HEADER_SIZE = 20;
constexpr int Id_ICMP_HEADER_SIZE = 8;
// The TTL written when the socket did not report the one the datagram came with.
constexpr std::uint8_t Id_DEFAULT_REPLY_TTL = 64;

// An ICMP error about one of our requests, however the system reported it (an
// entry of a datagram ICMP socket's error queue), with addresses of one family.
template <typename TAddressBytes>
struct TIcmpErrorReportOf {
  bool FromIcmp = false;   // an ICMP message from the network (else a local error)
  std::int32_t Errno = 0;  // the error the system made of it
  std::uint8_t Type = 0;   // ICMP type and code of the message
  std::uint8_t Code = 0;
  std::uint32_t Info = 0;    // the next-hop MTU for "fragmentation needed", "packet too big"
  TAddressBytes Offender{};  // who sent the message
  bool OffenderKnown = false;               // the report named the sender (else Offender is zero)
  TAddressBytes OriginalDestination{};      // where the request was going
  std::uint8_t Ttl = Id_DEFAULT_REPLY_TTL;  // of the message on arrival (IPv6: its hop limit)
};
using TIcmpErrorReport = TIcmpErrorReportOf<TIdIPv4Bytes>;
using TIcmp6ErrorReport = TIcmpErrorReportOf<TIdIPv6Bytes>;

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

constexpr int Id_IPV6_HEADER_SIZE = 40;

// Writes a 40-byte IPv6 header for an ICMPv6 payload of the length.
void WriteIcmpV6Header(std::uint8_t* header, std::uint16_t payloadLength, std::uint8_t hopLimit,
                       const TIdIPv6Bytes& source, const TIdIPv6Bytes& destination);

// Any ICMPv6 message as it arrived (a reply, or an error with its quote): the
// IPv6 header, then the message; the destination is left all zero. Bytes
// written, cut to out as BuildReplyDatagram cuts.
int BuildReplyDatagramV6(std::span<const std::uint8_t> message, const TIdIPv6Bytes& source,
                         std::uint8_t hopLimit, std::span<std::uint8_t> out);

// An ICMPv6 error: the IPv6 header from the offender, the ICMPv6 error header,
// the request's IPv6 header and the request as far as it was quoted. The
// ICMPv6 checksum stays zero: its pseudo-header needs our own address, which
// the reports do not give, and nothing above checks it.
int BuildErrorDatagramV6(const TIcmp6ErrorReport& report, std::span<const std::uint8_t> request,
                         std::span<std::uint8_t> out);

// An answer to one of our echo requests as a service reports it (the system's
// ICMP service on Windows, the ICMP helper on Linux): an echo reply with its
// data, or an ICMP (ICMPv6) error of the type and code.
template <typename TAddressBytes>
struct TEchoAnswerOf {
  bool Reply = true;
  std::uint8_t Type = 0;  // of an error
  std::uint8_t Code = 0;
  TAddressBytes From{};
  std::uint8_t Ttl = Id_DEFAULT_REPLY_TTL;  // IPv6: the hop limit
  std::span<const std::uint8_t> Data;       // of a reply
};
using TEchoAnswer = TEchoAnswerOf<TIdIPv4Bytes>;
using TEcho6Answer = TEchoAnswerOf<TIdIPv6Bytes>;

// The datagram a raw socket would have read for the answer to request (the
// ICMP or ICMPv6 echo message we sent to destination): a reply carries the
// request's identifier and sequence number and the data that came back; an
// error quotes the request, sent to destination. ICMP's checksums are filled
// in; ICMPv6's stay zero, as in BuildErrorDatagramV6.
std::vector<std::uint8_t> RebuildEchoAnswer(const TEchoAnswer& answer,
                                            std::span<const std::uint8_t> request,
                                            const TIdIPv4Bytes& destination);
std::vector<std::uint8_t> RebuildEchoAnswer(const TEcho6Answer& answer,
                                            std::span<const std::uint8_t> request,
                                            const TIdIPv6Bytes& destination);

}  // namespace quillon
