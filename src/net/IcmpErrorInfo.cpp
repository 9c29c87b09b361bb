#include "net/IcmpErrorInfo.h"

#include <algorithm>
#include <string>

#include "net/IdIPAddress.h"
#include "net/IdStackConsts.h"
#include "net/TransportProbe.h"

namespace quillon {
namespace {

std::uint16_t Le16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}
std::uint32_t Le32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// Where the address lies in sockaddr_in and sockaddr_in6, and sockaddr_in6's scope id.
constexpr std::size_t kV4AddressAt = 4;
constexpr std::size_t kV6AddressAt = 8;
constexpr std::size_t kV6ScopeIdAt = 24;

}  // namespace

bool DecodeIcmpErrorInfo(std::span<const std::uint8_t> bytes, const std::string& target,
                         std::span<const std::uint8_t> targetBytes, TReplyStatus& record) {
  if (bytes.size() < sizeof(TIcmpErrorInfo)) return false;
  const std::uint8_t* info = bytes.data();
  const std::uint16_t family = Le16(info);
  const bool ipv6 = family == Id_WIN_AF_INET6;
  if (!ipv6 && family != Id_WIN_AF_INET) return false;
  const auto protocol = static_cast<std::int32_t>(Le32(info + offsetof(TIcmpErrorInfo, Protocol)));
  if (protocol != (ipv6 ? Id_IPPROTO_ICMPV6 : Id_IPPROTO_ICMP)) return false;
  const std::size_t size = ipv6 ? 16 : 4;
  if (targetBytes.size() != size) return false;

  const std::uint8_t* address = info + (ipv6 ? kV6AddressAt : kV4AddressAt);
  const std::uint8_t type = info[offsetof(TIcmpErrorInfo, Type)];
  const std::uint8_t code = info[offsetof(TIcmpErrorInfo, Code)];
  std::string sender;
  if (ipv6) {
    TIdIPv6Bytes v6{};
    std::copy(address, address + size, v6.begin());
    sender = IPv6AddressText(v6, Le32(info + kV6ScopeIdAt));
  } else {
    sender = std::to_string(address[0]) + "." + std::to_string(address[1]) + "." +
             std::to_string(address[2]) + "." + std::to_string(address[3]);
  }
  const bool fromTarget = std::equal(address, address + size, targetBytes.begin());
  if (JudgeProbeError(ipv6, type, code, sender, fromTarget, target, record)) return true;
  // Another message failed the connect all the same: it is this probe's answer.
  record = TReplyStatus{};
  record.ReplyFrom = sender;
  record.IcmpType = type;
  record.IcmpCode = code;
  record.StatusKind = TReplyStatusKind::rskError;
  return true;
}

bool TcpConnectAnswer(std::int32_t socketError, std::span<const std::uint8_t> errorInfo,
                      const std::string& target, std::span<const std::uint8_t> targetBytes,
                      TReplyStatus& reply) {
  // The target's SYN-ACK or reset: it was reached.
  if (socketError == 0 || socketError == Id_WSAECONNREFUSED) {
    reply = TargetReachedReply(target);
    return true;
  }
  TReplyStatus decoded;
  if (DecodeIcmpErrorInfo(errorInfo, target, targetBytes, decoded)) {
    reply = decoded;
    return true;
  }
  if (socketError != Id_WSAETIMEDOUT) return false;
  reply = TReplyStatus{};
  reply.ReplyFrom = "0.0.0.0";
  reply.StatusKind = TReplyStatusKind::rskTimedOut;
  return true;
}

}  // namespace quillon
