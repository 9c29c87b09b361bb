#include "trace/StateFiles.h"

#include <windows.h>
// After windows.h, which they build on.
#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>

#include "platform/FileSystemWindows.h"
#include "platform/WideText.h"

namespace quillon {
namespace {

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

// "C:\..." or "\\server\share\...".
bool IsAbsolute(const std::string& path) {
  if (path.size() >= 3 && path[1] == ':' && IsSeparator(path[2])) return true;
  return path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
}

std::string FolderOf(const std::string& path) {
  const std::size_t cut = LastPathSeparator(path);
  return cut == std::string::npos ? "." : path.substr(0, cut);
}

std::string NameOf(const std::string& path) {
  const std::size_t cut = LastPathSeparator(path);
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// Whether a file can be made there, tried the only sure way: making one, and
// believing only the handle that CreateFileW gives.
bool FolderTakesFiles(const std::string& folder) {
  std::wstring probe;
  const HANDLE file = CreateNewFileIn(SystemPath(folder + "\\"), L"qln", probe);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  DeleteFileW(probe.c_str());
  return true;
}

// A folder as the shell knows it, which an environment variable may not (a
// service, a changed profile path); empty when it has none.
std::string KnownFolder(REFKNOWNFOLDERID id) {
  PWSTR folder = nullptr;
  std::string path;
  if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &folder)) && folder != nullptr) {
    path = Utf8FromWide(folder);
  }
  CoTaskMemFree(folder);
  return path;
}

// Whether the path lies in the folder, letters compared as the file system does.
bool IsInFolder(const std::string& path, std::string folder) {
  while (!folder.empty() && IsSeparator(folder.back())) folder.pop_back();
  if (folder.empty() || path.size() <= folder.size() || !IsSeparator(path[folder.size()])) {
    return false;
  }
  const std::wstring head = WideFromUtf8(path.substr(0, folder.size()));
  const std::wstring wanted = WideFromUtf8(folder);
  return CompareStringOrdinal(head.c_str(), static_cast<int>(head.size()), wanted.c_str(),
                              static_cast<int>(wanted.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

std::size_t LastPathSeparator(const std::string& path) {
  return path.find_last_of("\\/");
}

TStateEnvironment CurrentStateEnvironment() {
  TStateEnvironment env;
  env.LocalAppData = KnownFolder(FOLDERID_LocalAppData);
  for (const KNOWNFOLDERID& id : {FOLDERID_ProgramFiles, FOLDERID_ProgramFilesX86}) {
    if (std::string folder = KnownFolder(id); !folder.empty()) {
      env.ProgramFolders.push_back(std::move(folder));
    }
  }
  return env;
}

TFormFiles FormFilesFor(const std::string& executablePath, const TStateEnvironment& env) {
  const TFormFiles beside{ChangeFileExt(executablePath, ".hst"),
                          ChangeFileExt(executablePath, ".dnb")};
  const bool known = IsAbsolute(executablePath);
  if (!IsAbsolute(env.LocalAppData)) return beside;
  // Installed: one set of files per user, whether or not this one is elevated.
  const bool installed = std::any_of(
      env.ProgramFolders.begin(), env.ProgramFolders.end(),
      [&](const std::string& folder) { return known && IsInFolder(executablePath, folder); });
  if (known && !installed && FolderTakesFiles(FolderOf(executablePath))) return beside;
  const std::string folder = env.LocalAppData + "\\Quillon";
  CreateDirectoryW(SystemPath(folder).c_str(), nullptr);  // there already is fine
  const std::string name = known ? NameOf(executablePath) : std::string("quillon.exe");
  return {ChangeFileExt(folder + "\\" + name, ".hst"), ChangeFileExt(folder + "\\" + name, ".dnb")};
}

}  // namespace quillon
