#include "winui/ShellWindows.h"

#include "winui/Win32.h"

#include <vector>

#include "platform/ExecutablePath.h"
#include "platform/FileSystemWindows.h"
#include "platform/WideText.h"

namespace quillon {

namespace {

std::string& HelpPath() {
  static std::string path;
  return path;
}

// The default value of HKEY_CLASSES_ROOT\htmlfile\shell\open\command, or empty.
// The program keeps text as UTF-8; the system's paths may hold any letter, so
// every call here is the wide-character one.
std::string HtmlOpenCommand() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"htmlfile\\shell\\open\\command", 0, KEY_QUERY_VALUE,
                    &key) != ERROR_SUCCESS) {
    return {};
  }
  std::string command;
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0) {
    std::vector<wchar_t> value(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value.data()),
                         &size) == ERROR_SUCCESS) {
      command = Utf8FromWide(value.data());  // stops at the first zero, stored or not
    }
  }
  RegCloseKey(key);
  return command;
}

bool FileExists(const std::string& path) {
  return !path.empty() && GetFileAttributesW(SystemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// HH_DISPLAY_TOC of the help viewer's interface.
constexpr UINT DisplayTableOfContents = 1;
using THtmlHelpW = ::HWND(WINAPI*)(::HWND, LPCWSTR, UINT, DWORD_PTR);

}  // namespace

void SetHelpFile(const std::string& path) {
  HelpPath() = path;
}

const std::string& HelpFile() {
  return HelpPath();
}

void OpenWebAddress(const std::string& address) {
  const std::string program = QuotedProgram(HtmlOpenCommand());
  if (program.empty()) return;
  ShellExecuteW(nullptr, L"open", WideFromUtf8(program).c_str(), WideFromUtf8(address).c_str(),
                nullptr, SW_SHOW);
}

std::string HelpFileToOpen() {
  if (FileExists(HelpPath())) return HelpPath();
  // Unpacked from the zip somewhere else: the help file that came beside the program.
  const std::string program = ExecutablePath();
  const std::size_t cut = program.find_last_of("\\/");
  if (cut == std::string::npos) return HelpPath();
  const std::string beside = program.substr(0, cut + 1) + "quillon.chm";
  return FileExists(beside) ? beside : HelpPath();
}

void ShowHelp() {
  // The viewer is loaded on first use and stays: its windows live in it. Only
  // the system's copy: one in the program's folder could be anyone's.
  static HMODULE viewer = [] {
    wchar_t folder[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return HMODULE{nullptr};
    return LoadLibraryW((std::wstring(folder, length) + L"\\hhctrl.ocx").c_str());
  }();
  if (viewer == nullptr) return;
  const auto htmlHelp =
      reinterpret_cast<THtmlHelpW>(reinterpret_cast<void*>(GetProcAddress(viewer, "HtmlHelpW")));
  if (htmlHelp != nullptr) {
    htmlHelp(nullptr, WideFromUtf8(HelpFileToOpen()).c_str(), DisplayTableOfContents, 0);
  }
}

}  // namespace quillon
