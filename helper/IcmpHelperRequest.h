// The language of the ICMP helper, both ways, one line per message. A Quillon
// process asks for nothing but what a ping socket would let it choose:
//
//   TOKEN send-probe ip-4|ip-6 ADDRESS [ttl N] [timeout MS] [data HEX] [scope N]
//   TOKEN cancel-probe
//   TOKEN check-support feature NAME
//
// and hears only about its own probes, each answer repeating its token:
//
//   TOKEN echo-reply from ADDRESS ttl N [data HEX]
//   TOKEN icmp-error from ADDRESS ttl N type N code N
//   TOKEN no-reply | send-failed errno N | feature-support support WORD
//   TOKEN unknown-command | invalid-argument | probes-exhausted
//
// The helper builds every echo request itself (its own identifier and sequence
// numbers); the caller gives no type, no source and no socket option. The
// functions here are pure: both sides, the tests and the fuzz target use them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillon {

// Answered to "check-support feature version"; the client refuses any other.
constexpr int IcmpHelperProtocolVersion = 2;
// Probes outstanding at once per helper: a trace asks for 64 at most.
constexpr int IcmpHelperMaxOutstanding = 128;
// Probes sent per second per helper, after a burst of IcmpHelperRateBurst.
constexpr int IcmpHelperRatePerSecond = 1000;
constexpr int IcmpHelperRateBurst = 128;
// Echo data per probe: a request fits an IPv6 minimum MTU unfragmented.
constexpr std::size_t IcmpHelperMaxData = 1232;
// How long a probe waits for its answer unless the request says otherwise.
constexpr int IcmpHelperDefaultTimeoutMs = 10000;
// The longest line either side writes (data in hex and the words around it).
constexpr std::size_t IcmpHelperMaxLine = 2 * IcmpHelperMaxData + 200;

// The helper's exit statuses: a bad command line, no right to open the raw
// socket, any other failure.
constexpr int IcmpHelperExitBadRequest = 2;
constexpr int IcmpHelperExitNotPermitted = 3;
constexpr int IcmpHelperExitFailed = 4;

enum class TIcmpHelperFamily : std::uint8_t { Ip4, Ip6 };

// The family a helper serves, from its one command-line word ("ip-4", "ip-6").
bool ParseIcmpHelperFamily(std::string_view word, TIcmpHelperFamily& family);
std::string_view IcmpHelperFamilyWord(TIcmpHelperFamily family);

enum class TIcmpHelperCommand : std::uint8_t { SendProbe, CancelProbe, CheckSupport };

// An address of either family: 4 or 16 bytes in network order.
struct TIcmpHelperAddress {
  TIcmpHelperFamily Family = TIcmpHelperFamily::Ip4;
  std::array<std::uint8_t, 16> Bytes{};
  bool operator==(const TIcmpHelperAddress&) const = default;
};

struct TIcmpHelperData {
  std::array<std::uint8_t, IcmpHelperMaxData> Bytes{};
  std::uint16_t Length = 0;
  bool operator==(const TIcmpHelperData&) const = default;
};

struct TIcmpHelperRequest {
  std::uint32_t Token = 0;
  TIcmpHelperCommand Command = TIcmpHelperCommand::SendProbe;
  TIcmpHelperAddress Destination;                        // a unicast address
  std::uint8_t Ttl = 64;                                 // 1 to 255
  std::uint16_t TimeoutMs = IcmpHelperDefaultTimeoutMs;  // 1 to 60000
  std::uint32_t ScopeId = 0;                             // IPv6: the interface of a link-local one
  TIcmpHelperData Data;
  std::array<char, 16> Feature{};  // check-support: NUL-padded
  bool operator==(const TIcmpHelperRequest&) const = default;
};

// The named refusals, in the words the helper answers them with.
enum class TIcmpHelperError : std::uint8_t {
  None,
  UnknownCommand,
  InvalidArgument,
  ProbesExhausted
};

struct TIcmpHelperParsedRequest {
  TIcmpHelperRequest Request;
  TIcmpHelperError Error = TIcmpHelperError::None;  // Request.Token is set when one was read
};

// Reads one line (without its newline). A known command with a bad or missing
// argument, an unknown key, a repeated key or a destination that is not
// unicast is InvalidArgument; a line without a token keeps Token 0.
TIcmpHelperParsedRequest ParseIcmpHelperRequest(std::string_view line);
// The line (without newline) that ParseIcmpHelperRequest reads back as request.
std::string FormatIcmpHelperRequest(const TIcmpHelperRequest& request);

enum class TIcmpHelperAnswerKind : std::uint8_t {
  EchoReply,
  IcmpError,
  NoReply,
  SendFailed,
  FeatureSupport,
  UnknownCommand,
  InvalidArgument,
  ProbesExhausted,
};

struct TIcmpHelperAnswer {
  std::uint32_t Token = 0;
  TIcmpHelperAnswerKind Kind = TIcmpHelperAnswerKind::NoReply;
  TIcmpHelperAddress From;  // echo-reply, icmp-error
  std::uint8_t Ttl = 0;     // of the answer on arrival (IPv6: its hop limit)
  std::uint8_t Type = 0;    // icmp-error
  std::uint8_t Code = 0;
  std::int32_t Errno = 0;          // send-failed
  TIcmpHelperData Data;            // echo-reply
  std::array<char, 16> Support{};  // feature-support: NUL-padded
  bool operator==(const TIcmpHelperAnswer&) const = default;
};

// The answer for a refusal of a request.
TIcmpHelperAnswer IcmpHelperRefusal(std::uint32_t token, TIcmpHelperError error);

// False for a line that is no answer of this language.
bool ParseIcmpHelperAnswer(std::string_view line, TIcmpHelperAnswer& answer);
std::string FormatIcmpHelperAnswer(const TIcmpHelperAnswer& answer);

// A fixed word field as text, and text into one (false when it does not fit).
std::string_view IcmpHelperWord(const std::array<char, 16>& field);
bool SetIcmpHelperWord(std::array<char, 16>& field, std::string_view word);

// True for an address a probe may go to: not unspecified, not multicast, not
// the IPv4 limited broadcast or reserved block, not "this network" (0/8).
bool IsIcmpHelperUnicast(const TIcmpHelperAddress& address);

}  // namespace quillon
