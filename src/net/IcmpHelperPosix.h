// Where the system gives this process neither a raw nor an ICMP datagram
// socket, the installed ICMP helper (quillon-icmp-helper, the one program of
// Quillon given CAP_NET_RAW) sends the probes: it keeps its raw socket, takes
// probe requests and tells us about their answers (helper/IcmpHelperRequest.h).
// To the stack it is a channel like the Windows ICMP service: each echo request
// sent on a channel becomes a request to the helper, and each answer is rebuilt
// into the datagram a raw socket would have received (RebuildEchoAnswer). A
// channel's handle is an eventfd, readable while an answer waits, so the stack
// waits on it with the same poll as on a socket. Every channel of a family
// shares one helper per process; all of this is safe from many threads.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

#include "IcmpHelperRequest.h"
#include "net/IdIPAddress.h"
#include "net/IdStack.h"
#include "net/IdStackConsts.h"

namespace quillon {

// The helper of the program at `program`: the absolute path fixed at build
// time for an installed build, else its place relative to the program (the
// build tree). Empty when the program's own path is unknown: no helper then.
std::filesystem::path IcmpHelperPath(const std::filesystem::path& program);
// The path the privilege hint names: always absolute.
std::filesystem::path IcmpHelperHintPath(const std::filesystem::path& program);

// One running helper, spoken to line by line over a Unix socket that is its
// standard input and output.
class TIcmpHelperProcess {
 public:
  // Starts the helper at `helper` for the family and checks that it speaks
  // this protocol's version; null when it cannot run, has no right to its
  // socket or speaks another version (status: its exit status, or -1).
  static std::unique_ptr<TIcmpHelperProcess> Start(const std::filesystem::path& helper,
                                                   TIcmpHelperFamily family, int& status);
  ~TIcmpHelperProcess();  // closes the channel, and the helper ends
  TIcmpHelperProcess(const TIcmpHelperProcess&) = delete;
  TIcmpHelperProcess& operator=(const TIcmpHelperProcess&) = delete;

  bool WriteLine(const std::string& line);
  // The next line, without its newline; false at the end, or after waitMs (-1: no limit).
  bool ReadLine(std::string& line, int waitMs);
  // Wakes a reader and refuses any further line.
  void Shut();
  pid_t Pid() const { return pid_; }

 private:
  TIcmpHelperProcess(pid_t pid, int channel) : pid_(pid), channel_(channel) {}
  pid_t pid_;
  int channel_;
  std::string pending_;
};

// The stack's channels, one per socket it opens while the helper serves it.
// Open: -1 with errno set when the helper is not installed, may not open its
// socket, or speaks another version.
TIdStackSocketHandle OpenIcmpHelperChannel(int family);
bool IsIcmpHelperChannel(TIdStackSocketHandle socket);
int CloseIcmpHelperChannel(TIdStackSocketHandle socket);
void SetIcmpHelperChannelTtl(TIdStackSocketHandle socket, std::uint8_t ttl);
// Asks the helper to send the echo request's data (an ICMP or ICMPv6 echo
// message) with the channel's TTL; the byte count, or -1 with the socket error.
int SendIcmpHelperEcho(TIdStackSocketHandle socket, std::span<const std::uint8_t> request,
                       const TIdIPv4Bytes& destination, std::int32_t& error);
int SendIcmpHelperEcho(TIdStackSocketHandle socket, std::span<const std::uint8_t> request,
                       const TIdIPv6Bytes& destination, std::uint32_t scopeId, std::int32_t& error);
// The oldest rebuilt answer, cut to out; -1 with WSAEWOULDBLOCK when none,
// or with the socket error that the helper reported for a probe.
int ReceiveIcmpHelper(TIdStackSocketHandle socket, std::span<std::uint8_t> out,
                      std::int32_t& error);

// Tests: the channels of the family go to the helper at `helper` from now on
// (an empty path: back to IcmpHelperPath of this program).
void SetIcmpHelperForTesting(int family, const std::filesystem::path& helper);

}  // namespace quillon
