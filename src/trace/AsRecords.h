// Who announces an address: the questions asked of the public IP-to-AS DNS
// zone and the reader of its TXT answers. Everything here is pure: the
// answers come from the network and are read as hostile text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// "ASN | prefix | country | registry | date", the answer for an address; the
// first field may hold several AS numbers.
struct TAsOrigin {
  std::vector<std::uint32_t> Numbers;  // never empty
  std::string Prefix;
  std::string Country;
  std::string Registry;
  std::string Date;
};

// "ASN | country | registry | date | NAME", the answer for an AS number.
struct TAsName {
  std::uint32_t Number = 0;
  std::string Country;
  std::string Registry;
  std::string Date;
  std::string Name;
};

// What a hop shows of the AS answers known for its address.
struct THopAs {
  TAsOrigin Origin;
  std::vector<std::string> Names;  // of Origin.Numbers in order; "" while not known
};

// The longest answer read, after its strings are joined: a real one is well
// under 200 characters, and anything longer is refused whole.
constexpr std::size_t MaxAsAnswerLength = 512;
// The most AS numbers one prefix is taken to be announced by.
constexpr std::size_t MaxAsNumbers = 8;

// A record's strings joined as one text, as the zone splits long texts.
std::string JoinTxtStrings(const std::vector<std::string>& strings);

// Readers of one answer text; nothing for a text that is not exactly such an
// answer: empty, too long, any byte outside printable ASCII, a field too few or
// too many, no AS number or one out of range, a field of the wrong shape.
std::optional<TAsOrigin> ReadAsOrigin(std::string_view text);
std::optional<TAsName> ReadAsName(std::string_view text);

// Whether an address may be sent to the public zone: only addresses someone
// announces on the Internet. Never private, shared (100.64/10), loopback,
// link-local, unique-local, unspecified, multicast, reserved or documentation
// addresses, nor any address with a zone; the benchmarking ranges
// (198.18.0.0/15, 2001:2::/48) are asked, as a test network uses them.
bool AsQuestionAllowed(std::string_view address);

// The question for an address: its reversed IPv4 bytes under
// origin.asn.cymru.com, or its reversed IPv6 nibbles under
// origin6.asn.cymru.com; "" when the address may not be asked.
std::string AsOriginQuestion(std::string_view address);
// "AS64501.asn.cymru.com".
std::string AsNameQuestion(std::uint32_t number);

// "AS64501", several joined with '/': "AS64501/AS64502".
std::string AsNumbersText(const std::vector<std::uint32_t>& numbers);
// What the windows' host cell begins with: "[AS64501] ".
std::string AsHostCellPrefix(const THopAs& as);
// The names known, " / " between two AS ("LAB-TRANSIT-A / LAB-TRANSIT-B").
std::string AsNamesText(const THopAs& as);
// The tooltip: a line per AS with its name where known ("AS64501 LAB-A, ZZ").
std::string AsTipText(const THopAs& as);

}  // namespace quillon
