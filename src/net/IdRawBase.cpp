#include "net/IdRawBase.h"

#include <stdexcept>

#include "net/IdStack.h"

namespace quillon {

TIdRawBase::TIdRawBase() {
  SetBufferSize(8192);
}

// The handle member closes its socket before the component lets the stack go.
TIdRawBase::~TIdRawBase() = default;

TIdSocketHandle& TIdRawBase::EnsureSocket() {
  const bool v6 = IPVersion == TIdIPVersion::ivIPv6;
  if (Socket.IsOpen && (socketVersion_ == TIdIPVersion::ivIPv6) != v6) Socket.Close();
  if (!Socket.IsOpen) {
    // ICMP of IPv6 is a protocol of its own number.
    const int protocol = v6 && Protocol == Id_IPPROTO_ICMP ? Id_IPPROTO_ICMPV6 : Protocol;
    Socket.Open(Id_SOCK_RAW, protocol, v6 ? TIdIPVersion::ivIPv6 : TIdIPVersion::ivIPv4);
    socketVersion_ = v6 ? TIdIPVersion::ivIPv6 : TIdIPVersion::ivIPv4;
  }
  // Applied on every access, so a changed TTL or time-out holds from the next
  // access on.
  ApplyTtl();
  Stack().SockSetReplyTimeout(Socket.OsSocket, ReceiveTimeout);
  return Socket;
}

void TIdRawBase::ApplyTtl() {
  if (socketVersion_ == TIdIPVersion::ivIPv6) {
    Socket.SetOption(Id_IPPROTO_IPV6, Id_IPV6_UNICAST_HOPS, &OutgoingTtl, sizeof(OutgoingTtl));
  } else {
    Socket.SetOption(Id_IPPROTO_IP, Id_IP_TTL, &OutgoingTtl, sizeof(OutgoingTtl));
  }
}

void TIdRawBase::SetOutgoingTtl(std::int32_t ttl) {
  OutgoingTtl = ttl;
  EnsureSocket();
  ApplyTtl();
}

void TIdRawBase::SendRaw(const std::string& host, int port, const void* buffer, int length) {
  const std::string address = Stack().HostToAddressText(host);
  SentHost = host;
  SentAddress = address;
  EnsureSocket().SendDatagram(address, port, buffer, length);
}

int TIdRawBase::ReceiveRaw(void* buffer, int length, int waitMs) {
  if (length <= 0 || buffer == nullptr) return 0;
  if (waitMs < 0) waitMs = ReceiveTimeout;
  if (!EnsureSocket().WaitReadable(waitMs)) return 0;
  return EnsureSocket().Receive(buffer, length, 0);
}

std::int32_t TIdRawBase::BufferSize() const {
  return buffer_ ? static_cast<std::int32_t>(buffer_->size()) : 0;
}

void TIdRawBase::SetBufferSize(std::int32_t size) {
  if (size < 0) throw std::invalid_argument("BufferSize cannot be negative");
  if (!buffer_) buffer_ = std::make_unique<std::vector<std::uint8_t>>();
  buffer_->resize(static_cast<std::size_t>(size));
}

}  // namespace quillon
