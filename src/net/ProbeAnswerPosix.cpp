#include "net/ProbeAnswerPosix.h"

#include <cerrno>

#include "net/IcmpDatagram.h"
#include "net/IcmpDatagramPosix.h"
#include "net/IdStackConsts.h"
#include "net/TransportProbe.h"

namespace quillon {
namespace {

// The ICMP numbers that differ between the families.
struct TIcmpNumbers {
  std::uint8_t TimeExceeded;
  std::uint8_t Unreachable;
  std::uint8_t PortUnreachable;
};
constexpr TIcmpNumbers kIcmp4{Id_ICMP_TIMXCEED, Id_ICMP_UNREACH, 3};
constexpr TIcmpNumbers kIcmp6{Id_ICMPV6_TIMXCEED, Id_ICMPV6_UNREACH, Id_ICMPV6_UNREACH_PORT};

std::string DottedText(const TIdIPv4Bytes& bytes) {
  return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
         std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
}

// Whether the sender is the target, whose text may carry a zone.
bool IsTargetAddress(const TIdIPv4Bytes& sender, const std::string& target) {
  return !IsIPv6Text(target) && DottedText(sender) == target;
}
bool IsTargetAddress(const TIdIPv6Bytes& sender, const std::string& target) {
  TIdIPv6Address parsed;
  return IsIPv6Text(target) && ParseIPv6Text(target, parsed) && parsed.Bytes == sender;
}
std::string SenderText(const TIdIPv4Bytes& sender) {
  return DottedText(sender);
}
std::string SenderText(const TIdIPv6Bytes& sender) {
  return IPv6ToText(sender);
}

template <typename TReport>
bool Judge(const TReport& report, const TIcmpNumbers& numbers, std::uint8_t ttl,
           const std::string& target, TReplyStatus& reply) {
  if (!report.FromIcmp || !report.OffenderKnown) return false;
  const bool fromTarget = IsTargetAddress(report.Offender, target);
  if (report.Type == numbers.Unreachable && report.Code == numbers.PortUnreachable && fromTarget) {
    reply = TargetReachedReply(target);
  } else if (report.Type == numbers.TimeExceeded || report.Type == numbers.Unreachable) {
    reply = TReplyStatus{};
    reply.ReplyFrom = fromTarget ? target : SenderText(report.Offender);
    reply.IcmpType = report.Type;
    reply.IcmpCode = report.Code;
    reply.StatusKind = report.Type == numbers.TimeExceeded ? TReplyStatusKind::rskTtlExpired
                                                           : TReplyStatusKind::rskUnreachable;
  } else {
    return false;
  }
  reply.ReplyTtl = ttl;
  return true;
}

}  // namespace

bool DecodeProbeError(const msghdr& record, const std::string& target, TReplyStatus& reply) {
  TIcmpErrorReport report4;
  if (ReadErrorQueueMessage(record, report4)) {
    return Judge(report4, kIcmp4, TtlFromControl(record, 0), target, reply);
  }
  TIcmp6ErrorReport report6;
  if (ReadErrorQueueMessageV6(record, report6)) {
    return Judge(report6, kIcmp6, HopLimitFromControl(record, 0), target, reply);
  }
  return false;
}

bool DecodeConnectOutcome(int error, const std::string& target, TReplyStatus& reply) {
  if (error != 0 && error != ECONNREFUSED) return false;
  reply = TargetReachedReply(target);
  return true;
}

}  // namespace quillon
