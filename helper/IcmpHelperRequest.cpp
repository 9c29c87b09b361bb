#include "IcmpHelperRequest.h"

#include <array>

namespace quillon {
namespace {

constexpr std::array<std::string_view, 2> KindWords = {"icmp", "icmp6"};

TIcmpHelperRequest Refused(std::string reason) {
  TIcmpHelperRequest request;
  request.Error = std::move(reason);
  return request;
}

}  // namespace

TIcmpHelperRequest ParseIcmpHelperRequest(std::span<const std::string_view> words) {
  if (words.size() != 2) return Refused("expected two words, a kind of socket and a count");
  TIcmpHelperRequest request;
  if (words[0] == KindWords[0]) {
    request.Kind = TIcmpSocketKind::Icmp4;
  } else if (words[0] == KindWords[1]) {
    request.Kind = TIcmpSocketKind::Icmp6;
  } else {
    return Refused("unknown kind of socket (only icmp and icmp6 are served)");
  }
  // Plain digits only: no sign, no blank, no leading zero, no more than the bound.
  const std::string_view count = words[1];
  if (count.empty() || count.size() > 2 || count.front() == '0' ||
      count.find_first_not_of("0123456789") != std::string_view::npos) {
    return Refused("the count is not a number from 1 to " + std::to_string(IcmpHelperMaxSockets));
  }
  for (const char digit : count) request.Count = request.Count * 10 + (digit - '0');
  if (request.Count > IcmpHelperMaxSockets) {
    return Refused("the count is not a number from 1 to " + std::to_string(IcmpHelperMaxSockets));
  }
  return request;
}

std::vector<std::string> IcmpHelperRequestWords(TIcmpSocketKind kind, int count) {
  return {std::string(KindWords[kind == TIcmpSocketKind::Icmp6 ? 1 : 0]), std::to_string(count)};
}

}  // namespace quillon
