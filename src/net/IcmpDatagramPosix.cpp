#include "net/IcmpDatagramPosix.h"

#include <linux/errqueue.h>
#include <netinet/in.h>
#include <netinet/ip.h>

#include <cstring>
#include <optional>

namespace quillon {
namespace {

TIdIPv4Bytes BytesOf(const in_addr& address) {
  TIdIPv4Bytes bytes{};
  std::memcpy(bytes.data(), &address.s_addr, bytes.size());
  return bytes;
}

// The int of the first control message of the level and type, or nothing.
std::optional<int> ControlInt(const msghdr& message, int level, int type) {
  msghdr copy = message;
  for (cmsghdr* c = CMSG_FIRSTHDR(&copy); c != nullptr; c = CMSG_NXTHDR(&copy, c)) {
    if (c->cmsg_level == level && c->cmsg_type == type && c->cmsg_len >= CMSG_LEN(sizeof(int))) {
      int value = 0;
      std::memcpy(&value, CMSG_DATA(c), sizeof value);
      return value;
    }
  }
  return std::nullopt;
}

std::uint8_t ByteOr(std::optional<int> value, std::uint8_t fallback) {
  return value && *value >= 0 && *value <= 255 ? static_cast<std::uint8_t>(*value) : fallback;
}

}  // namespace

std::uint8_t TtlFromControl(const msghdr& message, std::uint8_t fallback) {
  return ByteOr(ControlInt(message, SOL_IP, IP_TTL), fallback);
}

std::uint8_t HopLimitFromControl(const msghdr& message, std::uint8_t fallback) {
  return ByteOr(ControlInt(message, SOL_IPV6, IPV6_HOPLIMIT), fallback);
}

bool ReadErrorQueueMessage(const msghdr& message, TIcmpErrorReport& report) {
  msghdr copy = message;
  bool found = false;
  for (cmsghdr* c = CMSG_FIRSTHDR(&copy); c != nullptr; c = CMSG_NXTHDR(&copy, c)) {
    if (c->cmsg_level != SOL_IP || c->cmsg_type != IP_RECVERR) continue;
    if (c->cmsg_len < CMSG_LEN(sizeof(sock_extended_err))) continue;
    sock_extended_err error{};
    std::memcpy(&error, CMSG_DATA(c), sizeof error);
    found = true;
    report.Errno = static_cast<std::int32_t>(error.ee_errno);
    report.FromIcmp = error.ee_origin == SO_EE_ORIGIN_ICMP;
    report.Type = error.ee_type;
    report.Code = error.ee_code;
    report.Info = error.ee_info;
    // The offender's address follows the extended error.
    if (c->cmsg_len >= CMSG_LEN(sizeof(sock_extended_err) + sizeof(sockaddr_in))) {
      sockaddr_in offender{};
      std::memcpy(&offender, CMSG_DATA(c) + sizeof(sock_extended_err), sizeof offender);
      if (offender.sin_family == AF_INET) report.Offender = BytesOf(offender.sin_addr);
    }
  }
  if (!found) return false;
  report.Ttl = TtlFromControl(message, Id_DEFAULT_REPLY_TTL);
  if (message.msg_name != nullptr && message.msg_namelen >= sizeof(sockaddr_in)) {
    sockaddr_in destination{};
    std::memcpy(&destination, message.msg_name, sizeof destination);
    if (destination.sin_family == AF_INET)
      report.OriginalDestination = BytesOf(destination.sin_addr);
  }
  return true;
}

bool ReadErrorQueueMessageV6(const msghdr& message, TIcmp6ErrorReport& report) {
  msghdr copy = message;
  bool found = false;
  for (cmsghdr* c = CMSG_FIRSTHDR(&copy); c != nullptr; c = CMSG_NXTHDR(&copy, c)) {
    if (c->cmsg_level != SOL_IPV6 || c->cmsg_type != IPV6_RECVERR) continue;
    if (c->cmsg_len < CMSG_LEN(sizeof(sock_extended_err))) continue;
    sock_extended_err error{};
    std::memcpy(&error, CMSG_DATA(c), sizeof error);
    found = true;
    report.Errno = static_cast<std::int32_t>(error.ee_errno);
    report.FromIcmp = error.ee_origin == SO_EE_ORIGIN_ICMP6;
    report.Type = error.ee_type;
    report.Code = error.ee_code;
    report.Info = error.ee_info;
    if (c->cmsg_len >= CMSG_LEN(sizeof(sock_extended_err) + sizeof(sockaddr_in6))) {
      sockaddr_in6 offender{};
      std::memcpy(&offender, CMSG_DATA(c) + sizeof(sock_extended_err), sizeof offender);
      if (offender.sin6_family == AF_INET6)
        std::memcpy(report.Offender.data(), &offender.sin6_addr, report.Offender.size());
    }
  }
  if (!found) return false;
  report.HopLimit = HopLimitFromControl(message, Id_DEFAULT_REPLY_TTL);
  if (message.msg_name != nullptr && message.msg_namelen >= sizeof(sockaddr_in6)) {
    sockaddr_in6 destination{};
    std::memcpy(&destination, message.msg_name, sizeof destination);
    if (destination.sin6_family == AF_INET6)
      std::memcpy(report.OriginalDestination.data(), &destination.sin6_addr,
                  report.OriginalDestination.size());
  }
  return true;
}

}  // namespace quillon
