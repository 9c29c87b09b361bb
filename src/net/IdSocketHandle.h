// One system socket with its local and peer addresses.
#pragma once

#include <cstdint>
#include <string>

#include "net/IdIPAddress.h"
#include "net/IdStackConsts.h"

namespace quillon {

class TIdSocketHandle {
 public:
  TIdSocketHandle();           // Clear(true); no socket open
  virtual ~TIdSocketHandle();  // Close()
  TIdSocketHandle(const TIdSocketHandle&) = delete;
  TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;

  // Closes any open socket, then opens a new one of the family (EIdInvalidSocket
  // on failure).
  void Open(int socketType, int protocol, TIdIPVersion version = TIdIPVersion::ivIPv4);
  // Shutdown (sending side) and close; does nothing when no socket is open.
  virtual void Close();
  void Clear(bool resetLocal);
  // EIdSocketError when the option cannot be set.
  void SetOption(int level, int optionName, const void* value, int valueLength);
  // Sends one datagram; EIdPackageSizeTooBig, EIdSocketError or EIdNotAllBytesSent.
  void SendDatagram(const std::string& address, int port, const void* buffer, int length);
  // The stack's receive; -1 on failure, raises nothing.
  int Receive(void* buffer, int length, int flags);
  // True when readable before the wait ends (-2: no limit); sliced on the main
  // thread while the anti-freeze applies. EIdConnClosedGracefully when closed.
  bool WaitReadable(int timeoutMs);

  TIdStackSocketHandle OsSocket = Id_INVALID_SOCKET;
  bool IsOpen = false;
  std::string IP;
  std::string RemoteIP;
  std::int32_t Port = 0;
  std::int32_t RemotePort = 0;
  std::int32_t ClientPortMin = 0;
  std::int32_t ClientPortMax = 0;

 private:
  bool WaitSlice(int timeoutMs);
};

}  // namespace quillon
