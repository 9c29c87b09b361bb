#include "cli/CliOptions.h"

#include <windows.h>

namespace quillon {

// A Windows program always has its desktop; DISPLAY means nothing there.
bool DisplayReachable(const char*, const char*, const char*) {
  return true;
}

std::string SocketRightsNote() {
  return "(the system's ICMP service could not be used, and\n"
         "raw sockets need an administrator)";
}

std::string PlatformOptionsHelp() {
  return "  --raw-sockets send the probes on a raw socket (administrators only) rather\n"
         "                than through the system's ICMP service, which is the default:\n"
         "                with the firewall on, a raw socket sees no router's answer\n";
}

}  // namespace quillon

namespace quillon {

bool PrivilegedUser() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  const bool elevated =
      GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
      elevation.TokenIsElevated != 0;
  CloseHandle(token);
  return elevated;
}

const char* PrivilegedUserName() {
  return "an administrator";
}

}  // namespace quillon
