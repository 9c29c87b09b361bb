// The socket library binding. The program has no load-time tie to the socket
// library as far as its own code is concerned: the library is opened by file
// name when the first socket stack starts it, and each function is looked up
// by its exported name on its first call. On Linux the socket library is the C
// library, on Windows "WS2_32.DLL".
//
// Every bound function has an entry in the binding table: its stub, its
// function slot and its exported name. A slot starts out pointing at the stub;
// the stub binds the slot on the first call (or raises EIdWS2StubError while
// the library is not loaded) and continues into the real function. Callers
// always call through the slot: WS2<wsSocket>()(AF_INET, SOCK_RAW, 1).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/IdException.h"

namespace quillon {

// File name of the platform's socket library.
extern const char* const Id_SOCKET_LIBRARY_NAME;

// A library that cannot be loaded, or a bound function called while it is not.
class EIdWS2StubError : public EIdException {
 public:
  // SystemMessage is the system's text for the code (empty for code 0).
  EIdWS2StubError(std::int32_t systemCode, const std::string& callTitle);
  // With a message of the system's own where it says more than the code's text
  // (a failed load names the missing file and the reason).
  EIdWS2StubError(std::int32_t systemCode, const std::string& systemMessage,
                  const std::string& callTitle);

  std::int32_t SystemCode;
  std::string SystemMessage;
  std::string CallTitle;
};

// The system's message text for an error code: an errno value, or one of the
// socket library's own codes (10093 for a library that has not been started).
std::string SystemErrorMessage(std::int32_t code);

// Filled by the library's start-up.
struct TWSAData {
  std::uint16_t Version = 0;
  std::uint16_t HighVersion = 0;
  std::string Description;
  std::string SystemStatus;
};

// The entries of the binding table, in table order, and each entry's function
// type (TWS2Signature) are the platform's: see IdWinSock2Posix.h and
// IdWinSock2Windows.h.
enum class TWS2Function : std::size_t;
template <TWS2Function F>
struct TWS2Signature;

// Run by an entry's stub: raises EIdWS2StubError (code 10093) while the library
// is not loaded; otherwise looks the exported name up, stores it in the slot
// and returns it.
void* BindOnFirstCall(std::size_t index);

template <TWS2Function F, typename Sig = typename TWS2Signature<F>::Type>
struct TWS2Stub;
template <TWS2Function F, typename R, typename... A>
struct TWS2Stub<F, R(A...)> {
  static R Call(A... args) {
    auto* function = reinterpret_cast<R (*)(A...)>(BindOnFirstCall(static_cast<std::size_t>(F)));
    return function(args...);
  }
};

// The function slots: one atomic pointer each, so that binding from several
// threads at once needs no lock (each stores the same address).
template <TWS2Function F>
inline std::atomic<typename TWS2Signature<F>::Type*> WS2Slot{&TWS2Stub<F>::Call};

// The function to call for an entry.
template <TWS2Function F>
inline typename TWS2Signature<F>::Type* WS2() {
  return WS2Slot<F>.load(std::memory_order_acquire);
}

// One row of the binding table, with its slot reached through the row's own
// small functions (the slots differ in type).
struct TWS2Entry {
  const char* ExportedName;
  void (*PointAtStub)();
  bool (*SlotAtStub)();
  void (*StoreAddress)(void* address);
};

namespace ws2detail {
template <TWS2Function F>
void PointAtStub() {
  WS2Slot<F>.store(&TWS2Stub<F>::Call, std::memory_order_release);
}
template <TWS2Function F>
bool SlotAtStub() {
  return WS2Slot<F>.load(std::memory_order_acquire) == &TWS2Stub<F>::Call;
}
template <TWS2Function F>
void StoreAddress(void* address) {
  // One aligned pointer store: threads binding the same entry at once all store
  // the same address.
  WS2Slot<F>.store(reinterpret_cast<typename TWS2Signature<F>::Type*>(address),
                   std::memory_order_release);
}
}  // namespace ws2detail

// The table row of an entry.
template <TWS2Function F>
constexpr TWS2Entry WS2Entry(const char* exportedName) {
  return {exportedName, &ws2detail::PointAtStub<F>, &ws2detail::SlotAtStub<F>,
          &ws2detail::StoreAddress<F>};
}

extern const TWS2Entry WS2BindingTable[];

// The start-up and clean-up of the library, outside the table.
using TWS2StartupProc = std::int32_t (*)(std::uint16_t version, TWSAData* data);
using TWS2CleanupProc = std::int32_t (*)();
extern std::atomic<TWS2StartupProc> WS2StartupSlot;
extern std::atomic<TWS2CleanupProc> WS2CleanupSlot;

// Loads the library (once) and runs its start-up with the version; 0 without
// any call when it is loaded already. EIdWS2StubError when it cannot be loaded.
std::int32_t StartSocketLibrary(std::uint16_t version, TWSAData* data);
// The same with another library file (a library that cannot be loaded, in tests).
std::int32_t StartSocketLibraryFrom(const char* fileName, std::uint16_t version, TWSAData* data);
// Forgets the handle and points every slot at its stub again.
void ResetBindings();
// Releases the library at program end; a second call does nothing.
void UnloadSocketLibrary();
// The loaded library's handle, or nullptr.
void* SocketLibHandle();

// The platform's part of the binding (dlopen or LoadLibraryA and their kin).
// A failure leaves nullptr with the system's code and its text in reason.
struct TWS2Failure {
  std::int32_t Code = 0;
  std::string Reason;
};
void* OpenLibraryFile(const char* fileName, TWS2Failure& failure);
void CloseLibraryFile(void* library);
void* FindLibraryExport(void* library, const char* exportedName, TWS2Failure& failure);
// Points WS2StartupSlot and WS2CleanupSlot at the loaded library's start-up and
// clean-up and runs the start-up.
std::int32_t StartLoadedLibrary(void* library, std::uint16_t version, TWSAData* data);
// The binding table's rows.
std::size_t WS2EntryCount();

}  // namespace quillon
