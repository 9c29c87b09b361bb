// Files on Windows as the program's state files need them: paths past MAX_PATH,
// a file of a new name made without trusting anything but CreateFileW, and the
// one system call of a save that tests make fail.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace quillon {

// The path for the system's wide-character calls. An absolute path too long for
// the classic limit gets the "\\?\" form, in which the limit does not hold.
std::wstring SystemPath(std::string_view utf8Path);

// Creates a file of a name not yet taken in the folder (a system path ending in
// a separator): prefix, a number, ".tmp". Returns the handle, open for writing
// and closed by the caller, and the name; INVALID_HANDLE_VALUE when the folder
// takes no file.
HANDLE CreateNewFileIn(const std::wstring& folder, std::wstring_view prefix, std::wstring& name);

// ReplaceFileW, or what a test puts in its place to make it fail as it can.
using TReplaceFileFunction = BOOL(WINAPI*)(LPCWSTR replaced, LPCWSTR replacement, LPCWSTR backup,
                                           DWORD flags, LPVOID, LPVOID);
void SetReplaceFileForTesting(TReplaceFileFunction function);
BOOL CallReplaceFile(LPCWSTR replaced, LPCWSTR replacement, LPCWSTR backup, DWORD flags);

}  // namespace quillon
