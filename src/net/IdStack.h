// The process-wide socket stack: every socket call and name lookup of the
// program goes through the one TIdStack in GSocketStack. The concrete class is
// chosen through GSocketStackClass (the POSIX stack in the program, a simulated
// network in tests) before any socket-layer component exists.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "net/IdIPAddress.h"
#include "net/IdStackConsts.h"
#include "net/IdTextQuery.h"

namespace quillon {

struct TReplyStatus;

enum class TAddressTextKind : std::uint8_t { atInvalid = 0, atDotted = 1, atNumeric = 2 };
enum class TAddressClass : std::uint8_t { acNone = 0, acA, acB, acC, acD, acE };

using TIdIPv4Bytes = std::array<std::uint8_t, 4>;  // network order: first byte of the text first
using TIdSocketList = std::vector<TIdStackSocketHandle>;

class TIdStack {
 public:
  TIdStack() = default;
  TIdStack(const TIdStack&) = delete;
  TIdStack& operator=(const TIdStack&) = delete;
  virtual ~TIdStack() = default;

  // --- operations of the concrete stack (plain pass-through to the system) ---
  virtual int SockClose(TIdStackSocketHandle socket) = 0;
  virtual int SockShutdown(TIdStackSocketHandle socket, int how) = 0;
  // The family, type and protocol; returns the socket or Id_INVALID_SOCKET.
  virtual TIdStackSocketHandle SockOpen(int family, int type, int protocol) = 0;
  virtual int SockSetOption(TIdStackSocketHandle socket, int level, int optionName,
                            const void* value, int valueLength) = 0;
  // The caller's reply time-out in ms (-2: no limit) for requests sent on the
  // socket, for a stack whose sends wait for their answer themselves (Windows's
  // ICMP service); a socket's wait is the caller's own, so by default nothing.
  virtual void SockSetReplyTimeout(TIdStackSocketHandle /*socket*/, int /*timeoutMs*/) {}
  // Byte count of one datagram, or -1.
  virtual int SockRecv(TIdStackSocketHandle socket, void* buffer, int length, int flags) = 0;
  // Builds the IPv4 address from TextToAddr(address) and the port; byte count or -1.
  virtual int SockSendTo(TIdStackSocketHandle socket, const void* buffer, int length, int flags,
                         const std::string& address, int port) = 0;
  // Lists of at most 64 handles (nullptr: no list); each list passed is refilled
  // with its ready handles. Time-out in ms, -2 without limit. Count ready, 0 on
  // time-out, -1 on failure.
  virtual int SockSelect(TIdSocketList* readList, TIdSocketList* writeList,
                         TIdSocketList* errorList, int timeoutMs) = 0;
  // The calling thread's last socket error, as a Winsock-numbered code.
  virtual std::int32_t GetSocketError() = 0;
  // First IPv4 address of a host name (or dotted text) as address text; raises
  // EIdSocketError on failure (11001 for an unknown host).
  virtual std::string HostNameToAddr(const std::string& hostName) = 0;
  // The official host name of an address text; raises EIdSocketError on failure.
  virtual std::string AddrToHostName(const std::string& address) = 0;
  // The first address of a host name in the family asked for (ivAny: the
  // resolver's first of either) as address text; EIdSocketError as
  // HostNameToAddr. This default knows IPv4 names only.
  virtual std::string HostNameToAddrOf(const std::string& hostName, TIdIPVersion version);
  // The TXT records of a name through the system's resolver, waiting for
  // each server no longer than the system's own wait and timeoutMs, where the
  // system lets the wait be chosen; no records when the name has none.
  // EIdSocketError when no answer came. This default has no resolver and
  // always fails.
  virtual TIdTextAnswer QueryText(const std::string& name, int timeoutMs);

  // How the system finds an interface's index by name; none where it cannot
  // (a zone is then taken as it is written).
  virtual TIdInterfaceIndexOf InterfaceIndexOf();
  // "Socket Error # %d\r\n%s" with the table text for the code.
  virtual std::string SocketErrorText(std::int32_t errorCode);
  // The identifier that the system writes into the echo requests sent on the
  // socket in place of ours (an ICMP datagram socket's port), as the value of
  // bytes 4..5 read least significant byte first; nothing where ours goes out.
  virtual std::optional<std::uint16_t> SockEchoIdentifier(TIdStackSocketHandle socket);
  // --- UDP and TCP probes: ordinary sockets that the routers' errors reach ---
  // A non-blocking UDP (Id_SOCK_DGRAM) or TCP (Id_SOCK_STREAM) socket of the
  // family, its TTL or hop limit at ttl, that receives the ICMP errors about
  // what it sends with their sender and arrival TTL. Id_INVALID_SOCKET, with
  // the socket error set, when it cannot be had. This default has none.
  virtual TIdStackSocketHandle SockOpenProbe(TIdIPVersion version, int type, int ttl);
  // Starts a TCP connect without waiting: 0 when it completed at once, else -1
  // with the socket error (Id_WSAEWOULDBLOCK or 10036 while it is under way).
  virtual int SockConnect(TIdStackSocketHandle socket, const std::string& address, int port);
  // The answer a probe socket holds about its probe to target: 1 with reply
  // filled (the answering address, the kind, the ICMP type and code, the
  // arrival TTL where the system gives it; a connect completed or refused is
  // the target reached), 0 when there is none (yet), -1 on failure. A socket
  // select reports readable or writable may hold one.
  virtual int SockProbeAnswer(TIdStackSocketHandle socket, const std::string& target,
                              TReplyStatus& reply);
  // Each byte in decimal, joined by ".".
  virtual std::string AddrToText(const TIdIPv4Bytes& bytes);
  // Parses into target (byte1 first) or raises EIdInvalidIPAddress.
  virtual void TextToAddrInto(const std::string& text, TIdIPv4Bytes& target);

  // --- non-virtual helpers ---
  // Returns for results other than -1; for -1 raises EIdSocketError for GetSocketError().
  void CheckSocketCall(int result);
  [[noreturn]] void RaiseSocketFailure(std::int32_t errorCode);
  // A socket of the family (ivAny counts as IPv4), type and protocol, or
  // EIdInvalidSocket.
  TIdStackSocketHandle OpenSocket(int socketType, int protocol,
                                  TIdIPVersion version = TIdIPVersion::ivIPv4);
  // The address a trace of the host goes to: a literal decides its own family
  // (an IPv6 one comes back canonical, IPv4-mapped as dotted IPv4); "localhost"
  // and the names under it are loopback without a lookup (RFC 6761); any other
  // name is looked up in the family asked for. EIdSocketError (11001) when
  // there is none; EIdInvalidTarget for the unspecified address, a link-local
  // one without its zone, a zone on any other than a link-local or multicast
  // address, or a zone that names no interface.
  std::string ResolveHost(const std::string& host, TIdIPVersion version);
  // "LOCALHOST" in any case gives "127.0.0.1"; address text (IPv6 too) passes
  // unchanged; anything else goes through HostNameToAddr.
  std::string HostToAddressText(const std::string& host);
  bool IsAddressText(const std::string& text);
  bool AddressTextIsKind(const std::string& text, TAddressTextKind kind);
  TAddressTextKind AddressTextKind(const std::string& text);
  bool ParseAddressText(const std::string& text, std::uint8_t* byte1 = nullptr,
                        std::uint8_t* byte2 = nullptr, std::uint8_t* byte3 = nullptr,
                        std::uint8_t* byte4 = nullptr, TAddressTextKind* kind = nullptr,
                        TAddressClass* addressClass = nullptr);
  // The 32-bit address whose bytes in memory are byte1..byte4 (network order).
  std::uint32_t TextToAddr(const std::string& text);

  // Last code CheckSocketCall fetched (written by whichever thread failed last).
  std::atomic<std::int32_t> LastErrorCode{0};
};

using TIdStackClass = std::unique_ptr<TIdStack> (*)();

// The stack itself while any socket-layer component lives; read without a lock.
extern std::atomic<TIdStack*> GSocketStack;
// How the stack is made; set before any component exists.
extern TIdStackClass GSocketStackClass;
// Guards GSocketUserCount and the creation and release of GSocketStack.
extern std::mutex GSocketStackLock;
extern std::int32_t GSocketUserCount;
// Set once the socket library has started; never cleared.
extern std::atomic<bool> GSocketStarted;
// Where the system has an ICMP service of its own (Windows), probes go through
// it unless this is set (--raw-sockets): then a raw socket is tried first.
extern std::atomic<bool> GRawSocketsFirst;

// The platform's own stack: the default of GSocketStackClass.
std::unique_ptr<TIdStack> CreateSystemStack();
// Program end: the library's clean-up once if it was started, then its release.
void ShutdownSocketLayer();

// The stack in force (never null while a component lives).
inline TIdStack& Stack() {
  return *GSocketStack.load(std::memory_order_acquire);
}

}  // namespace quillon
