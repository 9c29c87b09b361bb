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

constexpr std::uint16_t kHighestVersion = 0x0202;  // 2.2: major in the low byte
constexpr std::int32_t kVersionNotSupported = 10092;

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

}  // namespace

using enum TWS2Function;

const TWS2Entry WS2BindingTable[Id_WS2_ENTRY_COUNT] = {
    WS2Entry<wsSocket>("socket"),
    WS2Entry<wsSetSockOpt>("setsockopt"),
    WS2Entry<wsGetSockOpt>("getsockopt"),
    WS2Entry<wsGetSockName>("getsockname"),
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
    WS2Entry<wsIfNameToIndex>("if_nametoindex"),
    WS2Entry<wsConnect>("connect"),
};

std::size_t WS2EntryCount() {
  return Id_WS2_ENTRY_COUNT;
}

std::string SystemErrorMessage(std::int32_t code) {
  if (code == Id_WSANOTINITIALISED) return "The socket library has not been started.";
  if (code == kVersionNotSupported) return "The socket library does not support that version.";
  char buffer[256] = {};
  // The GNU variant: returns either the buffer or a static text.
  return strerror_r(code, buffer, sizeof buffer);
}

void* OpenLibraryFile(const char* fileName, TWS2Failure& failure) {
  errno = 0;
  void* library = dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    failure.Code = errno != 0 ? errno : ELIBACC;
    const char* reason = dlerror();
    failure.Reason = reason != nullptr ? reason : SystemErrorMessage(failure.Code);
  }
  return library;
}

void CloseLibraryFile(void* library) {
  dlclose(library);
}

void* FindLibraryExport(void* library, const char* exportedName, TWS2Failure& failure) {
  void* address = dlsym(library, exportedName);
  if (address == nullptr) {
    failure.Code = ENOSYS;
    const char* reason = dlerror();
    failure.Reason = reason != nullptr ? reason : SystemErrorMessage(ENOSYS);
  }
  return address;
}

std::int32_t StartLoadedLibrary(void*, std::uint16_t version, TWSAData* data) {
  WS2CleanupSlot.store(&CleanupStandIn, std::memory_order_release);
  WS2StartupSlot.store(&StartupStandIn, std::memory_order_release);
  return WS2StartupSlot.load(std::memory_order_acquire)(version, data);
}

}  // namespace quillon
