#include "net/IdStack.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "net/IdException.h"
#include "net/IdWinSock2.h"
#include "platform/Text.h"

namespace quillon {

std::atomic<TIdStack*> GSocketStack{nullptr};
TIdStackClass GSocketStackClass = &CreateSystemStack;
std::mutex GSocketStackLock;
std::int32_t GSocketUserCount = 0;
std::atomic<bool> GSocketStarted{false};
std::atomic<bool> GRawSocketsFirst{false};

namespace {

struct TErrorText {
  std::int32_t Code;
  const char* Text;
};

// clang-format off
constexpr TErrorText kErrorTexts[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Bad address."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block. "},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty"},
    {11001, "Host not found."},
};
// clang-format on

// Cuts the text before the next "." off the rest, together with the dot; with
// no dot left the whole rest is the part.
std::string CutPart(std::string& rest) {
  const std::size_t dot = rest.find('.');
  std::string part;
  if (dot == std::string::npos) {
    part.swap(rest);
  } else {
    part = rest.substr(0, dot);
    rest.erase(0, dot + 1);
  }
  return part;
}

// A part that does not convert counts as -1, which no range admits.
std::int64_t PartValue(const std::string& part) {
  return TryStrToInt64(part).value_or(-1);
}

bool InRange(std::int64_t value, std::int64_t highest) {
  return value >= 0 && value <= highest;
}

std::uint8_t ByteOf(std::int64_t value, int shift) {
  return static_cast<std::uint8_t>((value >> shift) & 0xFF);
}

TAddressClass ClassOfFirstByte(std::uint8_t byte1) {
  if (byte1 < 128) return TAddressClass::acA;
  if (byte1 < 192) return TAddressClass::acB;
  if (byte1 < 224) return TAddressClass::acC;
  if (byte1 < 240) return TAddressClass::acD;
  return TAddressClass::acE;
}

}  // namespace

std::string TIdStack::SocketErrorText(std::int32_t errorCode) {
  const char* text = "";
  for (const TErrorText& entry : kErrorTexts) {
    if (entry.Code == errorCode) {
      text = entry.Text;
      break;
    }
  }
  return "Socket Error # " + std::to_string(errorCode) + "\r\n" + text;
}

std::string TIdStack::AddrToText(const TIdIPv4Bytes& bytes) {
  return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
         std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
}

void TIdStack::TextToAddrInto(const std::string& text, TIdIPv4Bytes& target) {
  if (!ParseAddressText(text, &target[0], &target[1], &target[2], &target[3])) {
    throw EIdInvalidIPAddress(text);
  }
}

void TIdStack::CheckSocketCall(int result) {
  if (result != Id_SOCKET_ERROR) return;
  const std::int32_t code = GetSocketError();
  LastErrorCode.store(code, std::memory_order_relaxed);
  RaiseSocketFailure(code);
}

void TIdStack::RaiseSocketFailure(std::int32_t errorCode) {
  throw EIdSocketError(errorCode, SocketErrorText(errorCode));
}

TIdStackSocketHandle TIdStack::OpenSocket(int socketType, int protocol, TIdIPVersion version) {
  const int family = version == TIdIPVersion::ivIPv6 ? Id_PF_INET6 : Id_PF_INET4;
  const TIdStackSocketHandle socket = SockOpen(family, socketType, protocol);
  if (socket == Id_INVALID_SOCKET) throw EIdInvalidSocket();
  return socket;
}

std::string TIdStack::HostToAddressText(const std::string& host) {
  if (SameText(host, "LOCALHOST")) return "127.0.0.1";
  if (IsAddressText(host) || IsIPv6Text(host)) return host;
  return HostNameToAddr(host);
}

std::optional<std::uint16_t> TIdStack::SockEchoIdentifier(TIdStackSocketHandle) {
  return std::nullopt;
}

TIdStackSocketHandle TIdStack::SockOpenProbe(TIdIPVersion, int, int) {
  RaiseSocketFailure(Id_WSAEOPNOTSUPP);
}

int TIdStack::SockConnect(TIdStackSocketHandle, const std::string&, int) {
  RaiseSocketFailure(Id_WSAEOPNOTSUPP);
}

int TIdStack::SockProbeAnswer(TIdStackSocketHandle, const std::string&, TReplyStatus&) {
  RaiseSocketFailure(Id_WSAEOPNOTSUPP);
}

std::string TIdStack::HostNameToAddrOf(const std::string& hostName, TIdIPVersion version) {
  if (version == TIdIPVersion::ivIPv6) RaiseSocketFailure(Id_WSAHOST_NOT_FOUND);
  return HostNameToAddr(hostName);
}

TIdTextAnswer TIdStack::QueryText(const std::string& /*name*/, int /*timeoutMs*/) {
  RaiseSocketFailure(Id_WSANO_RECOVERY);
}

namespace {

// "localhost", "localhost." and every name under them (RFC 6761).
bool IsLocalhostName(std::string_view name) {
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  constexpr std::string_view kLocalhost = "localhost";
  if (name.size() < kLocalhost.size() ||
      !SameText(name.substr(name.size() - kLocalhost.size()), kLocalhost))
    return false;
  return name.size() == kLocalhost.size() || name[name.size() - kLocalhost.size() - 1] == '.';
}

}  // namespace

TIdInterfaceIndexOf TIdStack::InterfaceIndexOf() {
  return nullptr;
}

std::string TIdStack::ResolveHost(const std::string& host, TIdIPVersion version) {
  std::string address;
  if (IsIPv6Text(host)) {
    // No host name holds ':', so this is an address or nothing.
    TIdIPv6Address parsed;
    if (!ParseIPv6Text(host, parsed)) RaiseSocketFailure(Id_WSAHOST_NOT_FOUND);
    if (!parsed.Zone.empty()) {
      // A reply never carries a zone: on a global address the route's end
      // would never be found.
      if (!IsLinkLocal(parsed.Bytes) && !IsMulticast(parsed.Bytes)) {
        throw EIdInvalidTarget(
            host, "a zone belongs to link-local and multicast addresses only (fe80::1%eth0).");
      }
      std::uint32_t scopeId = 0;
      const TIdInterfaceIndexOf indexOf = InterfaceIndexOf();
      if (indexOf != nullptr && !ZoneToScopeId(parsed.Zone, indexOf, scopeId)) {
        throw EIdInvalidTarget(host, "there is no interface " + parsed.Zone + ".");
      }
    }
    address = CanonicalIPv6Text(host).value_or("");
  } else if (IsAddressText(host)) {
    // A dotted address is looked up as before, whatever family was asked for.
    address = HostNameToAddr(host);
  } else if (IsLocalhostName(host)) {
    // Loopback and never a question for the network (RFC 6761): many hosts
    // files name only 127.0.0.1, and a name under it would go on to the
    // name servers.
    address = version == TIdIPVersion::ivIPv6 ? "::1" : "127.0.0.1";
  } else {
    address = HostNameToAddrOf(host, version);
  }

  TIdIPv6Address parsed;
  if (address == "0.0.0.0" ||
      (ParseIPv6Text(address, parsed) && std::all_of(parsed.Bytes.begin(), parsed.Bytes.end(),
                                                     [](std::uint8_t b) { return b == 0; }))) {
    throw EIdInvalidTarget(host, "the unspecified address stands for no host.");
  }
  if (IsIPv6Text(address) && IsLinkLocal(parsed.Bytes) && parsed.Zone.empty()) {
    throw EIdInvalidTarget(host,
                           "a link-local address needs the zone of its link, as in fe80::1%eth0.");
  }
  return address;
}

bool TIdStack::IsAddressText(const std::string& text) {
  return AddressTextKind(text) != TAddressTextKind::atInvalid;
}

bool TIdStack::AddressTextIsKind(const std::string& text, TAddressTextKind kind) {
  return AddressTextKind(text) == kind;
}

TAddressTextKind TIdStack::AddressTextKind(const std::string& text) {
  TAddressTextKind kind = TAddressTextKind::atInvalid;
  ParseAddressText(text, nullptr, nullptr, nullptr, nullptr, &kind);
  return kind;
}

bool TIdStack::ParseAddressText(const std::string& text, std::uint8_t* byte1, std::uint8_t* byte2,
                                std::uint8_t* byte3, std::uint8_t* byte4, TAddressTextKind* kind,
                                TAddressClass* addressClass) {
  std::string rest = text;
  const std::string part1 = CutPart(rest);
  const std::string part2 = CutPart(rest);
  const std::string part3 = CutPart(rest);
  const std::string& part4 = rest;  // may itself hold dots, which then fail to convert

  TIdIPv4Bytes bytes{};
  TAddressTextKind foundKind = TAddressTextKind::atDotted;
  TAddressClass foundClass = TAddressClass::acNone;
  bool valid = false;
  if (part2.empty()) {
    const std::int64_t whole = PartValue(part1);
    valid = InRange(whole, 0xFFFFFFFFLL);
    bytes = {ByteOf(whole, 24), ByteOf(whole, 16), ByteOf(whole, 8), ByteOf(whole, 0)};
    foundKind = TAddressTextKind::atNumeric;
  } else if (part3.empty()) {
    const std::int64_t first = PartValue(part1);
    const std::int64_t low24 = PartValue(part2);
    valid = InRange(first, 0xFF) && InRange(low24, 0xFFFFFF);
    bytes = {ByteOf(first, 0), ByteOf(low24, 16), ByteOf(low24, 8), ByteOf(low24, 0)};
    foundClass = TAddressClass::acA;
  } else if (part4.empty()) {
    const std::int64_t first = PartValue(part1);
    const std::int64_t second = PartValue(part2);
    const std::int64_t low16 = PartValue(part3);
    valid = InRange(first, 0xFF) && InRange(second, 0xFF) && InRange(low16, 0xFFFF);
    bytes = {ByteOf(first, 0), ByteOf(second, 0), ByteOf(low16, 8), ByteOf(low16, 0)};
    foundClass = TAddressClass::acB;
  } else {
    const std::int64_t values[4] = {PartValue(part1), PartValue(part2), PartValue(part3),
                                    PartValue(part4)};
    valid = true;
    for (int i = 0; i < 4; ++i) {
      valid = valid && InRange(values[i], 0xFF);
      bytes[static_cast<std::size_t>(i)] = ByteOf(values[i], 0);
    }
    foundClass = ClassOfFirstByte(bytes[0]);
  }

  if (!valid) {
    if (kind != nullptr) *kind = TAddressTextKind::atInvalid;
    if (addressClass != nullptr) *addressClass = TAddressClass::acNone;
    return false;
  }
  if (byte1 != nullptr) *byte1 = bytes[0];
  if (byte2 != nullptr) *byte2 = bytes[1];
  if (byte3 != nullptr) *byte3 = bytes[2];
  if (byte4 != nullptr) *byte4 = bytes[3];
  if (kind != nullptr) *kind = foundKind;
  if (addressClass != nullptr) *addressClass = foundClass;
  return true;
}

std::uint32_t TIdStack::TextToAddr(const std::string& text) {
  TIdIPv4Bytes bytes{};
  TextToAddrInto(text, bytes);
  std::uint32_t address = 0;
  std::memcpy(&address, bytes.data(), sizeof address);
  return address;
}

void ShutdownSocketLayer() {
  static std::atomic<bool> cleanedUp{false};
  if (GSocketStarted.load(std::memory_order_acquire) && !cleanedUp.exchange(true)) {
    try {
      WS2CleanupSlot.load(std::memory_order_acquire)();  // its result changes nothing now
    } catch (const EIdWS2StubError&) {
      // Released already; nothing is left to clean up.
    }
  }
  UnloadSocketLibrary();
}

}  // namespace quillon
