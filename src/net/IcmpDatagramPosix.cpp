#include "net/IcmpDatagramPosix.h"

#include <linux/errqueue.h>
#include <netinet/in.h>
#include <netinet/ip.h>

#include <cstring>
#include <optional>

namespace quillon {
namespace {

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

// What differs between the families' error queues.
template <typename TSockAddr>
struct TFamily;
template <>
struct TFamily<sockaddr_in> {
  static constexpr int Level = SOL_IP, Error = IP_RECVERR, Arrival = IP_TTL;
  static constexpr sa_family_t Family = AF_INET;
  static constexpr std::uint8_t Origin = SO_EE_ORIGIN_ICMP;
  static const void* Address(const sockaddr_in& at) { return &at.sin_addr; }
};
template <>
struct TFamily<sockaddr_in6> {
  static constexpr int Level = SOL_IPV6, Error = IPV6_RECVERR, Arrival = IPV6_HOPLIMIT;
  static constexpr sa_family_t Family = AF_INET6;
  static constexpr std::uint8_t Origin = SO_EE_ORIGIN_ICMP6;
  static const void* Address(const sockaddr_in6& at) { return &at.sin6_addr; }
};

// The address of a socket address of the family, when it is of that family.
template <typename TSockAddr, typename TBytes>
bool CopyAddress(const void* from, TBytes& to) {
  TSockAddr address{};
  std::memcpy(&address, from, sizeof address);
  if (reinterpret_cast<const sockaddr*>(&address)->sa_family != TFamily<TSockAddr>::Family)
    return false;
  std::memcpy(to.data(), TFamily<TSockAddr>::Address(address), to.size());
  return true;
}

// Reads an error-queue message: its extended error (and offender), its TTL or
// hop limit, and the original destination from its address.
template <typename TSockAddr, typename TReport>
bool ReadReport(const msghdr& message, TReport& report) {
  using F = TFamily<TSockAddr>;
  msghdr copy = message;
  bool found = false;
  for (cmsghdr* c = CMSG_FIRSTHDR(&copy); c != nullptr; c = CMSG_NXTHDR(&copy, c)) {
    if (c->cmsg_level != F::Level || c->cmsg_type != F::Error) continue;
    if (c->cmsg_len < CMSG_LEN(sizeof(sock_extended_err))) continue;
    sock_extended_err error{};
    std::memcpy(&error, CMSG_DATA(c), sizeof error);
    found = true;
    report.Errno = static_cast<std::int32_t>(error.ee_errno);
    report.FromIcmp = error.ee_origin == F::Origin;
    report.Type = error.ee_type;
    report.Code = error.ee_code;
    report.Info = error.ee_info;
    // The offender's address follows the extended error.
    if (c->cmsg_len >= CMSG_LEN(sizeof(sock_extended_err) + sizeof(TSockAddr)))
      report.OffenderKnown =
          CopyAddress<TSockAddr>(CMSG_DATA(c) + sizeof(sock_extended_err), report.Offender);
  }
  if (!found) return false;
  report.Ttl = ByteOr(ControlInt(message, F::Level, F::Arrival), Id_DEFAULT_REPLY_TTL);
  if (message.msg_name != nullptr && message.msg_namelen >= sizeof(TSockAddr))
    CopyAddress<TSockAddr>(message.msg_name, report.OriginalDestination);
  return true;
}

}  // namespace

std::uint8_t TtlFromControl(const msghdr& message, std::uint8_t fallback) {
  return ByteOr(ControlInt(message, SOL_IP, IP_TTL), fallback);
}

std::uint8_t HopLimitFromControl(const msghdr& message, std::uint8_t fallback) {
  return ByteOr(ControlInt(message, SOL_IPV6, IPV6_HOPLIMIT), fallback);
}

bool ReadErrorQueueMessage(const msghdr& message, TIcmpErrorReport& report) {
  return ReadReport<sockaddr_in>(message, report);
}

bool ReadErrorQueueMessageV6(const msghdr& message, TIcmp6ErrorReport& report) {
  return ReadReport<sockaddr_in6>(message, report);
}

}  // namespace quillon
