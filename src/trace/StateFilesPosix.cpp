#include "trace/StateFiles.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>

namespace quillon {
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string{};
}

bool IsAbsolute(const std::string& path) {
  return !path.empty() && path.front() == '/';
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = LastPathSeparator(path);
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const std::size_t slash = LastPathSeparator(path);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsSystemFolder(const std::string& folder) {
  static constexpr std::array<std::string_view, 3> roots = {"/usr", "/bin", "/sbin"};
  for (std::string_view root : roots) {
    if (folder.compare(0, root.size(), root) == 0 &&
        (folder.size() == root.size() || folder[root.size()] == '/')) {
      return true;
    }
  }
  return false;
}

// Checked with the effective ids, as the later writes will be; a read-only
// mount refuses even root.
bool FolderTakesFiles(const std::string& folder) {
  return faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

// Creates the folder and its missing parents; the ones made here are private.
void MakeFolders(const std::string& folder) {
  for (std::size_t pos = 1; pos <= folder.size(); ++pos) {
    if (pos == folder.size() || folder[pos] == '/') {
      const std::string part = folder.substr(0, pos);
      if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return;
    }
  }
}

}  // namespace

std::size_t LastPathSeparator(const std::string& path) {
  return path.rfind('/');
}

TStateEnvironment CurrentStateEnvironment() {
  TStateEnvironment env{Env("XDG_STATE_HOME"), Env("XDG_CACHE_HOME"), Env("HOME")};
  if (!IsAbsolute(env.Home)) {
    env.Home.clear();
    if (const passwd* user = getpwuid(geteuid()); user != nullptr && user->pw_dir != nullptr) {
      env.Home = user->pw_dir;
    }
  }
  return env;
}

TFormFiles FormFilesFor(const std::string& executablePath, const TStateEnvironment& env) {
  const TFormFiles beside{ChangeFileExt(executablePath, ".hst"),
                          ChangeFileExt(executablePath, ".dnb")};
  // Without its own path the program still has a name for the user's folders.
  const bool known = IsAbsolute(executablePath);
  const std::string folder = FolderOf(executablePath);
  if (known && FolderTakesFiles(folder) && !IsSystemFolder(folder)) return beside;

  const bool haveHome = IsAbsolute(env.Home);
  std::string stateRoot = IsAbsolute(env.XdgStateHome) ? env.XdgStateHome : std::string{};
  std::string cacheRoot = IsAbsolute(env.XdgCacheHome) ? env.XdgCacheHome : std::string{};
  if (stateRoot.empty() && haveHome) stateRoot = env.Home + "/.local/state";
  if (cacheRoot.empty() && haveHome) cacheRoot = env.Home + "/.cache";
  if (stateRoot.empty() || cacheRoot.empty()) return beside;

  const std::string name = known ? NameOf(executablePath) : std::string("quillon");
  const std::string stateFolder = stateRoot + "/quillon";
  const std::string cacheFolder = cacheRoot + "/quillon";
  MakeFolders(stateFolder);
  MakeFolders(cacheFolder);
  return {ChangeFileExt(stateFolder + "/" + name, ".hst"),
          ChangeFileExt(cacheFolder + "/" + name, ".dnb")};
}

}  // namespace quillon
