// TXT questions to the system's resolver: what an answer holds, and the
// reading of a DNS message's TXT records from its bytes (the platforms hand
// over the message or their own record list; both end as these records).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillon {

// The TXT records of one name, each as its strings in order; no records at
// all when the name or its TXT data does not exist ("no record" is an answer,
// a resolver that cannot be reached is a failure).
struct TIdTextAnswer {
  std::vector<std::vector<std::string>> Records;
};

// The most records and strings per record kept from one answer: enough for
// any real answer, and a hostile one cannot make us hold more.
constexpr std::size_t Id_TXT_MAX_RECORDS = 16;
constexpr std::size_t Id_TXT_MAX_STRINGS = 16;

// The TXT records (class IN) of the answer section of a DNS message, in their
// order; other records are passed over. Nothing when the message is cut or
// malformed: a header or record that runs past the end, a name that loops.
std::optional<TIdTextAnswer> DecodeTxtMessage(const std::uint8_t* message, std::size_t length);

}  // namespace quillon
