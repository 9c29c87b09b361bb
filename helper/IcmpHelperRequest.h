// What a Quillon process may ask of the ICMP helper, and nothing more: which
// kind of ICMP socket and how many. The request is the helper's command line;
// the sockets come back over the Unix socket that is its standard input.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

enum class TIcmpSocketKind { Icmp4, Icmp6 };

// One helper run opens at most this many sockets: enough for a whole trace,
// few enough that a caller cannot use it to exhaust the system's descriptors.
constexpr int IcmpHelperMaxSockets = 64;

struct TIcmpHelperRequest {
  TIcmpSocketKind Kind = TIcmpSocketKind::Icmp4;
  int Count = 0;
  std::string Error;  // empty when the request is sound

  bool Valid() const { return Error.empty(); }
};

// Parses the words after the program's name: "icmp" (raw IPv4 ICMP) or
// "icmp6" (raw ICMPv6), then a count from 1 to IcmpHelperMaxSockets in plain
// decimal. Anything else is refused with the reason in Error.
TIcmpHelperRequest ParseIcmpHelperRequest(std::span<const std::string_view> words);

// The words that ask for the request; what ParseIcmpHelperRequest reads back.
std::vector<std::string> IcmpHelperRequestWords(TIcmpSocketKind kind, int count);

}  // namespace quillon
