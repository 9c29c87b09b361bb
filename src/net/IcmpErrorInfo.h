// Windows' record of the ICMP error that failed a TCP connect, read with the
// socket option TCP_ICMP_ERROR_INFO once TCP_FAIL_CONNECT_ON_ICMP_ERROR made the
// connect fail on it. MinGW's headers lack both options and the record, so the
// layout is declared here, and decoding it is a pure function that builds and
// runs on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "net/IdIcmpClient.h"

namespace quillon {

// Options of level IPPROTO_TCP (Windows 10 2004 and later).
constexpr int Id_TCP_FAIL_CONNECT_ON_ICMP_ERROR = 18;
constexpr int Id_TCP_ICMP_ERROR_INFO = 19;

// ICMP_ERROR_INFO { SOCKADDR_INET srcaddress; IPPROTO protocol; UINT8 type; UINT8 code; }.
// SOCKADDR_INET is the union of sockaddr_in and sockaddr_in6 (28 bytes, family
// first, in Windows' numbering); IPPROTO is an enum of four bytes.
struct TIcmpErrorInfo {
  std::uint8_t SourceAddress[28];
  std::int32_t Protocol;
  std::uint8_t Type;
  std::uint8_t Code;
};
static_assert(sizeof(TIcmpErrorInfo) == 36 && offsetof(TIcmpErrorInfo, Protocol) == 28 &&
              offsetof(TIcmpErrorInfo, Type) == 32 && offsetof(TIcmpErrorInfo, Code) == 33);

// Windows' address family numbers inside SOCKADDR_INET.
constexpr std::uint16_t Id_WIN_AF_INET = 2;
constexpr std::uint16_t Id_WIN_AF_INET6 = 23;

// Fills record from the bytes the option gave, for a probe to target (its
// text, and its 4 or 16 address bytes), judged as every platform judges its
// probes' ICMP errors (JudgeProbeError); another message, which failed the
// connect all the same, is an error from its sender. False, record untouched,
// for bytes too short for the record, an unknown family, a protocol other than
// the family's ICMP, or a target of the other family.
bool DecodeIcmpErrorInfo(std::span<const std::uint8_t> bytes, const std::string& target,
                         std::span<const std::uint8_t> targetBytes, TReplyStatus& record);

// What a TCP probe's connect to target (address text and bytes) ended with,
// given its socket error (SO_ERROR; 0: connected) and, for a failure, the
// bytes TCP_ICMP_ERROR_INFO gave. True with reply filled: connected or refused
// is the target reached, a router's or the target's ICMP error is decoded, and
// Id_WSAETIMEDOUT (the connect gave up with nobody answering) is silence.
// False for a failure of this host's own, whose error the caller reports.
bool TcpConnectAnswer(std::int32_t socketError, std::span<const std::uint8_t> errorInfo,
                      const std::string& target, std::span<const std::uint8_t> targetBytes,
                      TReplyStatus& reply);

}  // namespace quillon
