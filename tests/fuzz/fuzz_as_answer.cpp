// Any TXT answer, as a DNS message and as text: the reader takes only
// printable ASCII of at most MaxAsAnswerLength characters, at least one AS
// number and no more than MaxAsNumbers, and what it takes reads the same when
// written back in the zone's shape.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "net/IdTextQuery.h"
#include "trace/AsRecords.h"

namespace {

using namespace quillon;

void CheckText(std::string_view text) {
  const bool printable = text.size() <= MaxAsAnswerLength &&
                         text.find_first_not_of(
                             " !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                             "[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~") == std::string_view::npos;
  if (const auto origin = ReadAsOrigin(text)) {
    if (!printable || origin->Numbers.empty() || origin->Numbers.size() > MaxAsNumbers)
      std::abort();
    std::string numbers;
    for (const std::uint32_t number : origin->Numbers)
      numbers += (numbers.empty() ? "" : " ") + std::to_string(number);
    const auto again = ReadAsOrigin(numbers + " | " + origin->Prefix + " | " + origin->Country +
                                    " | " + origin->Registry + " | " + origin->Date);
    if (!again || again->Numbers != origin->Numbers || again->Prefix != origin->Prefix)
      std::abort();
  }
  if (const auto name = ReadAsName(text)) {
    if (!printable || name->Number == 0 || name->Name.empty()) std::abort();
    const auto again = ReadAsName(std::to_string(name->Number) + " | " + name->Country + " | " +
                                  name->Registry + " | " + name->Date + " | " + name->Name);
    if (!again || again->Name != name->Name) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CheckText(std::string_view(reinterpret_cast<const char*>(data), size));
  if (const auto answer = DecodeTxtMessage(data, size)) {
    if (answer->Records.size() > Id_TXT_MAX_RECORDS) std::abort();
    for (const auto& record : answer->Records) {
      if (record.size() > Id_TXT_MAX_STRINGS) std::abort();
      CheckText(JoinTxtStrings(record));
    }
  }
  return 0;
}
