// Address texts of every shape: parsing either fails or yields bytes that print
// back as a dotted address that parses to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/IdException.h"
#include "net/IdStackPosix.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto stack = quillon::CreatePosixStack();
  const std::string text(reinterpret_cast<const char*>(data), size);
  quillon::TIdIPv4Bytes bytes{};
  quillon::TAddressTextKind kind{};
  quillon::TAddressClass addressClass{};
  if (!stack->ParseAddressText(text, &bytes[0], &bytes[1], &bytes[2], &bytes[3], &kind,
                               &addressClass)) {
    if (kind != quillon::TAddressTextKind::atInvalid && kind != quillon::TAddressTextKind{})
      std::abort();
    return 0;
  }
  const std::string dotted = stack->AddrToText(bytes);
  quillon::TIdIPv4Bytes again{};
  stack->TextToAddrInto(dotted, again);
  if (again != bytes) std::abort();
  return 0;
}
