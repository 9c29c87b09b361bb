// Where the host history (".hst") and the name cache (".dnb", and its IPv6
// sibling ".dn6" always beside it: Ipv6CachePath) are kept: beside
// the executable, named after it, as long as that folder takes files; an
// installed copy keeps them in the user's XDG state and cache folders instead
// (on Windows in %LOCALAPPDATA%\Quillon).
#pragma once

#include <string>
#include <vector>

#include "trace/TraceRouteForm.h"

namespace quillon {

struct TStateEnvironment {
  std::string XdgStateHome;    // $XDG_STATE_HOME (used only when absolute)
  std::string XdgCacheHome;    // $XDG_CACHE_HOME (used only when absolute)
  std::string Home;            // $HOME, or the home folder of the user
  std::string LocalAppData{};  // the shell's local application data (Windows; used only when absolute)
  std::vector<std::string> ProgramFolders{};  // Windows: the shell's Program Files folders
};

// The environment of this process.
TStateEnvironment CurrentStateEnvironment();

// Where the path's last component starts after: the last separator of the
// platform's paths ('/', and on Windows '\\' too), or npos.
std::size_t LastPathSeparator(const std::string& path);

// The path with the extension of its last component replaced by the given one
// (which includes the dot), or appended where it has none.
std::string ChangeFileExt(const std::string& path, const std::string& extension);

// The two files for the executable at that path. Beside it when its folder is
// writable and not a system folder (/usr, /bin, /sbin: owned by the package
// manager, even for root); otherwise <state>/quillon/<name>.hst and
// <cache>/quillon/<name>.dnb, with <state> = $XDG_STATE_HOME or ~/.local/state and
// <cache> = $XDG_CACHE_HOME or ~/.cache. Those two folders are created here
// (mode 0700), so the files can be written later. With no home folder known at
// all, the files stay beside the executable.
// On Windows: beside the executable when its folder takes files and is not
// under a Program Files folder (where the installer put it: there even an
// administrator's files go to the user's folder), otherwise
// <LocalAppData>\Quillon\<name>.hst and .dnb, the folder being created here.
TFormFiles FormFilesFor(const std::string& executablePath, const TStateEnvironment& env);

// FormFilesFor the running executable and this process's environment.
TFormFiles DefaultFormFiles();

}  // namespace quillon
