// Text for the system's wide-character calls on Windows: the program keeps
// paths as UTF-8 and converts at each call.
#pragma once

#include <string>
#include <string_view>

namespace quillon {

std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);

}  // namespace quillon
