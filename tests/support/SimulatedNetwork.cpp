#include "support/SimulatedNetwork.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>

#include "net/IcmpDatagram.h"
#include "net/IdException.h"
#include "net/IdIPAddress.h"
#include "net/IdIcmpClient.h"
#include "net/IdStackConsts.h"
#include "net/TransportProbe.h"

namespace quillon {

namespace {

thread_local std::int32_t tLastError = 0;

constexpr int kMaxIcmpMessage = 65535 - 20;
constexpr std::uint8_t kStrayTtl = 60;
constexpr std::int32_t kNotSocket = 10038;
constexpr std::int32_t kProtocolNotSupported = 10043;
constexpr std::int32_t kSocketTypeNotSupported = 10044;
constexpr std::int32_t kProtocolOptionBad = 10042;
constexpr std::int32_t kFamilyNotSupported = 10047;
constexpr std::int32_t kNotConnected = 10057;
constexpr std::int32_t kShutDown = 10058;

// The C library's classic reading of address text (inet_aton), which every
// platform's resolver shares: one to four parts, each decimal, octal (leading 0)
// or hexadecimal (0x), the last part filling the bytes that remain. The count
// of parts goes to parts.
bool ClassicAddress(const std::string& text, TIdIPv4Bytes& bytes, int* parts = nullptr) {
  std::uint64_t values[4] = {};
  int count = 0;
  std::size_t i = 0;
  for (;;) {
    if (count == 4 || i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) {
      return false;
    }
    int base = 10;
    if (text[i] == '0') {
      base = 8;
      if (i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
      }
    }
    std::uint64_t value = 0;
    for (; i < text.size() && text[i] != '.'; ++i) {
      const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
      const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                        : (c >= 'a' && c <= 'f')                    ? c - 'a' + 10
                                                                    : 99;
      if (digit >= base) return false;
      value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
      if (value > 0xFFFFFFFFu) return false;
    }
    values[count++] = value;
    if (i >= text.size()) break;
    ++i;  // the dot
  }
  std::uint64_t address = 0;
  for (int k = 0; k < count - 1; ++k) {
    if (values[k] > 0xFF) return false;
    address |= values[k] << (24 - 8 * k);
  }
  if (values[count - 1] > (0xFFFFFFFFu >> (8 * (count - 1)))) return false;
  address |= values[count - 1];
  for (int k = 0; k < 4; ++k)
    bytes[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(address >> (24 - 8 * k));
  if (parts != nullptr) *parts = count;
  return true;
}

// An IPv6 address the test configured, as canonical text.
std::string ConfiguredAddress6(const std::string& text) {
  const std::optional<std::string> canonical = CanonicalIPv6Text(text);
  if (!canonical || !IsIPv6Text(*canonical)) {
    throw std::invalid_argument("simulated network: not an IPv6 address: \"" + text + "\"");
  }
  return *canonical;
}

TIdIPv6Bytes Bytes6(const std::string& text) {
  TIdIPv6Address address;
  ParseIPv6Text(text, address);
  return address.Bytes;
}

// Addresses the test configured; a typo there is a fault of the test itself.
TIdIPv4Bytes ConfiguredAddress(const std::string& text) {
  TIdIPv4Bytes bytes{};
  int parts = 0;
  if (!ClassicAddress(text, bytes, &parts) || parts != 4) {
    throw std::invalid_argument("simulated network: not an IPv4 address: \"" + text + "\"");
  }
  return bytes;
}

std::string Dotted(const TIdIPv4Bytes& bytes) {
  return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
         std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
}

void Put16BigEndian(simpacket::Bytes& bytes, std::size_t at, std::uint16_t value) {
  bytes[at] = static_cast<std::uint8_t>(value >> 8);
  bytes[at + 1] = static_cast<std::uint8_t>(value & 0xFF);
}

std::uint16_t Get16LittleEndian(const simpacket::Bytes& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

void Put16LittleEndian(simpacket::Bytes& bytes, std::size_t at, std::uint16_t value) {
  bytes[at] = static_cast<std::uint8_t>(value & 0xFF);
  bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void StoreChecksum(simpacket::Bytes& message, std::size_t at) {
  message[at] = 0;
  message[at + 1] = 0;
  Put16BigEndian(message, at,
                 simpacket::Checksum(message.data() + (at - 2), message.size() - (at - 2)));
}

// An echo request a host would answer: whole header, type 8, checksum correct.
bool IsValidEchoRequest(const simpacket::Bytes& message) {
  return message.size() >= 8 && message[0] == Id_ICMP_ECHO &&
         simpacket::Checksum(message.data(), message.size()) == 0;
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) {
             return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
           };
           return lower(x) == lower(y);
         });
}

// Every address of the configuration must parse, so that a typo fails the
// test's set-up instead of a worker's send somewhere later.
void Validate(const TSimConfig& config) {
  ConfiguredAddress(config.LocalAddress);
  ConfiguredAddress6(config.LocalAddress6);
  // A route is of the family of its destination, every hop included.
  const auto route = [](const std::string& destination, const std::vector<TSimHop>& hops) {
    const auto check = [v6 = IsIPv6Text(destination)](const std::string& address) {
      v6 ? (void)ConfiguredAddress6(address) : (void)ConfiguredAddress(address);
    };
    check(destination);
    for (const TSimHop& hop : hops) check(hop.Address);
  };
  if (!config.Target.empty()) {
    route(config.Target, config.Route);
  }
  for (const auto& [address, hops] : config.OtherRoutes) {
    route(address, hops);
  }
  for (const TSimStray& stray : config.Strays) {
    if (stray.Kind != TSimStrayKind::Raw) {
      ConfiguredAddress(stray.From);
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Datagram builders

namespace simpacket {

std::uint16_t Checksum(const std::uint8_t* data, std::size_t length) {
  std::uint32_t sum = 0;
  std::size_t i = 0;
  for (; i + 1 < length; i += 2) {
    sum += static_cast<std::uint32_t>((data[i] << 8) | data[i + 1]);
  }
  if (i < length) {
    sum += static_cast<std::uint32_t>(data[i] << 8);
  }
  while ((sum >> 16) != 0) {
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

Bytes Ipv4(const std::string& source, const std::string& destination, std::uint8_t ttl,
           const Bytes& payload, std::uint16_t id) {
  Bytes datagram(20 + payload.size(), 0);
  datagram[0] = 0x45;  // version 4, five 32-bit words of header
  Put16BigEndian(datagram, 2, static_cast<std::uint16_t>(datagram.size()));
  Put16BigEndian(datagram, 4, id);
  datagram[8] = ttl;
  datagram[9] = 1;  // ICMP
  const TIdIPv4Bytes from = ConfiguredAddress(source);
  const TIdIPv4Bytes to = ConfiguredAddress(destination);
  std::copy(from.begin(), from.end(), datagram.begin() + 12);
  std::copy(to.begin(), to.end(), datagram.begin() + 16);
  Put16BigEndian(datagram, 10, Checksum(datagram.data(), 20));
  std::copy(payload.begin(), payload.end(), datagram.begin() + 20);
  return datagram;
}

Bytes IcmpError(std::uint8_t type, std::uint8_t code, const Bytes& original, std::uint32_t rest) {
  const std::size_t headerLength =
      original.empty() ? 0 : static_cast<std::size_t>(original[0] & 0x0F) * 4;
  const std::size_t quoted = std::min(original.size(), headerLength + 8);
  Bytes message(8 + quoted, 0);
  message[0] = type;
  message[1] = code;
  for (std::size_t i = 0; i < 4; ++i) {
    message[4 + i] = static_cast<std::uint8_t>(rest >> (24 - 8 * i));
  }
  std::copy(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(quoted),
            message.begin() + 8);
  StoreChecksum(message, 2);
  return message;
}

Bytes Echo(std::uint8_t type, std::uint16_t identifier, std::uint16_t sequence, const Bytes& data) {
  // No datagram carries more than 64 KiB; bounding the data so also tells GCC 12
  // at -O3 that the size cannot wrap to an empty (null) buffer, which it warned of.
  const std::size_t carried = std::min<std::size_t>(data.size(), 0xFFFF);
  Bytes message(8 + carried, 0);
  message[0] = type;
  Put16LittleEndian(message, 4, identifier);
  Put16LittleEndian(message, 6, sequence);
  std::copy_n(data.begin(), carried, message.begin() + 8);
  StoreChecksum(message, 2);
  return message;
}

}  // namespace simpacket

// ---------------------------------------------------------------------------
// Configuration helpers

TSimHop TSimHop::Router(std::string address, int delayMs) {
  TSimHop hop;
  hop.Address = std::move(address);
  hop.Kind = TSimHopKind::Router;
  hop.DelayMs = delayMs;
  return hop;
}

TSimHop TSimHop::Silent(std::string address) {
  TSimHop hop;
  hop.Address = std::move(address);
  hop.Kind = TSimHopKind::Silent;
  return hop;
}

TSimHop TSimHop::Unreachable(std::string address, int delayMs) {
  TSimHop hop = Router(std::move(address), delayMs);
  hop.Kind = TSimHopKind::Unreachable;
  return hop;
}

TSimHop TSimHop::Destination(std::string address, int delayMs) {
  TSimHop hop = Router(std::move(address), delayMs);
  hop.Kind = TSimHopKind::Destination;
  return hop;
}

TSimForward TSimForward::To(std::string address, int delayMs) {
  TSimForward forward;
  forward.Address = std::move(address);
  forward.DelayMs = delayMs;
  return forward;
}

TSimForward TSimForward::Failure(std::int32_t code) {
  TSimForward forward;
  forward.FailCode = code;
  return forward;
}

TSimReverse TSimReverse::Name(std::string name, int delayMs) {
  TSimReverse reverse;
  reverse.HostName = std::move(name);
  reverse.DelayMs = delayMs;
  return reverse;
}

TSimReverse TSimReverse::Failure(std::int32_t code, int delayMs) {
  TSimReverse reverse;
  reverse.FailCode = code;
  reverse.DelayMs = delayMs;
  return reverse;
}

TSimReverse TSimReverse::HeldName(std::string name) {
  TSimReverse reverse = Name(std::move(name));
  reverse.Held = true;
  return reverse;
}

// ---------------------------------------------------------------------------
// The network

TSimNetwork::TSimNetwork() = default;

TSimNetwork& TSimNetwork::Instance() {
  // Never destroyed: workers a test left running may still call in at exit.
  static TSimNetwork* const network = new TSimNetwork();
  return *network;
}

std::int32_t TSimNetwork::ThreadError() {
  return tLastError;
}
void TSimNetwork::SetThreadError(std::int32_t code) {
  tLastError = code;
}

void TSimNetwork::Reset(const TSimConfig& config) {
  Validate(config);
  std::lock_guard lock(mutex_);
  config_ = config;
  pending_.clear();
  for (auto& [handle, socket] : sockets_) {
    socket.Queue.clear();
  }
  attempts_.clear();
  sent_.clear();
  lookups_.clear();
  selects_.clear();
  const int active = counters_.ActiveLookups;
  counters_ = TSimCounters{};
  counters_.OpenSockets = static_cast<int>(sockets_.size());
  counters_.PeakOpenSockets = counters_.OpenSockets;
  counters_.ActiveLookups = active;
  counters_.PeakConcurrentLookups = active;
  ++releaseGeneration_;  // lookups held for an earlier test go on
  released_ = false;
  changed_.notify_all();
}

void TSimNetwork::Update(const std::function<void(TSimConfig&)>& change) {
  std::lock_guard lock(mutex_);
  TSimConfig changed = config_;
  change(changed);
  Validate(changed);
  config_ = std::move(changed);
  changed_.notify_all();
}

TSimConfig TSimNetwork::Config() const {
  std::lock_guard lock(mutex_);
  return config_;
}

void TSimNetwork::Inject(const simpacket::Bytes& datagram, int delayMs) {
  std::lock_guard lock(mutex_);
  Schedule(datagram, Clock::now() + std::chrono::milliseconds(std::max(delayMs, 0)));
}

void TSimNetwork::ReleaseHeldLookups() {
  std::lock_guard lock(mutex_);
  released_ = true;
  ++releaseGeneration_;
  changed_.notify_all();
}

bool TSimNetwork::WaitForSent(int n, int timeoutMs) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return static_cast<int>(sent_.size()) >= n; });
}

bool TSimNetwork::WaitUntil(const std::function<bool(const TSimCounters&)>& condition,
                            int timeoutMs) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock lock(mutex_);
  // Not every counter change notifies; a short step keeps the wait honest.
  while (!condition(counters_)) {
    const Clock::time_point now = Clock::now();
    if (now >= deadline) {
      return false;
    }
    changed_.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(5)));
  }
  return true;
}

int TSimNetwork::QueuedOn(TIdStackSocketHandle socket) {
  std::lock_guard lock(mutex_);
  Deliver(Clock::now());
  const auto found = sockets_.find(socket);
  return found == sockets_.end() ? -1 : static_cast<int>(found->second.Queue.size());
}

int TSimNetwork::InFlight() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(pending_.size());
}

std::vector<TSimSentDatagram> TSimNetwork::Sent() const {
  std::lock_guard lock(mutex_);
  return sent_;
}

std::vector<TSimLookup> TSimNetwork::Lookups() const {
  std::lock_guard lock(mutex_);
  return lookups_;
}

std::vector<TSimSelectCall> TSimNetwork::Selects() const {
  std::lock_guard lock(mutex_);
  return selects_;
}

TSimCounters TSimNetwork::Counters() const {
  std::lock_guard lock(mutex_);
  return counters_;
}

int TSimNetwork::SocketTtl(TIdStackSocketHandle socket) const {
  std::lock_guard lock(mutex_);
  const auto found = sockets_.find(socket);
  return found == sockets_.end() ? -1 : found->second.Ttl;
}

bool TSimNetwork::Fails(TSimFailure& failure) {
  if (failure.Code == 0 || failure.Count == 0) {
    return false;
  }
  if (failure.Count > 0) {
    --failure.Count;
  }
  SetThreadError(failure.Code);
  return true;
}

// Moves every datagram whose time has come to the raw ICMP sockets that were
// open at that time; sockets opened later never see it.
void TSimNetwork::Deliver(Clock::time_point now) {
  std::size_t done = 0;
  for (; done < pending_.size() && pending_[done].Due <= now; ++done) {
    const Pending& item = pending_[done];
    if (item.To != Id_INVALID_SOCKET) {
      const auto probe = sockets_.find(item.To);
      if (probe != sockets_.end()) probe->second.Answers.push_back(item.Answer);
      continue;
    }
    for (auto& [handle, socket] : sockets_) {
      const bool listens = socket.Transport == 0 &&
                           (item.V6 ? socket.V6 : !socket.V6 && socket.Protocol == Id_IPPROTO_ICMP);
      if (!listens || socket.OpenedAt > item.Due) {
        continue;
      }
      if (static_cast<int>(socket.Queue.size()) >= config_.SocketQueueLimit) {
        ++counters_.DatagramsOverflowed;
        continue;
      }
      socket.Queue.push_back(item.Datagram);
      ++counters_.DatagramsDelivered;
    }
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(done));
}

void TSimNetwork::Schedule(simpacket::Bytes datagram, Clock::time_point due, bool v6) {
  const auto at = std::upper_bound(pending_.begin(), pending_.end(), due,
                                   [](Clock::time_point t, const Pending& p) { return t < p.Due; });
  pending_.insert(at, Pending{due, nextOrder_++, std::move(datagram), v6, Id_INVALID_SOCKET, {}});
  changed_.notify_all();
}

simpacket::Bytes TSimNetwork::Outgoing(const Request& request, const simpacket::Bytes& message,
                                       int ttlThere) const {
  if (request.V6) {
    simpacket::Bytes datagram(Id_IPV6_HEADER_SIZE);
    WriteIcmpV6Header(datagram.data(), static_cast<std::uint16_t>(message.size()),
                      static_cast<std::uint8_t>(ttlThere), Bytes6(config_.LocalAddress6),
                      Bytes6(request.DestinationText));
    datagram.insert(datagram.end(), message.begin(), message.end());
    return datagram;
  }
  return simpacket::Ipv4(config_.LocalAddress, request.DestinationText,
                         static_cast<std::uint8_t>(ttlThere), message, request.Id);
}

void TSimNetwork::Answer(const TSimHop& hop, int position, const simpacket::Bytes& message,
                         Clock::time_point sent, bool v6) {
  const std::uint8_t replyTtl =
      hop.ReplyTtl != 0 ? hop.ReplyTtl : static_cast<std::uint8_t>(std::max(1, 65 - position));
  simpacket::Bytes datagram;
  if (v6) {
    datagram.resize(Id_IPV6_HEADER_SIZE + message.size());
    BuildReplyDatagramV6(message, Bytes6(hop.Address), replyTtl, datagram);
  } else {
    datagram = simpacket::Ipv4(hop.Address, config_.LocalAddress, replyTtl, message, nextIpId_++);
  }
  if (hop.TruncateTo > 0 && static_cast<std::size_t>(hop.TruncateTo) < datagram.size()) {
    datagram.resize(static_cast<std::size_t>(hop.TruncateTo));
  }
  const Clock::time_point due = sent + std::chrono::milliseconds(std::max(hop.DelayMs, 0));
  for (int copy = 0; copy < hop.Duplicates; ++copy) {
    Schedule(datagram, due, v6);
  }
  Schedule(std::move(datagram), due, v6);
}

void TSimNetwork::Route(const Request& request) {
  const simpacket::Bytes& message = request.Message;
  const std::vector<TSimHop>* route = nullptr;
  const auto leadsThere = [&request](const std::string& address) {
    if (IsIPv6Text(address) != request.V6) return false;
    return request.V6 ? ConfiguredAddress6(address) == request.DestinationText
                      : ConfiguredAddress(address) == request.Destination;
  };
  if (!config_.Target.empty() && leadsThere(config_.Target)) {
    route = &config_.Route;
  }
  for (const auto& [address, hops] : config_.OtherRoutes) {
    if (route == nullptr && leadsThere(address)) {
      route = &hops;
    }
  }
  if (route == nullptr && !request.V6 && request.Destination[0] == 127) {
    if (!config_.LoopbackAnswers) {
      return;
    }
    if (request.Probe != Id_INVALID_SOCKET) {
      AnswerProbe(TSimHop::Destination(request.DestinationText), 1, request);
      return;
    }
    // Over the loopback device the request itself arrives as an incoming datagram.
    if (config_.LoopbackSeesRequest) {
      Schedule(simpacket::Ipv4("127.0.0.1", request.DestinationText,
                               static_cast<std::uint8_t>(request.Ttl), message, request.Id),
               request.Sent);
    }
    if (IsValidEchoRequest(message)) {
      simpacket::Bytes reply = message;
      reply[0] = Id_ICMP_ECHOREPLY;
      StoreChecksum(reply, 2);
      Schedule(simpacket::Ipv4(request.DestinationText, "127.0.0.1", 64, reply, nextIpId_++),
               request.Sent);
    }
    return;
  }
  if (route == nullptr) {
    return;  // no route: lost
  }
  for (std::size_t index = 0; index < route->size(); ++index) {
    const TSimHop& hop = (*route)[index];
    const int position = static_cast<int>(index) + 1;
    const int ttlThere = request.Ttl - static_cast<int>(index);
    // An error quoting the request as it reached the hop; over IPv6 the whole of it.
    const auto error = [&](std::uint8_t type, std::uint8_t code) {
      simpacket::Bytes quoted = Outgoing(request, message, ttlThere);
      if (!request.V6) return simpacket::IcmpError(type, code, quoted);
      quoted.insert(quoted.begin(), {type, code, 0, 0, 0, 0, 0, 0});
      return quoted;
    };
    if (request.Probe != Id_INVALID_SOCKET) {
      const bool ends = hop.Kind == TSimHopKind::Destination ||
                        hop.Kind == TSimHopKind::Unreachable || ttlThere <= 1;
      if (!ends) continue;  // forwarded
      if (hop.Kind != TSimHopKind::Silent && Answers(request, index, hop)) {
        AnswerProbe(hop, position, request);
      }
      return;
    }
    simpacket::Bytes answer;
    switch (hop.Kind) {
      case TSimHopKind::Destination:
        if (request.V6) {
          if (message.size() < 8 || message[0] != Id_ICMPV6_ECHO) return;
          answer = message;
          answer[0] = Id_ICMPV6_ECHOREPLY;
          break;
        }
        if (!IsValidEchoRequest(message)) {
          if (message.size() >= 8 && message[0] == Id_ICMP_ECHO) {
            ++counters_.BadChecksumRequests;
          }
          return;
        }
        answer = message;
        answer[0] = Id_ICMP_ECHOREPLY;
        StoreChecksum(answer, 2);
        break;
      case TSimHopKind::Unreachable:
        answer = request.V6 ? error(Id_ICMPV6_UNREACH, hop.UnreachableCode6)
                            : error(Id_ICMP_UNREACH, hop.UnreachableCode);
        break;
      case TSimHopKind::Router:
      case TSimHopKind::Silent:
        if (ttlThere > 1) {
          const std::uint8_t echo = request.V6 ? Id_ICMPV6_ECHO : Id_ICMP_ECHO;
          if (hop.DropsEcho && !message.empty() && message[0] == echo) return;
          continue;  // forwarded
        }
        if (hop.Kind == TSimHopKind::Silent) {
          return;
        }
        answer = error(request.V6 ? Id_ICMPV6_TIMXCEED : Id_ICMP_TIMXCEED, 0);
        break;
    }
    if (Answers(request, index, hop)) Answer(hop, position, answer, request.Sent, request.V6);
    return;
  }
  // Ran past the end of the route: lost.
}

bool TSimNetwork::Answers(const Request& request, std::size_t index, const TSimHop& hop) {
  const int attempt = ++attempts_[{request.DestinationText, index, request.Ttl}];
  if (attempt >= hop.FirstAnsweredAttempt) return true;
  ++counters_.AnswersDropped;
  return false;
}

void TSimNetwork::AnswerProbe(const TSimHop& hop, int position, const Request& request) {
  const std::string from = request.V6 ? ConfiguredAddress6(hop.Address) : hop.Address;
  Pending item{request.Sent + std::chrono::milliseconds(std::max(hop.DelayMs, 0)),
               nextOrder_++,
               {},
               request.V6,
               request.Probe,
               TReplyStatus{}};
  TReplyStatus& reply = item.Answer;
  if (hop.Kind == TSimHopKind::Destination) {
    reply = TargetReachedReply(from);
  } else {
    reply.ReplyFrom = from;
    const bool unreachable = hop.Kind == TSimHopKind::Unreachable;
    reply.StatusKind =
        unreachable ? TReplyStatusKind::rskUnreachable : TReplyStatusKind::rskTtlExpired;
    reply.IcmpType = unreachable ? (request.V6 ? Id_ICMPV6_UNREACH : Id_ICMP_UNREACH)
                                 : (request.V6 ? Id_ICMPV6_TIMXCEED : Id_ICMP_TIMXCEED);
    reply.IcmpCode = unreachable ? (request.V6 ? hop.UnreachableCode6 : hop.UnreachableCode) : 0;
  }
  reply.ReplyTtl =
      hop.ReplyTtl != 0 ? hop.ReplyTtl : static_cast<std::uint8_t>(std::max(1, 65 - position));
  const auto at = std::upper_bound(pending_.begin(), pending_.end(), item.Due,
                                   [](Clock::time_point t, const Pending& p) { return t < p.Due; });
  pending_.insert(at, std::move(item));
  changed_.notify_all();
}

void TSimNetwork::Strays(const Request& request) {
  const simpacket::Bytes& message = request.Message;
  const std::uint16_t identifier = message.size() >= 8 ? Get16LittleEndian(message, 4) : 0;
  const std::uint16_t sequence = message.size() >= 8 ? Get16LittleEndian(message, 6) : 0;
  const std::uint16_t otherSequence = static_cast<std::uint16_t>(sequence + 1);
  for (TSimStray& stray : config_.Strays) {
    if (stray.Count == 0 || (stray.Ttl != 0 && stray.Ttl != request.Ttl)) {
      continue;
    }
    if (stray.Count > 0) {
      --stray.Count;
    }
    simpacket::Bytes icmp;
    switch (stray.Kind) {
      case TSimStrayKind::Redirect: {
        const TIdIPv4Bytes gateway = ConfiguredAddress(stray.From);
        const std::uint32_t rest = (std::uint32_t{gateway[0]} << 24) |
                                   (std::uint32_t{gateway[1]} << 16) |
                                   (std::uint32_t{gateway[2]} << 8) | gateway[3];
        icmp = simpacket::IcmpError(Id_ICMP_REDIRECT, 1, Outgoing(request, message, request.Ttl),
                                    rest);
        break;
      }
      case TSimStrayKind::EchoReplyOtherSequence: {
        const simpacket::Bytes data(message.size() > 8 ? message.begin() + 8 : message.end(),
                                    message.end());
        icmp = simpacket::Echo(Id_ICMP_ECHOREPLY, identifier, otherSequence, data);
        break;
      }
      case TSimStrayKind::TimeExceededOtherSequence: {
        simpacket::Bytes other = message;
        if (other.size() >= 8) {
          Put16LittleEndian(other, 6, otherSequence);
          StoreChecksum(other, 2);
        }
        icmp = simpacket::IcmpError(Id_ICMP_TIMXCEED, 0, Outgoing(request, other, 1));
        break;
      }
      case TSimStrayKind::Truncated:
        icmp = simpacket::IcmpError(Id_ICMP_TIMXCEED, 0, Outgoing(request, message, 1));
        break;
      case TSimStrayKind::Raw:
        break;
    }
    simpacket::Bytes datagram =
        stray.Kind == TSimStrayKind::Raw
            ? stray.Bytes
            : simpacket::Ipv4(stray.From, config_.LocalAddress, kStrayTtl, icmp, nextIpId_++);
    if (stray.Kind == TSimStrayKind::Truncated) {
      datagram.resize(
          std::min(datagram.size(), static_cast<std::size_t>(std::max(stray.Length, 0))));
    }
    Schedule(std::move(datagram),
             request.Sent + std::chrono::milliseconds(std::max(stray.DelayMs, 0)));
  }
}

void TSimNetwork::StackCreated() {
  std::lock_guard lock(mutex_);
  if (config_.StackCreationFails) {
    throw EIdStackInitializationFailed();
  }
  ++counters_.StacksCreated;
}

TIdStackSocketHandle TSimNetwork::Open(int family, int type, int protocol) {
  std::lock_guard lock(mutex_);
  if (Fails(config_.OpenFailure)) {
    return Id_INVALID_SOCKET;
  }
  if (family != Id_PF_INET4 && family != Id_PF_INET6) {
    SetThreadError(kFamilyNotSupported);
    return Id_INVALID_SOCKET;
  }
  if (type != Id_SOCK_RAW) {
    SetThreadError(kSocketTypeNotSupported);
    return Id_INVALID_SOCKET;
  }
  if (protocol <= 0 || protocol > 255) {
    SetThreadError(kProtocolNotSupported);
    return Id_INVALID_SOCKET;
  }
  const TIdStackSocketHandle handle = nextSocket_++;  // never reused: a stale handle stays invalid
  Socket& socket = sockets_[handle];
  socket.V6 = family == Id_PF_INET6;
  socket.Protocol = protocol;
  socket.Ttl = config_.DefaultSocketTtl;
  socket.OpenedAt = Clock::now();
  ++counters_.SocketsOpened;
  counters_.OpenSockets = static_cast<int>(sockets_.size());
  counters_.PeakOpenSockets = std::max(counters_.PeakOpenSockets, counters_.OpenSockets);
  return handle;
}

int TSimNetwork::Close(TIdStackSocketHandle socket) {
  std::lock_guard lock(mutex_);
  if (sockets_.erase(socket) == 0) {
    SetThreadError(kNotSocket);
    return Id_SOCKET_ERROR;
  }
  ++counters_.SocketsClosed;
  counters_.OpenSockets = static_cast<int>(sockets_.size());
  changed_.notify_all();
  return 0;
}

int TSimNetwork::Shutdown(TIdStackSocketHandle socket, int how) {
  std::lock_guard lock(mutex_);
  const auto found = sockets_.find(socket);
  if (found == sockets_.end()) {
    SetThreadError(kNotSocket);
    return Id_SOCKET_ERROR;
  }
  if (how != Id_SD_Receive && how != Id_SD_Send && how != Id_SD_Both) {
    SetThreadError(Id_WSAEINVAL);
    return Id_SOCKET_ERROR;
  }
  // As on an unconnected datagram socket: the direction is shut all the same,
  // but the call reports that the socket is not connected.
  if (how != Id_SD_Receive) {
    found->second.SendShut = true;
  }
  SetThreadError(kNotConnected);
  return Id_SOCKET_ERROR;
}

int TSimNetwork::SetOption(TIdStackSocketHandle socket, int level, int optionName,
                           const void* value, int valueLength) {
  std::lock_guard lock(mutex_);
  if (Fails(config_.SetOptionFailure)) {
    return Id_SOCKET_ERROR;
  }
  const auto found = sockets_.find(socket);
  if (found == sockets_.end()) {
    SetThreadError(kNotSocket);
    return Id_SOCKET_ERROR;
  }
  const bool hops = found->second.V6
                        ? level == Id_IPPROTO_IPV6 && optionName == Id_IPV6_UNICAST_HOPS
                        : level == Id_IPPROTO_IP && optionName == Id_IP_TTL;
  if (!hops) {
    SetThreadError(kProtocolOptionBad);
    return Id_SOCKET_ERROR;
  }
  if (value == nullptr) {
    SetThreadError(Id_WSAEFAULT);
    return Id_SOCKET_ERROR;
  }
  int ttl = 0;
  if (valueLength >= 4) {
    std::memcpy(&ttl, value, sizeof ttl);
  } else if (valueLength == 1) {
    ttl = *static_cast<const std::uint8_t*>(value);
  } else {
    SetThreadError(Id_WSAEINVAL);
    return Id_SOCKET_ERROR;
  }
  if (ttl == -1) {
    ttl = config_.DefaultSocketTtl;  // -1 restores the system default
  }
  if (ttl < 1 || ttl > 255) {
    SetThreadError(Id_WSAEINVAL);
    return Id_SOCKET_ERROR;
  }
  found->second.Ttl = ttl;
  return 0;
}

int TSimNetwork::SendTo(TIdStackSocketHandle socket, const void* buffer, int length,
                        const TIdIPv4Bytes& destination, const std::string& address, int port) {
  std::lock_guard lock(mutex_);
  const auto found = sockets_.find(socket);
  if (found == sockets_.end()) {
    SetThreadError(kNotSocket);
    return Id_SOCKET_ERROR;
  }
  if (Fails(config_.SendFailure)) {
    return Id_SOCKET_ERROR;
  }
  if (found->second.SendShut) {
    SetThreadError(kShutDown);
    return Id_SOCKET_ERROR;
  }
  if (length < 0 || (buffer == nullptr && length > 0)) {
    SetThreadError(Id_WSAEFAULT);
    return Id_SOCKET_ERROR;
  }
  if (length > kMaxIcmpMessage) {
    SetThreadError(Id_WSAEMSGSIZE);
    return Id_SOCKET_ERROR;
  }
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  simpacket::Bytes request(bytes, bytes + length);
  TSimSentDatagram record;
  record.Socket = socket;
  record.Ttl = found->second.Ttl;
  record.Address = address;
  record.Port = port;
  record.Sequence = request.size() >= 8 ? Get16LittleEndian(request, 6) : 0;
  record.Bytes = request;
  sent_.push_back(std::move(record));
  ++counters_.DatagramsSent;

  // ICMP travels this network, and the probes of UDP sockets; strays due
  // with an answer reach the sockets before it.
  if (found->second.Transport == Id_SOCK_DGRAM) {
    Route(Request{request, destination,
                  found->second.V6 ? ConfiguredAddress6(address) : Dotted(destination),
                  found->second.Ttl, nextIpId_++, Clock::now(), found->second.V6, socket});
  } else if (found->second.V6 && IsIPv6Text(address) &&
             found->second.Protocol == Id_IPPROTO_ICMPV6) {
    Route(Request{
        request, {}, ConfiguredAddress6(address), found->second.Ttl, 0, Clock::now(), true});
  } else if (!found->second.V6 && found->second.Protocol == Id_IPPROTO_ICMP) {
    const Request sending{request,           destination, Dotted(destination),
                          found->second.Ttl, nextIpId_++, Clock::now()};
    Strays(sending);
    Route(sending);
  }
  changed_.notify_all();
  return std::max(0, length - config_.SendShortBy);
}

int TSimNetwork::Recv(TIdStackSocketHandle socket, void* buffer, int length) {
  std::unique_lock lock(mutex_);
  for (;;) {
    Deliver(Clock::now());
    const auto found = sockets_.find(socket);
    if (found == sockets_.end()) {
      SetThreadError(kNotSocket);
      return Id_SOCKET_ERROR;
    }
    if (Fails(config_.ReceiveFailure)) {
      return Id_SOCKET_ERROR;
    }
    std::deque<simpacket::Bytes>& queue = found->second.Queue;
    if (!queue.empty()) {
      if (length < 0 || (buffer == nullptr && length > 0)) {
        SetThreadError(Id_WSAEFAULT);
        return Id_SOCKET_ERROR;
      }
      const simpacket::Bytes datagram = std::move(queue.front());
      queue.pop_front();
      ++counters_.DatagramsReceived;
      const std::size_t room = static_cast<std::size_t>(length);
      std::memcpy(buffer, datagram.data(), std::min(room, datagram.size()));
      if (datagram.size() > room) {
        // A datagram larger than the buffer fails the receive and is gone.
        SetThreadError(Id_WSAEMSGSIZE);
        return Id_SOCKET_ERROR;
      }
      return static_cast<int>(datagram.size());
    }
    // A blocking socket waits for the next datagram.
    if (pending_.empty()) {
      changed_.wait(lock);
    } else {
      changed_.wait_until(lock, pending_.front().Due);
    }
  }
}

int TSimNetwork::Select(TIdSocketList* readList, TIdSocketList* writeList, TIdSocketList* errorList,
                        int timeoutMs) {
  for (const TIdSocketList* list : {readList, writeList, errorList}) {
    if (list != nullptr && list->size() > static_cast<std::size_t>(Id_SELECT_LIST_MAX)) {
      throw EIdStackSetSizeExceeded();
    }
  }
  std::unique_lock lock(mutex_);
  TSimSelectCall call;
  call.TimeoutMs = timeoutMs;
  if (readList != nullptr) {
    call.ReadList = *readList;
  }
  auto finish = [&](int result) {
    call.Result = result;
    selects_.push_back(std::move(call));
    return result;
  };
  if (Fails(config_.SelectFailure)) {
    return finish(Id_SOCKET_ERROR);
  }
  if (timeoutMs < 0 && timeoutMs != Id_WAIT_NO_LIMIT) {
    SetThreadError(Id_WSAEINVAL);
    return finish(Id_SOCKET_ERROR);
  }
  const bool limited = timeoutMs != Id_WAIT_NO_LIMIT;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  for (;;) {
    const Clock::time_point now = Clock::now();
    Deliver(now);
    TIdSocketList readyRead;
    TIdSocketList readyWrite;
    for (const TIdSocketList* list : {readList, writeList, errorList}) {
      if (list == nullptr) {
        continue;
      }
      for (TIdStackSocketHandle handle : *list) {
        const auto found = sockets_.find(handle);
        if (found == sockets_.end()) {
          SetThreadError(kNotSocket);
          return finish(Id_SOCKET_ERROR);
        }
        // A set holds each socket once, however often the list names it.
        TIdSocketList& ready = list == readList ? readyRead : readyWrite;
        // A probe's socket is ready once its answer is there, as an error
        // queue or a finished connect makes it.
        const bool isReady =
            found->second.Transport != 0
                ? !found->second.Answers.empty()
                : list == writeList || (list == readList && !found->second.Queue.empty());
        if (list != errorList && isReady &&
            std::find(ready.begin(), ready.end(), handle) == ready.end()) {
          ready.push_back(handle);
        }
      }
    }
    const int count = static_cast<int>(readyRead.size() + readyWrite.size());
    if (count > 0 || (limited && now >= deadline)) {
      if (readList != nullptr) {
        *readList = std::move(readyRead);
      }
      if (writeList != nullptr) {
        *writeList = std::move(readyWrite);
      }
      if (errorList != nullptr) {
        errorList->clear();
      }
      return finish(count);
    }
    std::optional<Clock::time_point> wake;
    if (limited) {
      wake = deadline;
    }
    if (!pending_.empty() && (!wake || pending_.front().Due < *wake)) {
      wake = pending_.front().Due;
    }
    if (wake) {
      changed_.wait_until(lock, *wake);
    } else {
      changed_.wait(lock);
    }
  }
}

TIdStackSocketHandle TSimNetwork::OpenProbe(TIdIPVersion version, int type, int ttl) {
  std::lock_guard lock(mutex_);
  if (Fails(config_.OpenFailure)) return Id_INVALID_SOCKET;
  if ((type != Id_SOCK_DGRAM && type != Id_SOCK_STREAM) || ttl < 1 || ttl > 255) {
    SetThreadError(Id_WSAEINVAL);
    return Id_INVALID_SOCKET;
  }
  const TIdStackSocketHandle handle = nextSocket_++;
  Socket& socket = sockets_[handle];
  socket.V6 = version == TIdIPVersion::ivIPv6;
  socket.Protocol = type == Id_SOCK_STREAM ? Id_IPPROTO_TCP : Id_IPPROTO_UDP;
  socket.Transport = type;
  socket.Ttl = ttl;
  socket.OpenedAt = Clock::now();
  ++counters_.SocketsOpened;
  counters_.OpenSockets = static_cast<int>(sockets_.size());
  counters_.PeakOpenSockets = std::max(counters_.PeakOpenSockets, counters_.OpenSockets);
  return handle;
}

int TSimNetwork::Connect(TIdStackSocketHandle socket, const TIdIPv4Bytes& destination,
                         const std::string& address, int port) {
  std::lock_guard lock(mutex_);
  const auto found = sockets_.find(socket);
  if (found == sockets_.end() || found->second.Transport != Id_SOCK_STREAM) {
    SetThreadError(kNotSocket);
    return Id_SOCKET_ERROR;
  }
  if (Fails(config_.SendFailure)) return Id_SOCKET_ERROR;
  TSimSentDatagram record;
  record.Socket = socket;
  record.Ttl = found->second.Ttl;
  record.Address = address;
  record.Port = port;
  sent_.push_back(std::move(record));
  ++counters_.DatagramsSent;
  const simpacket::Bytes none;
  Route(Request{none, destination,
                found->second.V6 ? ConfiguredAddress6(address) : Dotted(destination),
                found->second.Ttl, nextIpId_++, Clock::now(), found->second.V6, socket});
  changed_.notify_all();
  SetThreadError(Id_WSAEWOULDBLOCK);  // a non-blocking connect under way
  return Id_SOCKET_ERROR;
}

int TSimNetwork::ProbeAnswer(TIdStackSocketHandle socket, TReplyStatus& reply) {
  std::lock_guard lock(mutex_);
  Deliver(Clock::now());
  const auto found = sockets_.find(socket);
  if (found == sockets_.end()) {
    SetThreadError(kNotSocket);
    return Id_SOCKET_ERROR;
  }
  if (found->second.Answers.empty()) return 0;
  reply = found->second.Answers.front();
  found->second.Answers.pop_front();
  return 1;
}

void TSimNetwork::LookupDelay(std::unique_lock<std::mutex>& lock, int delayMs, bool held) {
  if (delayMs > 0) {
    lock.unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    lock.lock();
  }
  if (held && !released_) {
    const std::uint64_t generation = releaseGeneration_;
    changed_.wait(lock, [&] { return released_ || releaseGeneration_ != generation; });
  }
}

// Counts the lookup as running; false when every lookup is made to fail.
bool TSimNetwork::BeginLookup(std::int32_t& errorCode) {
  ++counters_.ActiveLookups;
  counters_.PeakConcurrentLookups =
      std::max(counters_.PeakConcurrentLookups, counters_.ActiveLookups);
  errorCode = 0;
  if (Fails(config_.LookupFailure)) {
    errorCode = config_.LookupFailure.Code;
    return false;
  }
  return true;
}

void TSimNetwork::EndLookup(TSimLookupKind kind, const std::string& query,
                            const std::string& result, std::int32_t errorCode) {
  lookups_.push_back(TSimLookup{kind, query, result, errorCode});
  --counters_.ActiveLookups;
}

std::string TSimNetwork::ResolveName(const std::string& name, std::int32_t& errorCode) {
  std::unique_lock lock(mutex_);
  ++counters_.ForwardLookups;
  std::string result;
  if (BeginLookup(errorCode)) {
    const auto entry =
        std::find_if(config_.ForwardNames.begin(), config_.ForwardNames.end(),
                     [&](const auto& item) { return EqualsIgnoringCase(item.first, name); });
    TIdIPv4Bytes numeric{};
    if (entry != config_.ForwardNames.end()) {
      const TSimForward forward = entry->second;  // the configuration may change while we wait
      LookupDelay(lock, forward.DelayMs, false);
      errorCode = forward.FailCode;
      if (errorCode == 0) {
        result = forward.Address;
      }
    } else if (ClassicAddress(name, numeric)) {
      result = Dotted(numeric);
    } else {
      errorCode = config_.UnknownNameCode;
    }
  }
  EndLookup(TSimLookupKind::Forward, name, result, errorCode);
  return result;
}

std::string TSimNetwork::ResolveAddress(const std::string& address, std::int32_t& errorCode) {
  // The address goes through inet_addr unchecked, as the stack does: text that
  // is no address looks up 255.255.255.255.
  TIdIPv4Bytes bytes{};
  if (!ClassicAddress(address, bytes)) bytes = {255, 255, 255, 255};
  const std::string key = IsIPv6Text(address) ? address : Dotted(bytes);

  std::unique_lock lock(mutex_);
  ++counters_.ReverseLookups;
  std::string result;
  if (BeginLookup(errorCode)) {
    const auto entry = config_.ReverseNames.find(key);
    if (entry != config_.ReverseNames.end()) {
      const TSimReverse reverse = entry->second;
      LookupDelay(lock, reverse.DelayMs, reverse.Held);
      errorCode = reverse.FailCode;
      if (errorCode == 0) {
        result = reverse.HostName;
      }
    } else {
      errorCode = config_.UnknownAddressCode;
    }
  }
  EndLookup(TSimLookupKind::Reverse, address, result, errorCode);
  return result;
}

TIdTextAnswer TSimNetwork::QueryText(const std::string& name, std::int32_t& errorCode) {
  std::unique_lock lock(mutex_);
  ++counters_.TextLookups;
  TIdTextAnswer answer;
  if (BeginLookup(errorCode)) {
    const auto entry = config_.TextRecords.find(name);
    if (entry != config_.TextRecords.end()) {
      const TSimText text = entry->second;
      LookupDelay(lock, text.DelayMs, text.Held);
      errorCode = text.FailCode;
      if (errorCode == 0) answer.Records = text.Records;
    }
  }
  std::string result;
  for (const auto& record : answer.Records)
    for (const auto& part : record) result += part;
  EndLookup(TSimLookupKind::Text, name, result, errorCode);
  return answer;
}

TSimText TSimText::Record(std::vector<std::string> strings, int delayMs) {
  return TSimText{{std::move(strings)}, 0, delayMs, false};
}

TSimText TSimText::Failure(std::int32_t code) {
  return TSimText{{}, code, 0, false};
}

TSimText TSimText::HeldRecord(std::vector<std::string> strings) {
  return TSimText{{std::move(strings)}, 0, 0, true};
}

// ---------------------------------------------------------------------------
// The stack

TSimulatedStack::TSimulatedStack() : net_(TSimNetwork::Instance()) {
  net_.StackCreated();
}

int TSimulatedStack::SockClose(TIdStackSocketHandle socket) {
  return net_.Close(socket);
}

int TSimulatedStack::SockShutdown(TIdStackSocketHandle socket, int how) {
  return net_.Shutdown(socket, how);
}

TIdStackSocketHandle TSimulatedStack::SockOpen(int family, int type, int protocol) {
  return net_.Open(family, type, protocol);
}

int TSimulatedStack::SockSetOption(TIdStackSocketHandle socket, int level, int optionName,
                                   const void* value, int valueLength) {
  return net_.SetOption(socket, level, optionName, value, valueLength);
}

int TSimulatedStack::SockRecv(TIdStackSocketHandle socket, void* buffer, int length,
                              int /*flags*/) {
  return net_.Recv(socket, buffer, length);
}

int TSimulatedStack::SockSendTo(TIdStackSocketHandle socket, const void* buffer, int length,
                                int /*flags*/, const std::string& address, int port) {
  if (IsIPv6Text(address)) {
    TIdIPv6Address parsed;
    if (!ParseIPv6Text(address, parsed)) throw EIdInvalidIPAddress(address);
    return net_.SendTo(socket, buffer, length, TIdIPv4Bytes{}, address, port);
  }
  TIdIPv4Bytes destination{};
  TextToAddrInto(address, destination);  // raises for text that is no address, as a real stack does
  return net_.SendTo(socket, buffer, length, destination, address, port);
}

int TSimulatedStack::SockSelect(TIdSocketList* readList, TIdSocketList* writeList,
                                TIdSocketList* errorList, int timeoutMs) {
  return net_.Select(readList, writeList, errorList, timeoutMs);
}

std::int32_t TSimulatedStack::GetSocketError() {
  return TSimNetwork::ThreadError();
}

std::string TSimulatedStack::HostNameToAddr(const std::string& hostName) {
  std::int32_t code = 0;
  std::string address = net_.ResolveName(hostName, code);
  if (code != 0) {
    TSimNetwork::SetThreadError(code);
    CheckSocketCall(Id_SOCKET_ERROR);
  }
  return address;
}

std::string TSimulatedStack::HostNameToAddrOf(const std::string& hostName, TIdIPVersion version) {
  const std::string address = HostNameToAddr(hostName);
  if (version != TIdIPVersion::ivAny && VersionOfAddressText(address) != version) {
    TSimNetwork::SetThreadError(Id_WSAHOST_NOT_FOUND);
    CheckSocketCall(Id_SOCKET_ERROR);
  }
  return address;
}

std::string TSimulatedStack::AddrToHostName(const std::string& address) {
  std::int32_t code = 0;
  std::string name = net_.ResolveAddress(address, code);
  if (code != 0) {
    TSimNetwork::SetThreadError(code);
    CheckSocketCall(Id_SOCKET_ERROR);
  }
  return name;
}

TIdTextAnswer TSimulatedStack::QueryText(const std::string& name, int /*timeoutMs*/) {
  std::int32_t code = 0;
  TIdTextAnswer answer = net_.QueryText(name, code);
  if (code != 0) RaiseSocketFailure(code);
  return answer;
}

TIdStackSocketHandle TSimulatedStack::SockOpenProbe(TIdIPVersion version, int type, int ttl) {
  return net_.OpenProbe(version, type, ttl);
}

int TSimulatedStack::SockConnect(TIdStackSocketHandle socket, const std::string& address,
                                 int port) {
  TIdIPv4Bytes destination{};
  if (IsIPv6Text(address)) {
    TIdIPv6Address parsed;
    if (!ParseIPv6Text(address, parsed)) throw EIdInvalidIPAddress(address);
  } else {
    TextToAddrInto(address, destination);
  }
  return net_.Connect(socket, destination, address, port);
}

int TSimulatedStack::SockProbeAnswer(TIdStackSocketHandle socket, const std::string& /*target*/,
                                     TReplyStatus& reply) {
  return net_.ProbeAnswer(socket, reply);
}

std::unique_ptr<TIdStack> MakeSimulatedStack() {
  return std::make_unique<TSimulatedStack>();
}

TSimNetwork& InstallSimulatedNetwork(const TSimConfig& config) {
  TSimNetwork& network = TSimNetwork::Instance();
  network.Reset(config);
  GSocketStackClass = &MakeSimulatedStack;
  return network;
}

}  // namespace quillon
