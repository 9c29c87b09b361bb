#include "net/IcmpDatagramPosix.h"

#include <linux/errqueue.h>
#include <netinet/in.h>
#include <netinet/ip.h>

#include <cstring>

namespace quillon {
namespace {

TIdIPv4Bytes BytesOf(const in_addr& address) {
  TIdIPv4Bytes bytes{};
  std::memcpy(bytes.data(), &address.s_addr, bytes.size());
  return bytes;
}

}  // namespace

std::uint8_t TtlFromControl(const msghdr& message, std::uint8_t fallback) {
  msghdr copy = message;
  for (cmsghdr* c = CMSG_FIRSTHDR(&copy); c != nullptr; c = CMSG_NXTHDR(&copy, c)) {
    if (c->cmsg_level == SOL_IP && c->cmsg_type == IP_TTL && c->cmsg_len >= CMSG_LEN(sizeof(int))) {
      int ttl = 0;
      std::memcpy(&ttl, CMSG_DATA(c), sizeof ttl);
      if (ttl >= 0 && ttl <= 255) return static_cast<std::uint8_t>(ttl);
    }
  }
  return fallback;
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

}  // namespace quillon
