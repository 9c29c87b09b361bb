#include "net/TransportProbe.h"

#include <cstdint>

#include "net/IdComponent.h"
#include "net/IdStack.h"
#include "net/IdStackConsts.h"
#include "platform/Clock.h"

namespace quillon {
namespace {

// Closes the probe's socket on every way out; a TCP socket that connected was
// set to reset by the stack, so the target keeps no half-open connection.
class TProbeSocket {
 public:
  explicit TProbeSocket(TIdStackSocketHandle socket) : socket_(socket) {}
  TProbeSocket(const TProbeSocket&) = delete;
  TProbeSocket& operator=(const TProbeSocket&) = delete;
  ~TProbeSocket() { Stack().SockClose(socket_); }
  TIdStackSocketHandle Handle() const { return socket_; }

 private:
  TIdStackSocketHandle socket_;
};

class TTransportProbe final : public TIdProbe {
 public:
  TTransportProbe(TProbeMethod method, TIdIPVersion version) : method_(method), version_(version) {}

  void Send(const TProbeRequest& request) override {
    TIdStack& stack = Stack();
    const bool tcp = method_ == TProbeMethod::pmTcp;
    const TIdStackSocketHandle handle =
        stack.SockOpenProbe(version_, tcp ? Id_SOCK_STREAM : Id_SOCK_DGRAM, request.Ttl);
    if (handle == Id_INVALID_SOCKET) stack.CheckSocketCall(Id_SOCKET_ERROR);
    const TProbeSocket socket(handle);

    const std::int64_t t0 = QueryPerformanceCounter();
    bool answered = false;
    if (tcp) {
      // A connect refused at once has nothing left to wait for; one that
      // completed at once is read like any other, so that it is reset.
      if (stack.SockConnect(handle, request.Target, request.Port) != 0) {
        const std::int32_t error = stack.GetSocketError();
        answered = error == Id_WSAECONNREFUSED;
        if (!answered && error != Id_WSAEWOULDBLOCK && error != Id_WSAEINPROGRESS) {
          stack.RaiseSocketFailure(error);
        }
      }
    } else {
      stack.CheckSocketCall(stack.SockSendTo(handle, request.Payload.data(),
                                             static_cast<int>(request.Payload.size()), 0,
                                             request.Target, request.Port));
    }
    ++sent_;
    TReplyStatus reply = answered ? TargetReachedReply(request.Target) : Await(socket, request);
    reply.RoundTripMicros = ElapsedMicros(t0, QueryPerformanceCounter());
    lastReply_ = reply;
  }

  const TReplyStatus& LastReply() const override { return lastReply_; }
  std::uint32_t RequestsSent() const override { return sent_; }

 private:
  TReplyStatus Await(const TProbeSocket& socket, const TProbeRequest& request) {
    TIdStack& stack = Stack();
    const bool tcp = method_ == TProbeMethod::pmTcp;
    const std::uint32_t start = GetTickCount();
    for (;;) {
      // Unsigned subtraction keeps the elapsed time right across the wrap of
      // the 32-bit tick count.
      const std::int64_t left =
          std::int64_t{request.TimeOutMs} - std::int64_t{GetTickCount() - start};
      TIdSocketList readable{socket.Handle()};
      TIdSocketList writable{socket.Handle()};
      const int ready = stack.SockSelect(&readable, tcp ? &writable : nullptr, nullptr,
                                         static_cast<int>(left > 0 ? left : 0));
      stack.CheckSocketCall(ready);
      if (ready > 0) {
        TReplyStatus reply;
        const int found = stack.SockProbeAnswer(socket.Handle(), request.Target, reply);
        stack.CheckSocketCall(found);
        if (found == 1) return reply;
      }
      if (left <= 0) break;
    }
    TReplyStatus silence;
    silence.ReplyFrom = "0.0.0.0";
    silence.StatusKind = TReplyStatusKind::rskTimedOut;
    return silence;
  }

  TIdComponent component_;  // the stack lives while the probe does
  TProbeMethod method_;
  TIdIPVersion version_;
  TReplyStatus lastReply_;
  std::uint32_t sent_ = 0;
};

}  // namespace

TReplyStatus TargetReachedReply(const std::string& target) {
  TReplyStatus reply;
  reply.ReplyFrom = target;
  reply.StatusKind = TReplyStatusKind::rskEchoReply;
  reply.IcmpType = IsIPv6Text(target) ? Id_ICMPV6_ECHOREPLY : Id_ICMP_ECHOREPLY;
  return reply;
}

bool JudgeProbeError(bool ipv6, std::uint8_t type, std::uint8_t code, const std::string& sender,
                     bool fromTarget, const std::string& target, TReplyStatus& reply) {
  const std::uint8_t timeExceeded = ipv6 ? Id_ICMPV6_TIMXCEED : Id_ICMP_TIMXCEED;
  const std::uint8_t unreachable = ipv6 ? Id_ICMPV6_UNREACH : Id_ICMP_UNREACH;
  const std::uint8_t portUnreachable = ipv6 ? Id_ICMPV6_UNREACH_PORT : Id_ICMP_UNREACH_PORT;
  if (type == unreachable && code == portUnreachable && fromTarget) {
    reply = TargetReachedReply(target);
  } else if (type == timeExceeded || type == unreachable) {
    reply = TReplyStatus{};
    reply.ReplyFrom = fromTarget ? target : sender;
    reply.IcmpType = type;
    reply.IcmpCode = code;
    reply.StatusKind =
        type == timeExceeded ? TReplyStatusKind::rskTtlExpired : TReplyStatusKind::rskUnreachable;
  } else {
    return false;
  }
  return true;
}

std::unique_ptr<TIdProbe> CreateTransportProbe(TProbeMethod method, TIdIPVersion version) {
  return std::make_unique<TTransportProbe>(method, version);
}

}  // namespace quillon
