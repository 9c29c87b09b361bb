// The socket library binding on Linux, where the socket functions live in the C
// library. Start-up and clean-up have no counterpart there; they are small
// functions of ours that only report success.
#include <dlfcn.h>

#include <cerrno>
#include <cstring>

#include "net/IdStackConsts.h"
#include "net/IdWinSock2Posix.h"

namespace quillon {

const char* const Id_SOCKET_LIBRARY_NAME = "libc.so.6";

namespace {

constexpr const char* kStartupName = "SocketLibraryStartup";
constexpr const char* kCleanupName = "SocketLibraryCleanup";
constexpr std::uint16_t kHighestVersion = 0x0202;  // 2.2: major in the low byte
constexpr std::int32_t kVersionNotSupported = 10092;

std::atomic<void*> gLibraryHandle{nullptr};

// Major version in the low byte, minor in the high byte.
int VersionRank(std::uint16_t version) {
  return (version & 0xFF) * 256 + (version >> 8);
}

std::int32_t StartupStandIn(std::uint16_t version, TWSAData* data) {
  if ((version & 0xFF) == 0) return kVersionNotSupported;
  if (data != nullptr) {
    data->Version = VersionRank(version) < VersionRank(kHighestVersion) ? version : kHighestVersion;
    data->HighVersion = kHighestVersion;
    data->Description = std::string("Quillon sockets over ") + Id_SOCKET_LIBRARY_NAME;
    data->SystemStatus = "Running";
  }
  return 0;
}

std::int32_t CleanupStandIn() {
  return 0;
}

std::int32_t StartupStub(std::uint16_t, TWSAData*) {
  RaiseNotStarted(kStartupName);
}
std::int32_t CleanupStub() {
  RaiseNotStarted(kCleanupName);
}

}  // namespace

using enum TWS2Function;

const TWS2Entry WS2BindingTable[Id_WS2_ENTRY_COUNT] = {
    WS2Entry<wsSocket>("socket"),
    WS2Entry<wsSetSockOpt>("setsockopt"),
    WS2Entry<wsGetSockOpt>("getsockopt"),
    WS2Entry<wsSendTo>("sendto"),
    WS2Entry<wsPPoll>("ppoll"),
    WS2Entry<wsRecv>("recv"),
    WS2Entry<wsRecvMsg>("recvmsg"),
    WS2Entry<wsShutdown>("shutdown"),
    WS2Entry<wsClose>("close"),
    WS2Entry<wsGetAddrInfo>("getaddrinfo"),
    WS2Entry<wsFreeAddrInfo>("freeaddrinfo"),
    WS2Entry<wsGetNameInfo>("getnameinfo"),
    WS2Entry<wsInetAton>("inet_aton"),
    WS2Entry<wsHtons>("htons"),
};

std::atomic<TWS2StartupProc> WS2StartupSlot{&StartupStub};
std::atomic<TWS2CleanupProc> WS2CleanupSlot{&CleanupStub};

std::string SystemErrorMessage(std::int32_t code) {
  if (code == Id_WSANOTINITIALISED) return "The socket library has not been started.";
  if (code == kVersionNotSupported) return "The socket library does not support that version.";
  char buffer[256] = {};
  // The GNU variant: returns either the buffer or a static text.
  return strerror_r(code, buffer, sizeof buffer);
}

void* BindOnFirstCall(std::size_t index) {
  const TWS2Entry& entry = WS2BindingTable[index];
  void* handle = gLibraryHandle.load(std::memory_order_acquire);
  if (handle == nullptr) RaiseNotStarted(entry.ExportedName);
  void* address = dlsym(handle, entry.ExportedName);
  if (address == nullptr) {
    // The slot stays at its stub, so every later call raises the same way.
    const char* reason = dlerror();
    throw EIdWS2StubError(ENOSYS, reason != nullptr ? reason : SystemErrorMessage(ENOSYS),
                          CallErrorTitle(entry.ExportedName));
  }
  entry.StoreAddress(address);
  return address;
}

std::int32_t StartSocketLibrary(std::uint16_t version, TWSAData* data) {
  return StartSocketLibraryFrom(Id_SOCKET_LIBRARY_NAME, version, data);
}

std::int32_t StartSocketLibraryFrom(const char* fileName, std::uint16_t version, TWSAData* data) {
  if (gLibraryHandle.load(std::memory_order_acquire) != nullptr) return 0;
  errno = 0;
  void* handle = dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const int code = errno != 0 ? errno : ELIBACC;
    const char* reason = dlerror();
    throw EIdWS2StubError(code, reason != nullptr ? reason : SystemErrorMessage(code),
                          LoadErrorTitle(fileName));
  }
  void* expected = nullptr;
  if (!gLibraryHandle.compare_exchange_strong(expected, handle, std::memory_order_acq_rel)) {
    // Another thread loaded it meanwhile; its start-up stands.
    dlclose(handle);
    return 0;
  }
  WS2CleanupSlot.store(&CleanupStandIn, std::memory_order_release);
  WS2StartupSlot.store(&StartupStandIn, std::memory_order_release);
  return WS2StartupSlot.load(std::memory_order_acquire)(version, data);
}

void ResetBindings() {
  gLibraryHandle.store(nullptr, std::memory_order_release);
  for (const TWS2Entry& entry : WS2BindingTable) entry.PointAtStub();
  WS2StartupSlot.store(&StartupStub, std::memory_order_release);
  WS2CleanupSlot.store(&CleanupStub, std::memory_order_release);
}

void UnloadSocketLibrary() {
  void* handle = gLibraryHandle.exchange(nullptr, std::memory_order_acq_rel);
  if (handle == nullptr) return;
  dlclose(handle);
  ResetBindings();
}

void* SocketLibHandle() {
  return gLibraryHandle.load(std::memory_order_acquire);
}

}  // namespace quillon
