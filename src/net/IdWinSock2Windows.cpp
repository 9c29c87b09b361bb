// The socket library binding on Windows: "WS2_32.DLL" is loaded by name when
// the first socket stack starts, and each function is found by its exported
// name on its first call, so the executable has no load-time tie to it.
#include "net/IdWinSock2Windows.h"

#include <windows.h>

#include "net/IdStackConsts.h"

namespace quillon {

const char* const Id_SOCKET_LIBRARY_NAME = "WS2_32.DLL";

namespace {

using TWSAStartup = int WSAAPI(WORD, WSADATA*);

// The library's own start-up, outside the table.
std::atomic<TWSAStartup*> gWSAStartup{nullptr};

// The library's start-up with its record copied into ours.
std::int32_t StartupThroughLibrary(std::uint16_t version, TWSAData* data) {
  WSADATA record{};
  const int result = gWSAStartup.load(std::memory_order_acquire)(version, &record);
  if (result == 0 && data != nullptr) {
    data->Version = record.wVersion;
    data->HighVersion = record.wHighVersion;
    data->Description = record.szDescription;
    data->SystemStatus = record.szSystemStatus;
  }
  return result;
}

// A function of the library by its exported name, or nullptr.
void* Export(HMODULE library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(library, name));
}

}  // namespace

using enum TWS2Function;

const TWS2Entry WS2BindingTable[Id_WS2_ENTRY_COUNT] = {
    WS2Entry<wsSocket>("socket"),
    WS2Entry<wsSetSockOpt>("setsockopt"),
    WS2Entry<wsSendTo>("sendto"),
    WS2Entry<wsSelect>("select"),
    WS2Entry<wsRecv>("recv"),
    WS2Entry<wsRecvFrom>("recvfrom"),
    WS2Entry<wsShutdown>("shutdown"),
    WS2Entry<wsCloseSocket>("closesocket"),
    WS2Entry<wsGetLastError>("WSAGetLastError"),
    WS2Entry<wsGetHostByName>("gethostbyname"),
    WS2Entry<wsGetHostByAddr>("gethostbyaddr"),
    WS2Entry<wsGetAddrInfo>("getaddrinfo"),
    WS2Entry<wsFreeAddrInfo>("freeaddrinfo"),
    WS2Entry<wsGetNameInfo>("getnameinfo"),
    WS2Entry<wsInetAddr>("inet_addr"),
    WS2Entry<wsHtons>("htons"),
    WS2Entry<wsIoctl>("WSAIoctl"),
    WS2Entry<wsConnect>("connect"),
    WS2Entry<wsGetSockOpt>("getsockopt"),
};

std::size_t WS2EntryCount() {
  return Id_WS2_ENTRY_COUNT;
}

std::string SystemErrorMessage(std::int32_t code) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = length > 0 && text != nullptr ? std::string(text, length) : std::string();
  if (text != nullptr) LocalFree(text);
  // The system ends its texts with a line break.
  while (!message.empty() &&
         (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
    message.pop_back();
  }
  if (message.empty()) message = "System error " + std::to_string(code) + ".";
  return message;
}

void* OpenLibraryFile(const char* fileName, TWS2Failure& failure) {
  const HMODULE library = LoadLibraryA(fileName);
  if (library == nullptr) {
    failure.Code = static_cast<std::int32_t>(GetLastError());
    failure.Reason = SystemErrorMessage(failure.Code);
  }
  return reinterpret_cast<void*>(library);
}

void CloseLibraryFile(void* library) {
  FreeLibrary(static_cast<HMODULE>(library));
}

void* FindLibraryExport(void* library, const char* exportedName, TWS2Failure& failure) {
  void* address = Export(static_cast<HMODULE>(library), exportedName);
  if (address == nullptr) {
    failure.Code = static_cast<std::int32_t>(GetLastError());
    failure.Reason = SystemErrorMessage(failure.Code);
  }
  return address;
}

std::int32_t StartLoadedLibrary(void* library, std::uint16_t version, TWSAData* data) {
  auto* startup =
      reinterpret_cast<TWSAStartup*>(Export(static_cast<HMODULE>(library), "WSAStartup"));
  auto* cleanup =
      reinterpret_cast<TWS2CleanupProc>(Export(static_cast<HMODULE>(library), "WSACleanup"));
  if (startup == nullptr) {
    throw EIdWS2StubError(static_cast<std::int32_t>(GetLastError()),
                          "Error on call Winsock2 library function WSAStartup");
  }
  gWSAStartup.store(startup, std::memory_order_release);
  if (cleanup != nullptr) WS2CleanupSlot.store(cleanup, std::memory_order_release);
  WS2StartupSlot.store(&StartupThroughLibrary, std::memory_order_release);
  return WS2StartupSlot.load(std::memory_order_acquire)(version, data);
}

}  // namespace quillon
