#include "net/IdIcmpClient.h"

#include <algorithm>
#include <cstring>

#include "net/IcmpDatagram.h"
#include "net/IdException.h"
#include "net/IdStack.h"
#include "net/IdStackConsts.h"
#include "net/ProbeMethod.h"
#include "platform/Clock.h"
#include "platform/Process.h"

namespace quillon {
namespace {

constexpr int kIpHeaderSize = 20;  // the IP layer adds it; PacketSize counts it
constexpr int kIcmpHeaderSize = 8;
constexpr std::size_t kEchoFieldsSize = 12;  // type, code, checksum, identifier, sequence, tick
constexpr int kPayloadOffset = 20;           // the payload text starts after 8 zero bytes
constexpr std::uint16_t kMinPacketSize = 20;
constexpr std::uint16_t kMaxPacketSize = Id_ICMP_AREA_SIZE;

// The wire keeps the host order of the machine this protocol grew up on: least
// significant byte first, whatever the CPU.
void PutLe16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value & 0xFF);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void PutLe32(std::uint8_t* at, std::uint32_t value) {
  PutLe16(at, static_cast<std::uint16_t>(value & 0xFFFF));
  PutLe16(at + 2, static_cast<std::uint16_t>(value >> 16));
}

std::uint16_t GetLe16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

}  // namespace

std::uint16_t IcmpChecksum(const std::uint8_t* data, int length) {
  std::uint32_t sum = 0;
  int i = 0;
  for (; i + 1 < length; i += 2) sum += GetLe16(data + i);
  if (i < length) sum += data[i];  // an odd last byte, padded with a zero byte
  sum = (sum >> 16) + (sum & 0xFFFF);
  sum += sum >> 16;
  return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

TIdIcmpClient::TIdIcmpClient() {
  Protocol = Id_IPPROTO_ICMP;
  NextSequence = 3489;
  ReceiveTimeout = 5000;
  packetSize_ = 32;
  EchoIdentifier = static_cast<std::uint16_t>(GetCurrentProcessId() & 0xFFFF);
}

void TIdIcmpClient::SetPacketSize(std::uint32_t size) {
  packetSize_ =
      static_cast<std::uint16_t>(std::clamp<std::uint32_t>(size, kMinPacketSize, kMaxPacketSize));
}

void TIdIcmpClient::Echo(const std::string& payload, std::uint16_t sequence) {
  if (sequence != 0) NextSequence = sequence;
  BuildRequest(payload);
  const std::int64_t t0 = QueryPerformanceCounter();
  SendRequest();
  TReplyStatus record;
  AwaitReply(ReceiveTimeout, record);
  lastReply_ = record;
  const std::int64_t t1 = QueryPerformanceCounter();
  EnsureSocket().Close();
  lastReply_.RoundTripMicros = ElapsedMicros(t0, t1);

  if (OnReply) OnReply(*this, lastReply_);
  ++NextSequence;  // wraps from 65535 to 0
}

void TIdIcmpClient::BuildRequest(const std::string& payload) {
  MessageLength = packetSize_ - kIpHeaderSize;
  const auto length = static_cast<std::size_t>(MessageLength);
  std::uint8_t* message = RequestArea.data();
  std::memset(message, 0, length);

  // A message shorter than the header gets only as much of it as fits.
  std::array<std::uint8_t, kEchoFieldsSize> header{};
  const bool v6 = IPVersion == TIdIPVersion::ivIPv6;
  header[0] = v6 ? Id_ICMPV6_ECHO : Id_ICMP_ECHO;
  header[1] = 0;
  EchoIdentifier = static_cast<std::uint16_t>(GetCurrentProcessId() & 0xFFFF);
  PutLe16(&header[4], EchoIdentifier);
  PutLe16(&header[6], NextSequence);
  PutLe32(&header[8], GetTickCount());
  std::memcpy(message, header.data(), std::min(length, header.size()));

  auto next = payload.begin();
  for (std::size_t p = kPayloadOffset; p < length; ++p) {
    message[p] = next != payload.end() ? static_cast<std::uint8_t>(*next++) : std::uint8_t{'E'};
  }

  // The ICMPv6 checksum covers a pseudo-header with the source address, which
  // only the kernel knows: it fills the checksum in on raw and datagram sockets.
  if (v6) return;
  const std::uint16_t checksum = IcmpChecksum(message, MessageLength);
  if (length > 2) message[2] = static_cast<std::uint8_t>(checksum & 0xFF);
  if (length > 3) message[3] = static_cast<std::uint8_t>(checksum >> 8);
}

void TIdIcmpClient::SendRequest() {
  SendRaw(Host, Port, RequestArea.data(), MessageLength);
  ++RequestsSent;
  // An ICMP datagram socket sends its own identifier; the answers carry that.
  if (const auto system = Stack().SockEchoIdentifier(Socket.OsSocket)) EchoIdentifier = *system;
}

bool TIdIcmpClient::IsTarget(const std::uint8_t* address) {
  // A host name was looked up by the send; classifying never looks anything up.
  const std::string& text = Host == SentHost && !SentAddress.empty() ? SentAddress : Host;
  if (!targetKnown_ || targetText_ != text) {
    targetText_ = text;
    targetKnown_ = true;
    targetSize_ = 0;
    TIdIPv6Address parsed;
    TIdIPv4Bytes bytes{};
    if (IsIPv6Text(text)) {
      if (ParseIPv6Text(text, parsed)) {
        std::copy(parsed.Bytes.begin(), parsed.Bytes.end(), targetBytes_.begin());
        targetSize_ = parsed.Bytes.size();
      }
    } else if (Stack().ParseAddressText(SameText(text, "LOCALHOST") ? "127.0.0.1" : text, &bytes[0],
                                        &bytes[1], &bytes[2], &bytes[3])) {
      std::copy(bytes.begin(), bytes.end(), targetBytes_.begin());
      targetSize_ = bytes.size();
    }
  }
  const std::size_t size = IPVersion == TIdIPVersion::ivIPv6 ? 16 : 4;
  return targetSize_ == size && std::equal(address, address + size, targetBytes_.begin());
}

void TIdIcmpClient::AwaitReply(std::int32_t budgetMs, TReplyStatus& record) {
  ReplyArea.fill(0);
  const std::uint32_t start = GetTickCount();
  std::int32_t remaining = budgetMs;
  for (;;) {
    const int count = ReceiveRaw(ReplyArea.data(), Id_ICMP_AREA_SIZE, remaining);
    Stack().CheckSocketCall(count);
    if (ClassifyPacket(count, record)) return;
    // Unsigned subtraction keeps the elapsed time right across the wrap of the
    // 32-bit tick count.
    const std::uint32_t elapsed = GetTickCount() - start;
    const std::int64_t left = std::int64_t{budgetMs} - std::int64_t{elapsed};
    if (left <= 0) return;
    remaining = static_cast<std::int32_t>(left);
  }
}

bool TIdIcmpClient::ClassifyPacket(int byteCount, TReplyStatus& record) {
  if (byteCount == 0) {
    record.ReceivedBytes = 0;
    record.ReplyFrom = "0.0.0.0";
    record.IcmpType = 0;
    record.SequenceNumber = NextSequence;
    record.ReplyTtl = 0;
    record.IcmpCode = 0;
    record.StatusKind = TReplyStatusKind::rskTimedOut;
    return true;
  }
  if (IPVersion == TIdIPVersion::ivIPv6) return ClassifyPacketV6(byteCount, record);

  record.StatusKind = TReplyStatusKind::rskError;
  // Only the bytes that arrived, and never more than the area holds, may be read.
  const int available = std::min(byteCount, Id_ICMP_AREA_SIZE);
  const std::uint8_t* datagram = ReplyArea.data();
  const int headerLength = (datagram[0] & 0x0F) * 4;
  // The fixed IP header must be there too: the TTL and the source come from it.
  if (headerLength + kIcmpHeaderSize > available || available < kIpHeaderSize) {
    throw EIdIcmpException("Not enough bytes received");
  }

  const auto header = static_cast<std::size_t>(headerLength);
  const std::uint8_t type = datagram[header];
  switch (type) {
    case Id_ICMP_ECHOREPLY:
    case Id_ICMP_ECHO:
      record.StatusKind = TReplyStatusKind::rskEchoReply;
      break;
    case Id_ICMP_UNREACH:
      record.StatusKind = TReplyStatusKind::rskUnreachable;
      break;
    case Id_ICMP_TIMXCEED:
      record.StatusKind = TReplyStatusKind::rskTtlExpired;
      break;
    default:
      throw EIdIcmpException("Non-echo type response received");
  }

  // Whose answer it is: anyone may send us an echo reply, or an error quoting
  // another program's request or a datagram to elsewhere.
  const std::uint8_t* echo = datagram + header;
  if (record.StatusKind == TReplyStatusKind::rskEchoReply) {
    if (!IsTarget(datagram + 12)) return false;
  } else {
    // The copy of the request follows the 8-byte ICMP header: its own IP
    // header, then at least 8 bytes of the request. A message too short for
    // that answers nothing: what the area holds there is left over from an
    // earlier datagram or zero.
    const std::size_t quote = header + kIcmpHeaderSize;
    if (quote + kIpHeaderSize > static_cast<std::size_t>(available)) return false;
    const auto quoteHeader = static_cast<std::size_t>((datagram[quote] & 0x0F) * 4);
    if (quoteHeader < kIpHeaderSize ||
        quote + quoteHeader + kIcmpHeaderSize > static_cast<std::size_t>(available))
      return false;
    echo = datagram + quote + quoteHeader;
    if (datagram[quote + 9] != Id_IPPROTO_ICMP || echo[0] != Id_ICMP_ECHO ||
        !IsTarget(datagram + quote + 16))
      return false;
  }
  const std::uint16_t candidate = GetLe16(echo + 6);
  if (GetLe16(echo + 4) != EchoIdentifier || candidate != NextSequence) return false;

  record.ReceivedBytes = byteCount;
  record.ReplyFrom =
      Stack().AddrToText(TIdIPv4Bytes{datagram[12], datagram[13], datagram[14], datagram[15]});
  record.IcmpType = type;
  record.IcmpCode = datagram[header + 1];
  record.SequenceNumber = candidate;
  record.ReplyTtl = datagram[8];
  return true;
}

bool TIdIcmpClient::ClassifyPacketV6(int byteCount, TReplyStatus& record) {
  constexpr std::size_t kHeader = Id_IPV6_HEADER_SIZE;
  record.StatusKind = TReplyStatusKind::rskError;
  const auto available = static_cast<std::size_t>(std::min(byteCount, Id_ICMP_AREA_SIZE));
  const std::uint8_t* datagram = ReplyArea.data();
  if (available < kHeader + kIcmpHeaderSize) throw EIdIcmpException("Not enough bytes received");

  const std::uint8_t type = datagram[kHeader];
  TReplyStatusKind kind = TReplyStatusKind::rskError;
  std::size_t echoAt = kHeader;
  switch (type) {
    case Id_ICMPV6_ECHOREPLY:
      kind = TReplyStatusKind::rskEchoReply;
      if (!IsTarget(datagram + 8)) return false;
      break;
    case Id_ICMPV6_UNREACH:
    case Id_ICMPV6_TIMXCEED: {
      kind = type == Id_ICMPV6_UNREACH ? TReplyStatusKind::rskUnreachable
                                       : TReplyStatusKind::rskTtlExpired;
      // The quote: the request's IPv6 header, then its ICMPv6 header. A quote
      // with an extension header before the ICMPv6 one is no request of ours,
      // nor one to another destination.
      const std::size_t quote = kHeader + kIcmpHeaderSize;
      if (quote + kHeader > available || datagram[quote + 6] != Id_IPPROTO_ICMPV6 ||
          !IsTarget(datagram + quote + 24))
        return false;
      echoAt = quote + kHeader;
      if (echoAt + kIcmpHeaderSize > available || datagram[echoAt] != Id_ICMPV6_ECHO) return false;
      break;
    }
    default:
      return false;  // neighbour discovery and the like: not ours to judge
  }
  if (echoAt + kIcmpHeaderSize > available || GetLe16(datagram + echoAt + 4) != EchoIdentifier ||
      GetLe16(datagram + echoAt + 6) != NextSequence)
    return false;

  TIdIPv6Bytes source{};
  std::memcpy(source.data(), datagram + 8, source.size());
  // A link-local router answers on the link the request left by: the zone of
  // the target is its zone too.
  const std::string_view zone = IsLinkLocal(source) ? ZoneOfAddressText(Host) : "";
  record.StatusKind = kind;
  record.ReceivedBytes = byteCount;
  record.ReplyFrom = IPv6ToText(source, zone);
  record.IcmpType = type;
  record.IcmpCode = datagram[kHeader + 1];
  record.SequenceNumber = NextSequence;
  record.ReplyTtl = datagram[7];
  return true;
}

}  // namespace quillon
