#include "net/IdWinSock2.h"

#include "net/IdStackConsts.h"

namespace quillon {
namespace {

std::string FillTitle(const char* format, const std::string& value) {
  std::string title(format);
  title.replace(title.find("%s"), 2, value);
  return title;
}

std::string LoadErrorTitle(const std::string& fileName) {
  return FillTitle("Error on loading Winsock2 library (%s)", fileName);
}

std::string CallErrorTitle(const std::string& exportedName) {
  return FillTitle("Error on call Winsock2 library function %s", exportedName);
}

[[noreturn]] void RaiseNotStarted(const char* exportedName) {
  throw EIdWS2StubError(Id_WSANOTINITIALISED, CallErrorTitle(exportedName));
}

std::int32_t StartupStub(std::uint16_t, TWSAData*) {
  RaiseNotStarted("WSAStartup");
}
std::int32_t CleanupStub() {
  RaiseNotStarted("WSACleanup");
}

std::atomic<void*> gLibraryHandle{nullptr};

}  // namespace

std::atomic<TWS2StartupProc> WS2StartupSlot{&StartupStub};
std::atomic<TWS2CleanupProc> WS2CleanupSlot{&CleanupStub};

EIdWS2StubError::EIdWS2StubError(std::int32_t systemCode, const std::string& callTitle)
    : EIdWS2StubError(systemCode, systemCode != 0 ? SystemErrorMessage(systemCode) : std::string(),
                      callTitle) {}

EIdWS2StubError::EIdWS2StubError(std::int32_t systemCode, const std::string& systemMessage,
                                 const std::string& callTitle)
    : EIdException(systemCode != 0 ? callTitle + ": " + systemMessage : callTitle),
      SystemCode(systemCode),
      SystemMessage(systemCode != 0 ? systemMessage : std::string()),
      CallTitle(callTitle) {}

void* BindOnFirstCall(std::size_t index) {
  const TWS2Entry& entry = WS2BindingTable[index];
  void* library = gLibraryHandle.load(std::memory_order_acquire);
  if (library == nullptr) RaiseNotStarted(entry.ExportedName);
  TWS2Failure failure;
  void* address = FindLibraryExport(library, entry.ExportedName, failure);
  if (address == nullptr) {
    // The slot stays at its stub, so every later call raises the same way.
    throw EIdWS2StubError(failure.Code, failure.Reason, CallErrorTitle(entry.ExportedName));
  }
  entry.StoreAddress(address);
  return address;
}

std::int32_t StartSocketLibrary(std::uint16_t version, TWSAData* data) {
  return StartSocketLibraryFrom(Id_SOCKET_LIBRARY_NAME, version, data);
}

std::int32_t StartSocketLibraryFrom(const char* fileName, std::uint16_t version, TWSAData* data) {
  if (gLibraryHandle.load(std::memory_order_acquire) != nullptr) return 0;
  TWS2Failure failure;
  void* library = OpenLibraryFile(fileName, failure);
  if (library == nullptr)
    throw EIdWS2StubError(failure.Code, failure.Reason, LoadErrorTitle(fileName));
  void* expected = nullptr;
  if (!gLibraryHandle.compare_exchange_strong(expected, library, std::memory_order_acq_rel)) {
    // Another thread loaded it meanwhile; its start-up stands.
    CloseLibraryFile(library);
    return 0;
  }
  return StartLoadedLibrary(library, version, data);
}

void ResetBindings() {
  gLibraryHandle.store(nullptr, std::memory_order_release);
  for (std::size_t i = 0; i < WS2EntryCount(); ++i) WS2BindingTable[i].PointAtStub();
  WS2StartupSlot.store(&StartupStub, std::memory_order_release);
  WS2CleanupSlot.store(&CleanupStub, std::memory_order_release);
}

void UnloadSocketLibrary() {
  void* library = gLibraryHandle.exchange(nullptr, std::memory_order_acq_rel);
  if (library == nullptr) return;
  CloseLibraryFile(library);
  ResetBindings();
}

void* SocketLibHandle() {
  return gLibraryHandle.load(std::memory_order_acquire);
}

}  // namespace quillon
