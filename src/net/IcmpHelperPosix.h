// Where the system gives this process neither a raw nor an ICMP datagram
// socket, the installed ICMP helper (quillon-icmp-helper, the one program of
// Quillon given CAP_NET_RAW) opens raw ICMP sockets for it and hands them over
// a Unix socket. A run of the helper brings a pool of sockets, so that a whole
// trace starts it once or twice rather than once per probe.
#pragma once

#include <filesystem>
#include <vector>

#include "IcmpHelperRequest.h"
#include "net/IdStackConsts.h"

namespace quillon {

// The helper's place for the program at `program`: its folder of private
// files, found the same way as the window module.
std::filesystem::path IcmpHelperPath(const std::filesystem::path& program);

// A raw ICMP socket of the family (AF_INET or AF_INET6) from this process's
// pool, which a run of the helper refills when it is empty; -1 with errno set
// when the helper is not installed, may not open raw sockets, or fails.
TIdStackSocketHandle OpenIcmpSocketFromHelper(int family);

// One run of the helper at `helper`: the sockets it handed over (none on a
// failure), and its exit status, or -1 when it could not be run at all.
struct TIcmpHelperRun {
  std::vector<int> Sockets;
  int ExitStatus = -1;
};
TIcmpHelperRun RunIcmpHelper(const std::filesystem::path& helper, TIcmpSocketKind kind, int count);

}  // namespace quillon
