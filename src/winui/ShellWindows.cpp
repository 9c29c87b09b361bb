#include "winui/ShellWindows.h"

#include "winui/Win32.h"

#include <vector>

#include "platform/ExecutablePath.h"

namespace quillon {

namespace {

std::string& HelpPath() {
  static std::string path;
  return path;
}

// The default value of HKEY_CLASSES_ROOT\htmlfile\shell\open\command, or empty.
std::string HtmlOpenCommand() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "htmlfile\\shell\\open\\command", 0, KEY_QUERY_VALUE,
                    &key) != ERROR_SUCCESS) {
    return {};
  }
  std::string command;
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key, nullptr, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0) {
    std::vector<char> value(size + 1, '\0');
    if (RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value.data()),
                         &size) == ERROR_SUCCESS) {
      command = value.data();  // stops at the first zero, whether or not it was stored
    }
  }
  RegCloseKey(key);
  return command;
}

// HH_DISPLAY_TOC of the help viewer's interface.
constexpr UINT DisplayTableOfContents = 1;
using THtmlHelpA = ::HWND(WINAPI*)(::HWND, LPCSTR, UINT, DWORD_PTR);

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
  ShellExecuteA(nullptr, "open", program.c_str(), address.c_str(), nullptr, SW_SHOW);
}

std::string HelpFileToOpen() {
  if (GetFileAttributesA(HelpPath().c_str()) != INVALID_FILE_ATTRIBUTES) return HelpPath();
  // Unpacked from the zip somewhere else: the help file that came beside the program.
  const std::string program = ExecutablePath();
  const std::size_t cut = program.find_last_of("\\/");
  if (cut == std::string::npos) return HelpPath();
  const std::string beside = program.substr(0, cut + 1) + "quillon.chm";
  return GetFileAttributesA(beside.c_str()) != INVALID_FILE_ATTRIBUTES ? beside : HelpPath();
}

void ShowHelp() {
  // The viewer is loaded on first use and stays: its windows live in it. Only
  // the system's copy: one in the program's folder could be anyone's.
  static HMODULE viewer = [] {
    char folder[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return HMODULE{nullptr};
    return LoadLibraryA((std::string(folder, length) + "\\hhctrl.ocx").c_str());
  }();
  if (viewer == nullptr) return;
  const auto htmlHelp =
      reinterpret_cast<THtmlHelpA>(reinterpret_cast<void*>(GetProcAddress(viewer, "HtmlHelpA")));
  if (htmlHelp != nullptr) htmlHelp(nullptr, HelpFileToOpen().c_str(), DisplayTableOfContents, 0);
}

}  // namespace quillon
