// Replacing a file on Windows: the new content is written through to disk in a
// temporary file beside the old one, which ReplaceFileW then puts in its place
// (keeping the old file's attributes and security); a file that does not exist
// yet is created by a write-through move instead.
#include "platform/AtomicFile.h"

#include <windows.h>

#include <algorithm>

#include "platform/WideText.h"

namespace quillon {
namespace {

std::wstring FolderOf(const std::wstring& path) {
  const auto cut = path.find_last_of(L"\\/");
  if (cut == std::wstring::npos) return L".";
  return path.substr(0, cut + 1);
}

bool WriteAll(HANDLE file, std::string_view data) {
  while (!data.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file, data.data(), chunk, &written, nullptr) || written == 0) return false;
    data.remove_prefix(written);
  }
  return true;
}

}  // namespace

bool ReplaceFileContents(const std::string& path, std::string_view data) {
  const std::wstring target = WideFromUtf8(path);
  if (target.empty()) return false;
  // A read-only file stays as it is, as the user asked.
  const DWORD attributes = GetFileAttributesW(target.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (exists && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    return false;
  }

  wchar_t temp[MAX_PATH + 1] = {};
  if (GetTempFileNameW(FolderOf(target).c_str(), L"qln", 0, temp) == 0) return false;
  const HANDLE file = CreateFileW(temp, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
  bool done = file != INVALID_HANDLE_VALUE;
  if (done) {
    done = WriteAll(file, data) && FlushFileBuffers(file);
    done = CloseHandle(file) && done;
  }
  if (done) {
    done = exists ? ReplaceFileW(target.c_str(), temp, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                                 nullptr, nullptr) != FALSE
                  : MoveFileExW(temp, target.c_str(),
                                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
  }
  if (!done) DeleteFileW(temp);
  return done;
}

bool ReadFileContents(const std::string& path, std::string& data) {
  const std::wstring source = WideFromUtf8(path);
  if (source.empty()) return false;
  const HANDLE file = CreateFileW(source.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  data.clear();
  char buffer[65536];
  bool ok = true;
  for (;;) {
    DWORD count = 0;
    if (!ReadFile(file, buffer, sizeof buffer, &count, nullptr)) {
      ok = false;
      break;
    }
    if (count == 0) break;
    data.append(buffer, count);
  }
  CloseHandle(file);
  return ok;
}

}  // namespace quillon
