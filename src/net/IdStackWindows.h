// The socket stack on Windows: Winsock through the run-time binding, its own
// error numbers, select with its own handle sets, and the per-thread result
// records of gethostbyname and gethostbyaddr.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "net/IdStack.h"

namespace quillon {

class TIdStackWindows : public TIdStack {
 public:
  // Starts the socket library once per process; EIdStackInitializationFailed
  // when its start-up fails, EIdWS2StubError when it cannot be loaded.
  TIdStackWindows();

  int SockClose(TIdStackSocketHandle socket) override;
  int SockShutdown(TIdStackSocketHandle socket, int how) override;
  // A raw ICMP socket that Windows refuses for lack of rights (10013) becomes
  // an echo channel of the system's ICMP service; SockSendTo, SockSelect and
  // SockRecv make it look like the raw one.
  TIdStackSocketHandle SockOpen(int family, int type, int protocol) override;
  int SockSetOption(TIdStackSocketHandle socket, int level, int optionName, const void* value,
                    int valueLength) override;
  int SockRecv(TIdStackSocketHandle socket, void* buffer, int length, int flags) override;
  int SockSendTo(TIdStackSocketHandle socket, const void* buffer, int length, int flags,
                 const std::string& address, int port) override;
  int SockSelect(TIdSocketList* readList, TIdSocketList* writeList, TIdSocketList* errorList,
                 int timeoutMs) override;
  std::int32_t GetSocketError() override;
  std::string HostNameToAddr(const std::string& hostName) override;
  std::string AddrToHostName(const std::string& address) override;
};

// The environment variable that, set to 1, makes every raw ICMP socket an echo
// channel of the ICMP service, as for a user without administrator rights.
inline constexpr const char* Id_FORCE_ICMP_SERVICE = "QUILLON_ICMP_SERVICE";

}  // namespace quillon
