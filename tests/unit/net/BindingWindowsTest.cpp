// The binding of "WS2_32.DLL": stubs that raise 10093 with the system's text
// before the library is loaded, binding by name on first call, one start-up,
// release and reset, and a library that cannot be loaded.
#include <gtest/gtest.h>

#include <string>

#include "net/IdStack.h"
#include "net/IdStackConsts.h"
#include "net/IdWinSock2Windows.h"
// The system's own lookup, to compare the bound slot with.
#include <windows.h>

namespace quillon {
namespace {

using enum TWS2Function;

bool EverySlotAtStub() {
  for (const TWS2Entry& entry : WS2BindingTable) {
    if (!entry.SlotAtStub()) return false;
  }
  return true;
}

// Each test starts unloaded and leaves the library as it found it.
class BindingWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wasLoaded_ = SocketLibHandle() != nullptr;
    UnloadSocketLibrary();
  }
  void TearDown() override {
    UnloadSocketLibrary();
    TWSAData data;
    if (wasLoaded_) StartSocketLibrary(0x0202, &data);
  }

 private:
  bool wasLoaded_ = false;
};

TEST_F(BindingWindowsTest, CallBeforeStartRaisesNotStartedWithTheSystemsText) {
  try {
    WS2<wsSelect>()(0, nullptr, nullptr, nullptr, nullptr);
    FAIL() << "the stub did not raise";
  } catch (const EIdWS2StubError& e) {
    EXPECT_EQ(e.SystemCode, 10093);
    EXPECT_EQ(e.CallTitle, "Error on call Winsock2 library function select");
    EXPECT_EQ(e.SystemMessage, SystemErrorMessage(10093));
    EXPECT_FALSE(e.SystemMessage.empty());
    EXPECT_EQ(e.Message(), e.CallTitle + ": " + e.SystemMessage);
  }
  EXPECT_TRUE(EverySlotAtStub());
  EXPECT_THROW(WS2CleanupSlot.load()(), EIdWS2StubError);
}

TEST_F(BindingWindowsTest, StartBindsByNameOnFirstCallAndUnloadResetsEverySlot) {
  TWSAData data;
  ASSERT_EQ(StartSocketLibrary(0x0202, &data), 0);
  EXPECT_EQ(data.Version, 0x0202);
  const HMODULE library = static_cast<HMODULE>(SocketLibHandle());
  ASSERT_NE(library, nullptr);
  TWSAData again;
  EXPECT_EQ(StartSocketLibrary(0x0202, &again), 0);
  EXPECT_EQ(again.Version, 0) << "the start-up ran only once";

  EXPECT_EQ(WS2<wsHtons>()(0x1234), 0x3412);  // through the stub
  EXPECT_EQ(reinterpret_cast<void*>(WS2<wsHtons>()),
            reinterpret_cast<void*>(GetProcAddress(library, "htons")));
  // A failing call's own result and error come through untouched.
  EXPECT_EQ(WS2<wsCloseSocket>()(INVALID_SOCKET), SOCKET_ERROR);
  EXPECT_EQ(WS2<wsGetLastError>()(), WSAENOTSOCK);

  EXPECT_EQ(WS2CleanupSlot.load()(), 0);
  UnloadSocketLibrary();
  EXPECT_EQ(SocketLibHandle(), nullptr);
  EXPECT_TRUE(EverySlotAtStub());
  EXPECT_THROW(WS2<wsHtons>()(1), EIdWS2StubError);
  UnloadSocketLibrary();  // a second release does nothing
  EXPECT_TRUE(EverySlotAtStub());
}

TEST_F(BindingWindowsTest, LibraryThatCannotBeLoadedRaisesWithItsNameAndTheSystemsText) {
  TWSAData data;
  try {
    StartSocketLibraryFrom("QUILLON_NO_SUCH_LIBRARY.DLL", 0x0202, &data);
    FAIL() << "loading did not fail";
  } catch (const EIdWS2StubError& e) {
    EXPECT_EQ(e.CallTitle, "Error on loading Winsock2 library (QUILLON_NO_SUCH_LIBRARY.DLL)");
    EXPECT_EQ(e.SystemCode, ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(e.Message(), e.CallTitle + ": " + SystemErrorMessage(ERROR_MOD_NOT_FOUND));
  }
  EXPECT_EQ(SocketLibHandle(), nullptr);
  EXPECT_EQ(std::string(Id_SOCKET_LIBRARY_NAME), "WS2_32.DLL");
}

}  // namespace
}  // namespace quillon
