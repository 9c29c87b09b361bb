#include "trace/StateFiles.h"

#include <windows.h>

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

// Whether a file can be made there, tried the only sure way: making one.
bool FolderTakesFiles(const std::string& folder) {
  wchar_t probe[MAX_PATH + 1] = {};
  if (GetTempFileNameW(WideFromUtf8(folder).c_str(), L"qln", 0, probe) == 0) return false;
  DeleteFileW(probe);
  return true;
}

std::string Env(const wchar_t* name) {
  wchar_t value[32768];
  const DWORD length = GetEnvironmentVariableW(name, value, 32768);
  return length > 0 && length < 32768 ? Utf8FromWide({value, length}) : std::string{};
}

}  // namespace

std::size_t LastPathSeparator(const std::string& path) {
  return path.find_last_of("\\/");
}

TStateEnvironment CurrentStateEnvironment() {
  TStateEnvironment env;
  env.LocalAppData = Env(L"LOCALAPPDATA");
  return env;
}

TFormFiles FormFilesFor(const std::string& executablePath, const TStateEnvironment& env) {
  const TFormFiles beside{ChangeFileExt(executablePath, ".hst"),
                          ChangeFileExt(executablePath, ".dnb")};
  const bool known = IsAbsolute(executablePath);
  if ((known && FolderTakesFiles(FolderOf(executablePath))) || !IsAbsolute(env.LocalAppData)) {
    return beside;
  }
  const std::string folder = env.LocalAppData + "\\Quillon";
  CreateDirectoryW(WideFromUtf8(folder).c_str(), nullptr);  // there already is fine
  const std::string name = known ? NameOf(executablePath) : std::string("quillon.exe");
  return {ChangeFileExt(folder + "\\" + name, ".hst"), ChangeFileExt(folder + "\\" + name, ".dnb")};
}

}  // namespace quillon
