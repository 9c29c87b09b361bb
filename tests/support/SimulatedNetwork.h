// A simulated network behind the socket stack, for tests: no privileges, no real
// traffic, no randomness of its own.
//
// Quick use (link quillon_testsupport, include "support/SimulatedNetwork.h"):
//
//   TSimConfig config;
//   config.Target = "10.9.9.9";
//   config.Route = {TSimHop::Router("10.0.0.1", 5),         // hop 1: time exceeded after 5 ms
//                   TSimHop::Silent("10.0.0.2"),            // hop 2: forwards, never answers
//                   TSimHop::Destination("10.9.9.9", 20)};  // hop 3: echo reply after 20 ms
//   config.ForwardNames["target.test"] = TSimForward::To("10.9.9.9");
//   config.ReverseNames["10.0.0.1"] = TSimReverse::Name("gw.test");
//   config.ReverseNames["10.9.9.9"] = TSimReverse::Name("target.test", 30);  // answers late
//   TSimNetwork& net = InstallSimulatedNetwork(config);  // also sets GSocketStackClass
//   ... create components and run the trace ...
//   net.Sent();      // every datagram sent, with its socket's TTL and bytes
//   net.Lookups();   // every forward and reverse lookup, with its result
//   net.Counters();  // sockets opened/open, answers dropped, peak concurrent lookups...
//
// UDP and TCP probes (SockOpenProbe, SockConnect, SockProbeAnswer) travel the
// same routes; each answer reaches only the probe's own socket, as the error
// queue hands it over: time exceeded from a router, the target reached from the
// destination, an unreachable with its code. A hop with DropsEcho drops the
// ICMP echo requests it forwards, as a firewall that passes UDP and TCP does.
//
// Other knobs: TSimHop::Unreachable (type 3 code 13), FirstAnsweredAttempt (a
// retry gets the answer), Duplicates, TruncateTo; TSimConfig::Strays (redirects,
// echo replies and time-exceeded messages for other sequences, truncated
// datagrams, raw bytes) and net.Inject(bytes); the *Failure fields (open, TTL,
// send, select, receive, every lookup; Count -1 for every call, n for the next
// n); TSimReverse::HeldName plus net.ReleaseHeldLookups() to keep name workers
// busy until the test lets them go; net.Update(...) to change the network while
// a run goes on; net.WaitForSent(n, ms) to wait for workers without sleeping.
//
// Behaviour, as a host with raw ICMP sockets would see it:
// - A request sent with TTL t travels the route: the hop at position p receives it
//   with TTL t-(p-1). A router answers time exceeded (type 11) when that is 1, a
//   silent hop drops it there, an unreachable hop answers type 3 to every request
//   that reaches it, the destination hop answers a valid echo request (type 8,
//   correct checksum) with an echo reply, whatever TTL is left; a request that
//   runs past the end of the route is lost. Requests to addresses without a route
//   are lost, except loopback (127/8): there every raw socket sees the request
//   itself, then the reply, as a kernel delivers them over the loopback device.
// - An answer is a whole IPv4 datagram (20-byte header, TTL byte, source address)
//   delivered after the hop's delay to every raw ICMP socket open at that moment,
//   the sender's included. Errors quote the request's IP header and its first 8
//   bytes. Datagrams reach a socket in the order of their delivery time; strays
//   due at the same moment as an answer come before it.
// - IPv6: a route whose target and hops are IPv6 text is travelled by requests
//   from an IPv6 ICMP socket (family Id_PF_INET6, protocol 58) alike; answers
//   are ICMPv6 (echo reply 129, time exceeded 3, unreachable 1 with the hop's
//   UnreachableCode6) in the datagram the real stack rebuilds (a 40-byte IPv6
//   header, IcmpDatagram.h), delivered to the IPv6 sockets only. An ICMPv6
//   echo request is answered whatever its checksum: the kernel writes it.
// - Time is real (std::chrono::steady_clock): keep delays short and well apart
//   from each other and from the time-outs a test uses, so that ordering never
//   depends on chance.
// - Error codes are the Winsock numbers the stack's error texts use.
// - The network lives for the whole process; InstallSimulatedNetwork resets it
//   (configuration, queues, records, counters, attempt counts). Sockets still
//   open stay open, so free every component a test creates.
//
// Everything is guarded by one mutex; the network can be read and changed from
// any thread while workers run.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "net/IdIcmpClient.h"
#include "net/IdStack.h"

namespace quillon {

enum class TSimHopKind : std::uint8_t {
  Router,       // answers time exceeded when the request's TTL runs out here
  Silent,       // forwards, but drops without answer when the TTL runs out here
  Unreachable,  // answers destination unreachable to every request reaching it
  Destination,  // answers echo requests with echo replies (the target)
};

struct TSimHop {
  std::string Address;
  TSimHopKind Kind = TSimHopKind::Router;
  int DelayMs = 0;
  // Per TTL, the requests before this attempt (1-based) that this hop would
  // answer are dropped: 2 means the first request with a given TTL goes
  // unanswered and the retry is answered.
  int FirstAnsweredAttempt = 1;
  // TTL byte of the answer on arrival; 0: 65 - position (64 from hop 1).
  std::uint8_t ReplyTtl = 0;
  std::uint8_t UnreachableCode = 13;
  std::uint8_t UnreachableCode6 = 1;  // administratively prohibited
  int Duplicates = 0;                 // extra copies of every answer, delivered right after it
  int TruncateTo = 0;                 // deliver only this many bytes of every answer (0: whole)
  bool DropsEcho = false;             // drops the ICMP echo requests it forwards (not UDP, not TCP)

  static TSimHop Router(std::string address, int delayMs = 0);
  static TSimHop Silent(std::string address);
  static TSimHop Unreachable(std::string address, int delayMs = 0);
  static TSimHop Destination(std::string address, int delayMs = 0);
};

// A forward lookup (name to address): an address, or a failure code.
struct TSimForward {
  std::string Address;
  std::int32_t FailCode = 0;  // non-zero: the lookup fails with this code
  int DelayMs = 0;
  static TSimForward To(std::string address, int delayMs = 0);
  static TSimForward Failure(std::int32_t code = Id_WSAHOST_NOT_FOUND);
};

// A reverse lookup (address to name): a name, a failure code, a delay, or held
// until the test releases it (ReleaseHeldLookups).
struct TSimReverse {
  std::string HostName;
  std::int32_t FailCode = 0;
  int DelayMs = 0;
  bool Held = false;
  static TSimReverse Name(std::string name, int delayMs = 0);
  static TSimReverse Failure(std::int32_t code = Id_WSAHOST_NOT_FOUND, int delayMs = 0);
  static TSimReverse HeldName(std::string name);
};

// A TXT question's answer: records of strings (none: "no record"), a failure
// code, a delay, or held until the test releases it (ReleaseHeldLookups).
struct TSimText {
  std::vector<std::vector<std::string>> Records;
  std::int32_t FailCode = 0;
  int DelayMs = 0;
  bool Held = false;
  static TSimText Record(std::vector<std::string> strings, int delayMs = 0);
  static TSimText Failure(std::int32_t code = Id_WSATRY_AGAIN);
  static TSimText HeldRecord(std::vector<std::string> strings);
};

// A failing call: Code 0 is off; Count -1 fails every call, n > 0 the next n.
struct TSimFailure {
  std::int32_t Code = 0;
  int Count = -1;
};

enum class TSimStrayKind : std::uint8_t {
  Redirect,                   // type 5 code 1 from From, quoting the request
  EchoReplyOtherSequence,     // type 0 from From, the request's sequence + 1
  TimeExceededOtherSequence,  // type 11 from From, quoting the request with sequence + 1
  Truncated,                  // a time exceeded about the request, cut to Length bytes
  Raw,                        // Bytes as they are
};

// A datagram delivered to every raw socket alongside the answer of each request
// sent (or only of those sent with TTL Ttl), DelayMs after the send.
struct TSimStray {
  TSimStrayKind Kind = TSimStrayKind::Redirect;
  std::string From = "10.255.0.1";
  int DelayMs = 0;
  int Ttl = 0;                      // 0: requests of any TTL
  int Count = -1;                   // how many times; -1 always
  int Length = 24;                  // for Truncated
  std::vector<std::uint8_t> Bytes;  // for Raw
};

struct TSimConfig {
  std::string LocalAddress = "10.0.0.100";  // source of requests, destination of answers
  std::string LocalAddress6 = "2001:db8::100";
  std::string Target;  // destination that follows Route
  std::vector<TSimHop> Route;
  // Further destinations with routes of their own (address text -> hops).
  std::map<std::string, std::vector<TSimHop>> OtherRoutes;
  bool LoopbackAnswers = true;      // 127/8: the request itself, then the echo reply
  bool LoopbackSeesRequest = true;  // the request too, not only the reply
  int DefaultSocketTtl = 64;
  // Datagrams a socket holds before it drops new ones, as a full receive
  // buffer does (a socket nobody reads, like the window's own, stays bounded).
  int SocketQueueLimit = 256;

  // Keys compare ignoring letter case; names not listed resolve when they are
  // numeric address text (as the system resolver does), else fail with
  // UnknownNameCode. "localhost" is listed by default.
  std::map<std::string, TSimForward> ForwardNames{{"localhost", TSimForward::To("127.0.0.1")}};
  std::int32_t UnknownNameCode = Id_WSAHOST_NOT_FOUND;
  std::map<std::string, TSimReverse> ReverseNames{{"127.0.0.1", TSimReverse::Name("localhost")}};
  std::int32_t UnknownAddressCode = Id_WSAHOST_NOT_FOUND;
  // TXT questions by name (exact); a name not listed has no record.
  std::map<std::string, TSimText> TextRecords;

  std::vector<TSimStray> Strays;

  TSimFailure OpenFailure;       // SockOpen (10013 as without the right to open raw sockets)
  TSimFailure SetOptionFailure;  // SockSetOption
  TSimFailure SendFailure;       // SockSendTo (10040: "Package Size Too Big.")
  int SendShortBy = 0;           // SockSendTo reports this many bytes fewer than given
  TSimFailure SelectFailure;     // SockSelect
  TSimFailure ReceiveFailure;    // SockRecv (the datagram stays queued)
  TSimFailure LookupFailure;     // every forward and reverse lookup
  bool StackCreationFails =
      false;  // the stack's constructor raises "Winsock Initialization Error."
};

struct TSimSentDatagram {
  TIdStackSocketHandle Socket = Id_INVALID_SOCKET;
  int Ttl = 0;
  std::string Address;  // as the caller gave it
  int Port = 0;
  std::vector<std::uint8_t> Bytes;  // the ICMP message as handed to the send
  std::uint16_t Sequence = 0;       // bytes 6..7, least significant byte first (0 if shorter)
};

enum class TSimLookupKind : std::uint8_t { Forward, Reverse, Text };

struct TSimLookup {
  TSimLookupKind Kind = TSimLookupKind::Forward;
  std::string Query;
  std::string Result;          // empty on failure
  std::int32_t ErrorCode = 0;  // 0 on success
};

struct TSimSelectCall {
  int TimeoutMs = 0;
  std::vector<TIdStackSocketHandle> ReadList;
  int Result = 0;
};

struct TSimCounters {
  int StacksCreated = 0;
  int SocketsOpened = 0;
  int SocketsClosed = 0;
  int OpenSockets = 0;
  int PeakOpenSockets = 0;
  int DatagramsSent = 0;
  int DatagramsDelivered = 0;  // per socket: one answer seen by three sockets counts 3
  int DatagramsReceived = 0;
  int DatagramsOverflowed = 0;  // dropped at a full socket queue
  int AnswersDropped = 0;       // held back by FirstAnsweredAttempt
  int BadChecksumRequests = 0;  // echo requests the destination ignored
  int ForwardLookups = 0;
  int ReverseLookups = 0;
  int TextLookups = 0;
  int ActiveLookups = 0;
  int PeakConcurrentLookups = 0;
};

// Builders of the datagrams a raw socket receives, for tests that craft their own.
namespace simpacket {
using Bytes = std::vector<std::uint8_t>;
// RFC 1071 checksum as the two bytes to store (first byte first on the wire).
std::uint16_t Checksum(const std::uint8_t* data, std::size_t length);
// 20-byte IPv4 header (protocol ICMP, correct header checksum) followed by payload.
Bytes Ipv4(const std::string& source, const std::string& destination, std::uint8_t ttl,
           const Bytes& payload, std::uint16_t id = 0);
// An ICMP error (type 3, 5, 11...) quoting the IP header and first 8 bytes of
// the original datagram; the 4 bytes after the checksum hold `rest`.
Bytes IcmpError(std::uint8_t type, std::uint8_t code, const Bytes& original,
                std::uint32_t rest = 0);
// An echo reply (type 0) or request (type 8) with the identifier and sequence
// least significant byte first, as this program writes them, then the data.
Bytes Echo(std::uint8_t type, std::uint16_t identifier, std::uint16_t sequence,
           const Bytes& data = {});
}  // namespace simpacket

class TSimNetwork {
 public:
  using Clock = std::chrono::steady_clock;

  // The process-wide network every TSimulatedStack uses (never destroyed).
  static TSimNetwork& Instance();

  // Replaces the configuration and forgets queued datagrams, records and
  // counters (open sockets stay open, with empty queues). Both raise
  // std::invalid_argument, changing nothing, for an address that does not parse.
  void Reset(const TSimConfig& config);
  // Changes the configuration in place, under the lock (so the change must not
  // call back into the network).
  void Update(const std::function<void(TSimConfig&)>& change);
  TSimConfig Config() const;

  // Delivers a datagram to every raw socket open after delayMs.
  void Inject(const simpacket::Bytes& datagram, int delayMs = 0);
  // Lets every held reverse lookup finish (and later ones pass unheld).
  void ReleaseHeldLookups();
  // Waits until at least n datagrams have been sent, or the time has passed;
  // false on time-out.
  bool WaitForSent(int n, int timeoutMs);
  // Waits until the counters satisfy the condition (checked under the lock, so
  // it must not call back into the network), or the time has passed.
  bool WaitUntil(const std::function<bool(const TSimCounters&)>& condition, int timeoutMs);
  // Datagrams on their way that no socket has been handed yet (answers still
  // delayed): 0 after a request that nothing will ever answer.
  int InFlight() const;
  // Datagrams waiting on a socket right now (-1: no such socket).
  int QueuedOn(TIdStackSocketHandle socket);

  std::vector<TSimSentDatagram> Sent() const;
  std::vector<TSimLookup> Lookups() const;
  std::vector<TSimSelectCall> Selects() const;
  TSimCounters Counters() const;
  // TTL set on an open socket (-1: no such socket).
  int SocketTtl(TIdStackSocketHandle socket) const;

  // --- the stack's operations (called by TSimulatedStack) ---
  void StackCreated();
  TIdStackSocketHandle Open(int family, int type, int protocol);
  int Close(TIdStackSocketHandle socket);
  int Shutdown(TIdStackSocketHandle socket, int how);
  int SetOption(TIdStackSocketHandle socket, int level, int optionName, const void* value,
                int valueLength);
  int SendTo(TIdStackSocketHandle socket, const void* buffer, int length,
             const TIdIPv4Bytes& destination, const std::string& address, int port);
  int Recv(TIdStackSocketHandle socket, void* buffer, int length);
  TIdStackSocketHandle OpenProbe(TIdIPVersion version, int type, int ttl);
  int Connect(TIdStackSocketHandle socket, const TIdIPv4Bytes& destination,
              const std::string& address, int port);
  int ProbeAnswer(TIdStackSocketHandle socket, TReplyStatus& reply);
  int Select(TIdSocketList* readList, TIdSocketList* writeList, TIdSocketList* errorList,
             int timeoutMs);
  // Address text, or the error code to fail with.
  std::string ResolveName(const std::string& name, std::int32_t& errorCode);
  std::string ResolveAddress(const std::string& address, std::int32_t& errorCode);
  TIdTextAnswer QueryText(const std::string& name, std::int32_t& errorCode);

  // The calling thread's last error, as GetSocketError returns it.
  static std::int32_t ThreadError();
  static void SetThreadError(std::int32_t code);

 private:
  TSimNetwork();

  struct Socket {
    bool V6 = false;
    int Protocol = 0;
    int Ttl = 64;
    bool SendShut = false;
    Clock::time_point OpenedAt;
    std::deque<simpacket::Bytes> Queue;
    int Transport = 0;                 // Id_SOCK_DGRAM, Id_SOCK_STREAM: a UDP or TCP probe's socket
    std::deque<TReplyStatus> Answers;  // of a probe's socket
  };
  struct Pending {
    Clock::time_point Due;
    std::uint64_t Order = 0;
    simpacket::Bytes Datagram;
    bool V6 = false;                              // for the IPv6 sockets
    TIdStackSocketHandle To = Id_INVALID_SOCKET;  // a probe's socket: Answer is for it alone
    TReplyStatus Answer;
  };

  // One request on its way: the ICMP message, where it goes, its TTL when sent
  // and the IP identification its datagram carries.
  struct Request {
    const simpacket::Bytes& Message;
    TIdIPv4Bytes Destination;
    std::string DestinationText;  // dotted
    int Ttl;
    std::uint16_t Id;
    Clock::time_point Sent;
    bool V6 = false;  // DestinationText is canonical IPv6 text, Destination unused
    TIdStackSocketHandle Probe = Id_INVALID_SOCKET;  // a UDP or TCP probe's socket
  };

  bool Fails(TSimFailure& failure);  // consumes one failure; sets the thread's error
  void Deliver(Clock::time_point now);
  void Schedule(simpacket::Bytes datagram, Clock::time_point due, bool v6 = false);
  void Route(const Request& request);
  void Answer(const TSimHop& hop, int position, const simpacket::Bytes& message,
              Clock::time_point sent, bool v6 = false);
  void Strays(const Request& request);
  // Whether the hop answers this attempt (FirstAnsweredAttempt).
  bool Answers(const Request& request, std::size_t index, const TSimHop& hop);
  // The answer to a UDP or TCP probe, to its socket alone.
  void AnswerProbe(const TSimHop& hop, int position, const Request& request);
  // The request's datagram as a hop sees it, with the TTL it has there.
  simpacket::Bytes Outgoing(const Request& request, const simpacket::Bytes& message,
                            int ttlThere) const;
  void LookupDelay(std::unique_lock<std::mutex>& lock, int delayMs, bool held);
  bool BeginLookup(std::int32_t& errorCode);
  void EndLookup(TSimLookupKind kind, const std::string& query, const std::string& result,
                 std::int32_t errorCode);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  TSimConfig config_;
  std::map<TIdStackSocketHandle, Socket> sockets_;
  std::vector<Pending> pending_;  // kept sorted by (Due, Order)
  // (destination, hop index, TTL) -> requests that hop would have answered
  std::map<std::tuple<std::string, std::size_t, int>, int> attempts_;
  std::vector<TSimSentDatagram> sent_;
  std::vector<TSimLookup> lookups_;
  std::vector<TSimSelectCall> selects_;
  TSimCounters counters_;
  TIdStackSocketHandle nextSocket_ = 1000;
  std::uint64_t nextOrder_ = 0;
  std::uint16_t nextIpId_ = 1;
  std::uint64_t releaseGeneration_ = 0;  // bumped by ReleaseHeldLookups and Reset
  bool released_ = false;
};

// The TIdStack that routes every call to TSimNetwork::Instance().
class TSimulatedStack : public TIdStack {
 public:
  TSimulatedStack();  // EIdStackInitializationFailed when the network says so

  int SockClose(TIdStackSocketHandle socket) override;
  int SockShutdown(TIdStackSocketHandle socket, int how) override;
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
  // A configured name of the family asked for, or the unknown-name code.
  std::string HostNameToAddrOf(const std::string& hostName, TIdIPVersion version) override;
  // A TXT question answered from TSimConfig::TextRecords.
  TIdTextAnswer QueryText(const std::string& name, int timeoutMs) override;
  TIdStackSocketHandle SockOpenProbe(TIdIPVersion version, int type, int ttl) override;
  int SockConnect(TIdStackSocketHandle socket, const std::string& address, int port) override;
  int SockProbeAnswer(TIdStackSocketHandle socket, const std::string& target,
                      TReplyStatus& reply) override;

 private:
  TSimNetwork& net_;
};

std::unique_ptr<TIdStack> MakeSimulatedStack();

// Resets the network to the configuration and makes GSocketStackClass create
// simulated stacks. Call before any socket-layer component exists.
TSimNetwork& InstallSimulatedNetwork(const TSimConfig& config = {});

}  // namespace quillon
