#include "net/IdSocketHandle.h"

#include "net/IdAntiFreezeBase.h"
#include "net/IdException.h"
#include "net/IdStack.h"
#include "platform/Clock.h"

namespace quillon {

TIdSocketHandle::TIdSocketHandle() {
  Clear(true);
  ClientPortMin = 0;
  ClientPortMax = 0;
}

TIdSocketHandle::~TIdSocketHandle() {
  TIdSocketHandle::Close();
}

void TIdSocketHandle::Open(int socketType, int protocol, TIdIPVersion version) {
  Close();
  OsSocket = Stack().OpenSocket(socketType, protocol, version);
  IsOpen = true;
}

void TIdSocketHandle::Close() {
  if (!IsOpen) return;
  IsOpen = false;
  // Closing never fails as far as the caller is concerned.
  Stack().SockShutdown(OsSocket, Id_SD_Send);
  Stack().SockClose(OsSocket);
  // Forget the number: the system hands it out again to the next socket opened.
  OsSocket = Id_INVALID_SOCKET;
}

void TIdSocketHandle::Clear(bool resetLocal) {
  IsOpen = false;
  OsSocket = Id_INVALID_SOCKET;
  if (resetLocal) {
    IP.clear();
    Port = 0;
  }
  RemoteIP.clear();
  RemotePort = 0;
}

void TIdSocketHandle::SetOption(int level, int optionName, const void* value, int valueLength) {
  TIdStack& stack = Stack();
  stack.CheckSocketCall(stack.SockSetOption(OsSocket, level, optionName, value, valueLength));
}

void TIdSocketHandle::SendDatagram(const std::string& address, int port, const void* buffer,
                                   int length) {
  TIdStack& stack = Stack();
  const int sent = stack.SockSendTo(OsSocket, buffer, length, 0, address, port);
  if (sent == Id_SOCKET_ERROR) {
    const std::int32_t error = stack.GetSocketError();
    if (error == Id_WSAEMSGSIZE) throw EIdPackageSizeTooBig();
    stack.CheckSocketCall(sent);  // raises for the failure and keeps it as the last one
  }
  if (sent != length) throw EIdNotAllBytesSent();
}

int TIdSocketHandle::Receive(void* buffer, int length, int flags) {
  return Stack().SockRecv(OsSocket, buffer, length, flags);
}

bool TIdSocketHandle::WaitReadable(int timeoutMs) {
  if (!IsOpen) throw EIdConnClosedGracefully();
  if (!AntiFreezeApplies()) return WaitSlice(timeoutMs);

  // On the main thread the wait is cut into slices so that the window's messages
  // are handled in between; the short remainder goes first.
  const int slice = GCurrentAntiFreeze.load()->IdleTimeOut();
  if (timeoutMs == Id_WAIT_NO_LIMIT) {
    while (!WaitSlice(slice)) {
    }
    return true;
  }
  if (timeoutMs <= slice) return WaitSlice(timeoutMs);
  int first = timeoutMs % slice;
  if (first == 0) first = slice;
  if (WaitSlice(first)) return true;
  for (int left = timeoutMs - first; left > 0; left -= slice) {
    if (WaitSlice(slice)) return true;
  }
  return false;
}

bool TIdSocketHandle::WaitSlice(int timeoutMs) {
  const std::uint32_t start = GetTickCount();
  int left = timeoutMs;
  bool readable = false;
  for (;;) {
    TIdSocketList readList{OsSocket};
    const int result = Stack().SockSelect(&readList, nullptr, nullptr, left);
    readable = result == 1;
    // A signal that cut the wait short is no time-out: wait out the rest. Any
    // other failure counts as a slice in which nothing arrived.
    if (result != Id_SOCKET_ERROR || Stack().GetSocketError() != Id_WSAEINTR) break;
    if (timeoutMs == Id_WAIT_NO_LIMIT) continue;
    left = timeoutMs - static_cast<int>(GetTickCount() - start);
    if (left <= 0) break;
  }
  AntiFreezeStep(!readable, false);
  return readable;
}

}  // namespace quillon
