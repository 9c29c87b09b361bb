#include "net/ProbeAnswerPosix.h"

#include <cerrno>

#include "net/IcmpDatagram.h"
#include "net/IcmpDatagramPosix.h"
#include "net/IdStackConsts.h"
#include "net/TransportProbe.h"

namespace quillon {
namespace {

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
bool Judge(const TReport& report, bool ipv6, std::uint8_t ttl, const std::string& target,
           TReplyStatus& reply) {
  if (!report.FromIcmp || !report.OffenderKnown) return false;
  if (!JudgeProbeError(ipv6, report.Type, report.Code, SenderText(report.Offender),
                       IsTargetAddress(report.Offender, target), target, reply))
    return false;
  reply.ReplyTtl = ttl;
  return true;
}

}  // namespace

bool DecodeProbeError(const msghdr& record, const std::string& target, TReplyStatus& reply) {
  TIcmpErrorReport report4;
  if (ReadErrorQueueMessage(record, report4)) {
    return Judge(report4, false, TtlFromControl(record, 0), target, reply);
  }
  TIcmp6ErrorReport report6;
  if (ReadErrorQueueMessageV6(record, report6)) {
    return Judge(report6, true, HopLimitFromControl(record, 0), target, reply);
  }
  return false;
}

bool DecodeConnectOutcome(int error, const std::string& target, TReplyStatus& reply) {
  if (error != 0 && error != ECONNREFUSED) return false;
  reply = TargetReachedReply(target);
  return true;
}

}  // namespace quillon
