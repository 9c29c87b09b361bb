#include "platform/FileSystemWindows.h"

#include <atomic>

#include "platform/WideText.h"

namespace quillon {
namespace {

std::atomic<TReplaceFileFunction> gReplaceFile{&ReplaceFileW};
std::atomic<unsigned> gNameCounter{0};

bool IsSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

}  // namespace

std::wstring SystemPath(std::string_view utf8Path) {
  std::wstring path = WideFromUtf8(utf8Path);
  // Room for a name of 12 characters more, as the temporary files add.
  if (path.size() + 12 < MAX_PATH || path.rfind(L"\\\\?\\", 0) == 0) return path;
  const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return path;
  full.resize(length);
  for (wchar_t& c : full) {
    if (c == L'/') c = L'\\';
  }
  if (full.size() >= 3 && full[1] == L':' && IsSeparator(full[2])) return L"\\\\?\\" + full;
  if (full.size() >= 2 && IsSeparator(full[0]) && IsSeparator(full[1])) {
    return L"\\\\?\\UNC\\" + full.substr(2);
  }
  return path;
}

HANDLE CreateNewFileIn(const std::wstring& folder, std::wstring_view prefix, std::wstring& name) {
  // The process id and a counter make clashes rare; a taken name is skipped.
  const unsigned process = GetCurrentProcessId();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const unsigned number = (process << 12) ^ (GetTickCount() << 4) ^ gNameCounter.fetch_add(1);
    name = folder + std::wstring(prefix) + std::to_wstring(number) + L".tmp";
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  name.clear();
  return INVALID_HANDLE_VALUE;
}

void SetReplaceFileForTesting(TReplaceFileFunction function) {
  gReplaceFile.store(function != nullptr ? function : &ReplaceFileW);
}

// The save's one call that tests replace.
BOOL CallReplaceFile(LPCWSTR replaced, LPCWSTR replacement, LPCWSTR backup, DWORD flags) {
  return gReplaceFile.load()(replaced, replacement, backup, flags, nullptr, nullptr);
}

}  // namespace quillon
