#include "net/IcmpDatagram.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace quillon {
namespace {

void PutBigEndian16(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
  at[1] = static_cast<std::uint8_t>(value & 0xFF);
}

// Copies as much of the piece as still fits at position 'at' of out; returns
// the position after the piece, whether it fitted or not.
std::size_t Put(std::span<std::uint8_t> out, std::size_t at, std::span<const std::uint8_t> piece) {
  if (at < out.size()) {
    const std::size_t count = std::min(piece.size(), out.size() - at);
    std::memcpy(out.data() + at, piece.data(), count);
  }
  return at + piece.size();
}

// The folded one's-complement sum of big-endian 16-bit words, an odd last byte
// padded with zero, added to a running sum.
std::uint32_t OnesComplementSum(std::span<const std::uint8_t> bytes, std::uint32_t sum) {
  std::size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2)
    sum += static_cast<std::uint32_t>(bytes[i] << 8 | bytes[i + 1]);
  if (i < bytes.size()) sum += static_cast<std::uint32_t>(bytes[i] << 8);
  while ((sum >> 16) != 0) sum = (sum & 0xFFFF) + (sum >> 16);
  return sum;
}

int WrittenLength(std::span<std::uint8_t> out, std::size_t length) {
  return static_cast<int>(std::min(out.size(), length));
}

// The echo reply message for the request: its identifier and sequence number
// and the data that came back.
std::vector<std::uint8_t> EchoReplyMessage(std::span<const std::uint8_t> request,
                                           std::span<const std::uint8_t> data, bool v6) {
  std::vector<std::uint8_t> message(Id_ICMP_HEADER_SIZE + data.size());
  message[0] = v6 ? Id_ICMPV6_ECHOREPLY : Id_ICMP_ECHOREPLY;
  if (request.size() >= static_cast<std::size_t>(Id_ICMP_HEADER_SIZE))
    std::memcpy(message.data() + 4, request.data() + 4, 4);  // identifier and sequence
  std::copy(data.begin(), data.end(), message.begin() + Id_ICMP_HEADER_SIZE);
  if (v6) return message;
  PutBigEndian16(message.data() + 2, InternetChecksum(message));
  return message;
}

int BuildError(const TIcmpErrorReport& report, std::span<const std::uint8_t> request,
               std::span<std::uint8_t> out) {
  return BuildErrorDatagram(report, request, out);
}
int BuildError(const TIcmp6ErrorReport& report, std::span<const std::uint8_t> request,
               std::span<std::uint8_t> out) {
  return BuildErrorDatagramV6(report, request, out);
}
int BuildReply(std::span<const std::uint8_t> message, const TIdIPv4Bytes& source, std::uint8_t ttl,
               std::span<std::uint8_t> out) {
  return BuildReplyDatagram(message, source, ttl, out);
}
int BuildReply(std::span<const std::uint8_t> message, const TIdIPv6Bytes& source,
               std::uint8_t hopLimit, std::span<std::uint8_t> out) {
  return BuildReplyDatagramV6(message, source, hopLimit, out);
}

template <typename TAddressBytes>
std::vector<std::uint8_t> Rebuild(const TEchoAnswerOf<TAddressBytes>& answer,
                                  std::span<const std::uint8_t> request,
                                  const TAddressBytes& destination) {
  constexpr bool v6 = std::is_same_v<TAddressBytes, TIdIPv6Bytes>;
  std::vector<std::uint8_t> datagram(65535);
  int length = 0;
  if (answer.Reply) {
    length =
        BuildReply(EchoReplyMessage(request, answer.Data, v6), answer.From, answer.Ttl, datagram);
  } else {
    TIcmpErrorReportOf<TAddressBytes> report;
    report.FromIcmp = true;
    report.Type = answer.Type;
    report.Code = answer.Code;
    report.Offender = answer.From;
    report.OriginalDestination = destination;
    report.Ttl = answer.Ttl;
    length = BuildError(report, request, datagram);
  }
  datagram.resize(static_cast<std::size_t>(length));
  return datagram;
}

}  // namespace

std::uint16_t InternetChecksum(std::span<const std::uint8_t> bytes) {
  return static_cast<std::uint16_t>(~OnesComplementSum(bytes, 0) & 0xFFFF);
}

void WriteIcmpIpHeader(std::uint8_t* header, std::uint16_t totalLength, std::uint8_t ttl,
                       const TIdIPv4Bytes& source, const TIdIPv4Bytes& destination) {
  std::memset(header, 0, Id_IP_HEADER_SIZE);
  header[0] = 0x45;  // version 4, five 32-bit words
  PutBigEndian16(header + 2, totalLength);
  header[8] = ttl;
  header[9] = Id_IPPROTO_ICMP;
  std::memcpy(header + 12, source.data(), source.size());
  std::memcpy(header + 16, destination.data(), destination.size());
  PutBigEndian16(header + 10, InternetChecksum({header, Id_IP_HEADER_SIZE}));
}

int BuildReplyDatagram(std::span<const std::uint8_t> message, const TIdIPv4Bytes& source,
                       std::uint8_t ttl, std::span<std::uint8_t> out) {
  const std::size_t total = Id_IP_HEADER_SIZE + message.size();
  std::uint8_t header[Id_IP_HEADER_SIZE];
  // The destination was this host; which of its addresses is not reported.
  WriteIcmpIpHeader(header, static_cast<std::uint16_t>(std::min<std::size_t>(total, 0xFFFF)), ttl,
                    source, TIdIPv4Bytes{});
  Put(out, Put(out, 0, header), message);
  return WrittenLength(out, total);
}

int BuildErrorDatagram(const TIcmpErrorReport& report, std::span<const std::uint8_t> request,
                       std::span<std::uint8_t> out) {
  constexpr std::size_t kHeaders = Id_IP_HEADER_SIZE + Id_ICMP_HEADER_SIZE + Id_IP_HEADER_SIZE;
  const std::size_t total = kHeaders + request.size();
  std::uint8_t headers[kHeaders] = {};
  std::uint8_t* const outer = headers;
  std::uint8_t* const icmp = headers + Id_IP_HEADER_SIZE;
  std::uint8_t* const inner = icmp + Id_ICMP_HEADER_SIZE;

  // The request's own header as the offender quoted it: only its length, protocol
  // and destination are known here.
  WriteIcmpIpHeader(
      inner,
      static_cast<std::uint16_t>(std::min<std::size_t>(Id_IP_HEADER_SIZE + request.size(), 0xFFFF)),
      0, TIdIPv4Bytes{}, report.OriginalDestination);
  icmp[0] = report.Type;
  icmp[1] = report.Code;
  if (report.Type == 3 && report.Code == 4) PutBigEndian16(icmp + 6, report.Info);
  // The ICMP checksum covers the header, the quoted header and the quoted request.
  // The headers are of even length, so an odd request is padded at the very end.
  const std::uint32_t sum = OnesComplementSum(
      request, OnesComplementSum({icmp, Id_ICMP_HEADER_SIZE + Id_IP_HEADER_SIZE}, 0));
  PutBigEndian16(icmp + 2, ~sum & 0xFFFF);
  WriteIcmpIpHeader(outer, static_cast<std::uint16_t>(std::min<std::size_t>(total, 0xFFFF)),
                    report.Ttl, report.Offender, TIdIPv4Bytes{});

  Put(out, Put(out, 0, headers), request);
  return WrittenLength(out, total);
}

void WriteIcmpV6Header(std::uint8_t* header, std::uint16_t payloadLength, std::uint8_t hopLimit,
                       const TIdIPv6Bytes& source, const TIdIPv6Bytes& destination) {
  std::memset(header, 0, Id_IPV6_HEADER_SIZE);
  header[0] = 0x60;  // version 6, no traffic class, no flow label
  PutBigEndian16(header + 4, payloadLength);
  header[6] = Id_IPPROTO_ICMPV6;
  header[7] = hopLimit;
  std::memcpy(header + 8, source.data(), source.size());
  std::memcpy(header + 24, destination.data(), destination.size());
}

int BuildReplyDatagramV6(std::span<const std::uint8_t> message, const TIdIPv6Bytes& source,
                         std::uint8_t hopLimit, std::span<std::uint8_t> out) {
  std::uint8_t header[Id_IPV6_HEADER_SIZE];
  WriteIcmpV6Header(header,
                    static_cast<std::uint16_t>(std::min<std::size_t>(message.size(), 0xFFFF)),
                    hopLimit, source, TIdIPv6Bytes{});
  Put(out, Put(out, 0, header), message);
  return WrittenLength(out, Id_IPV6_HEADER_SIZE + message.size());
}

int BuildErrorDatagramV6(const TIcmp6ErrorReport& report, std::span<const std::uint8_t> request,
                         std::span<std::uint8_t> out) {
  constexpr std::size_t kHeaders = Id_IPV6_HEADER_SIZE + Id_ICMP_HEADER_SIZE + Id_IPV6_HEADER_SIZE;
  std::uint8_t headers[kHeaders] = {};
  std::uint8_t* const icmp = headers + Id_IPV6_HEADER_SIZE;
  const auto clamp = [](std::size_t length) {
    return static_cast<std::uint16_t>(std::min<std::size_t>(length, 0xFFFF));
  };
  WriteIcmpV6Header(headers, clamp(Id_ICMP_HEADER_SIZE + Id_IPV6_HEADER_SIZE + request.size()),
                    report.Ttl, report.Offender, TIdIPv6Bytes{});
  icmp[0] = report.Type;
  icmp[1] = report.Code;
  if (report.Type == Id_ICMPV6_PACKET_TOO_BIG) {
    PutBigEndian16(icmp + 4, report.Info >> 16);
    PutBigEndian16(icmp + 6, report.Info & 0xFFFF);
  }
  // Only the quoted request's length, protocol and destination are known.
  WriteIcmpV6Header(icmp + Id_ICMP_HEADER_SIZE, clamp(request.size()), 0, TIdIPv6Bytes{},
                    report.OriginalDestination);
  Put(out, Put(out, 0, headers), request);
  return WrittenLength(out, kHeaders + request.size());
}

std::vector<std::uint8_t> RebuildEchoAnswer(const TEchoAnswer& answer,
                                            std::span<const std::uint8_t> request,
                                            const TIdIPv4Bytes& destination) {
  return Rebuild(answer, request, destination);
}

std::vector<std::uint8_t> RebuildEchoAnswer(const TEcho6Answer& answer,
                                            std::span<const std::uint8_t> request,
                                            const TIdIPv6Bytes& destination) {
  return Rebuild(answer, request, destination);
}

}  // namespace quillon
