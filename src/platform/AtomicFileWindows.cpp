// Replacing a file on Windows: the new content is written through to disk in a
// temporary file beside the old one, which ReplaceFileW then puts in its place
// (keeping the old file's attributes and security); a file that does not exist
// yet is created by a write-through move instead. When ReplaceFileW stops half
// way, the old file is in one of two places and the new data in the temporary
// file; that file goes only once the old one is known to be whole.
#include "platform/AtomicFile.h"

#include <windows.h>

#include <algorithm>

#include "platform/FileSystemWindows.h"
#include "platform/WideText.h"

namespace quillon {
namespace {

std::wstring FolderOf(const std::wstring& path) {
  const auto cut = path.find_last_of(L"\\/");
  if (cut == std::wstring::npos) return L".\\";
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

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool MoveInto(const std::wstring& from, const std::wstring& to) {
  return MoveFileExW(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

// Puts the temporary file over the existing target. The old file, if ReplaceFileW
// moved it aside, went to backup.
bool ReplaceExisting(const std::wstring& target, const std::wstring& temp,
                     const std::wstring& backup) {
  if (CallReplaceFile(target.c_str(), temp.c_str(), backup.c_str(),
                      REPLACEFILE_IGNORE_MERGE_ERRORS)) {
    DeleteFileW(backup.c_str());
    return true;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
    // The new data is whole under the temporary name, and the old file at the
    // target (1176) or under the backup name (1177): the move finishes the save.
    if (MoveInto(temp, target)) {
      DeleteFileW(backup.c_str());
      return true;
    }
    // The old file back where it was; the new data stays under its name.
    if (!Exists(target) && Exists(backup)) MoveInto(backup, target);
    if (!Exists(target)) return false;
  }
  // Anything else left the old file as it was.
  if (Exists(target)) DeleteFileW(temp.c_str());
  return false;
}

}  // namespace

bool ReplaceFileContents(const std::string& path, std::string_view data) {
  const std::wstring target = SystemPath(path);
  if (target.empty()) return false;
  // A read-only file stays as it is, as the user asked.
  const DWORD attributes = GetFileAttributesW(target.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (exists && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    return false;
  }

  std::wstring temp;
  const HANDLE file = CreateNewFileIn(FolderOf(target), L"qln", temp);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool written = WriteAll(file, data) && FlushFileBuffers(file);
  written = CloseHandle(file) && written;
  if (!written) {
    DeleteFileW(temp.c_str());
    return false;
  }
  if (exists) return ReplaceExisting(target, temp, temp.substr(0, temp.size() - 4) + L".old");
  if (MoveInto(temp, target)) return true;
  DeleteFileW(temp.c_str());
  return false;
}

bool ReadFileContents(const std::string& path, std::string& data) {
  const std::wstring source = SystemPath(path);
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
