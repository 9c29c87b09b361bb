// The version resource of a Windows executable, read with the system's own
// version calls from the "040904E4" string block.
#include "platform/FileVersion.h"

#include <windows.h>

#include <vector>

#include "platform/VersionInfo.h"
#include "platform/WideText.h"

namespace quillon {
namespace {

// The version calls take ANSI text: a path that the code page cannot hold is
// given in its short form, which is plain ASCII.
std::string AnsiPath(const std::string& utf8) {
  std::wstring wide = WideFromUtf8(utf8);
  if (wide.empty()) return {};
  const auto toAnsi = [](const std::wstring& text, bool& lossy) {
    BOOL usedDefault = FALSE;
    const int length = static_cast<int>(text.size());
    const int needed =
        WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, &usedDefault);
    std::string ansi(static_cast<std::size_t>(needed > 0 ? needed : 0), '\0');
    if (needed > 0) {
      WideCharToMultiByte(CP_ACP, 0, text.data(), length, ansi.data(), needed, nullptr,
                          &usedDefault);
    }
    lossy = usedDefault != FALSE || needed <= 0;
    return ansi;
  };
  bool lossy = false;
  std::string ansi = toAnsi(wide, lossy);
  if (!lossy) return ansi;
  const DWORD needed = GetShortPathNameW(wide.c_str(), nullptr, 0);
  if (needed == 0) return {};
  std::wstring shortPath(needed, L'\0');
  const DWORD length = GetShortPathNameW(wide.c_str(), shortPath.data(), needed);
  if (length == 0 || length >= needed) return {};
  shortPath.resize(length);
  ansi = toAnsi(shortPath, lossy);
  return lossy ? std::string{} : ansi;
}

}  // namespace

std::string ReadFileVersionFrom(const std::string& path) {
  const std::string file = AnsiPath(path);
  if (file.empty()) return {};
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(file.c_str(), &ignored);
  if (size == 0) return {};
  std::vector<char> block(size);
  if (!GetFileVersionInfoA(file.c_str(), 0, size, block.data())) return {};
  const std::string query =
      "\\StringFileInfo\\" + std::string(VersionStringBlockKey) + "\\FileVersion";
  char* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) ||
      value == nullptr || length == 0) {
    return {};
  }
  // The length counts the terminating zero where the resource has one.
  std::string text(value, length);
  return text.substr(0, text.find('\0'));
}

}  // namespace quillon
