// The socket library binding: stubs that raise before the library is started,
// binding on first call, start-up once, release and reset.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "net/IdStack.h"
#include "net/IdStackConsts.h"
#include "net/IdStackPosix.h"
#include "net/IdWinSock2Posix.h"

namespace quillon {
namespace {

using enum TWS2Function;

// The 16-bit value whose bytes in memory are the big-endian bytes of value.
std::uint16_t NetworkOrder16(std::uint16_t value) {
  const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value >> 8),
                                 static_cast<std::uint8_t>(value & 0xFF)};
  std::uint16_t result = 0;
  std::memcpy(&result, bytes, sizeof result);
  return result;
}

bool EverySlotAtStub() {
  for (const TWS2Entry& entry : WS2BindingTable) {
    if (!entry.SlotAtStub()) return false;
  }
  return true;
}

// Each test starts unloaded and leaves the library (and the process's record
// of its start) as it found them, so that stacks of other tests in the same
// process keep working.
class BindingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wasLoaded_ = SocketLibHandle() != nullptr;
    wasStarted_ = GSocketStarted.load();
    UnloadSocketLibrary();
    ResetBindings();
  }
  void TearDown() override {
    GSocketStarted.store(wasStarted_);
    if (!wasLoaded_) {
      UnloadSocketLibrary();
      return;
    }
    TWSAData data;
    StartSocketLibrary(0x0202, &data);
  }

 private:
  bool wasLoaded_ = false;
  bool wasStarted_ = false;
};

TEST_F(BindingTest, CallBeforeStartRaisesNotStartedNamingTheFunction) {
  try {
    WS2<wsPPoll>()(nullptr, 0, nullptr, nullptr);
    FAIL() << "the stub did not raise";
  } catch (const EIdWS2StubError& e) {
    EXPECT_EQ(e.SystemCode, Id_WSANOTINITIALISED);
    EXPECT_EQ(e.CallTitle, "Error on call Winsock2 library function ppoll");
    EXPECT_EQ(e.SystemMessage, SystemErrorMessage(Id_WSANOTINITIALISED));
    EXPECT_FALSE(e.SystemMessage.empty());
    EXPECT_EQ(e.Message(), e.CallTitle + ": " + e.SystemMessage);
  }
  EXPECT_TRUE(WS2BindingTable[static_cast<std::size_t>(wsPPoll)].SlotAtStub());

  // Start-up and clean-up are no exception before the library is there.
  EXPECT_THROW(WS2CleanupSlot.load()(), EIdWS2StubError);
  try {
    WS2<wsSocket>()(AF_INET, SOCK_DGRAM, 0);
    FAIL() << "the stub did not raise";
  } catch (const EIdWS2StubError& e) {
    EXPECT_EQ(e.CallTitle, "Error on call Winsock2 library function socket");
  }
}

TEST_F(BindingTest, FirstCallBindsTheSlotAndReturnsTheFunctionsResult) {
  TWSAData data;
  ASSERT_EQ(StartSocketLibrary(0x0202, &data), 0);
  const TWS2Entry& entry = WS2BindingTable[static_cast<std::size_t>(wsHtons)];
  ASSERT_TRUE(entry.SlotAtStub());

  const std::uint16_t value = 0x1234;
  const std::uint16_t expected = NetworkOrder16(value);
  EXPECT_EQ(WS2<wsHtons>()(value), expected);  // through the stub
  EXPECT_FALSE(entry.SlotAtStub());
  EXPECT_EQ(reinterpret_cast<void*>(WS2<wsHtons>()), dlsym(SocketLibHandle(), "htons"));
  EXPECT_EQ(WS2<wsHtons>()(value), expected);  // straight to the function

  // A failing function's result and errno come through untouched.
  errno = 0;
  EXPECT_EQ(WS2<wsClose>()(-1), -1);
  EXPECT_EQ(errno, EBADF);
}

TEST_F(BindingTest, SecondStartReturnsZeroWithoutRunningTheStartUpAgain) {
  TWSAData first;
  ASSERT_EQ(StartSocketLibrary(0x0202, &first), 0);
  EXPECT_EQ(first.Version, 0x0202);
  EXPECT_EQ(first.HighVersion, 0x0202);
  EXPECT_NE(first.Description.find(Id_SOCKET_LIBRARY_NAME), std::string::npos);
  void* handle = SocketLibHandle();
  ASSERT_NE(handle, nullptr);

  TWSAData second;
  EXPECT_EQ(StartSocketLibrary(0x0202, &second), 0);
  EXPECT_EQ(second.Version, 0);  // the start-up never saw this record
  EXPECT_TRUE(second.Description.empty());
  EXPECT_EQ(SocketLibHandle(), handle);
}

TEST_F(BindingTest, StartUpAgreesOnTheVersion) {
  TWSAData older;
  ASSERT_EQ(StartSocketLibrary(0x0101, &older), 0);
  EXPECT_EQ(older.Version, 0x0101);
  UnloadSocketLibrary();

  TWSAData newer;
  ASSERT_EQ(StartSocketLibrary(0x0303, &newer), 0);
  EXPECT_EQ(newer.Version, 0x0202);
  UnloadSocketLibrary();

  TWSAData none;
  EXPECT_NE(StartSocketLibrary(0x0000, &none), 0);
}

TEST_F(BindingTest, UnloadPointsEverySlotAtItsStubAndASecondUnloadDoesNothing) {
  TWSAData data;
  ASSERT_EQ(StartSocketLibrary(0x0202, &data), 0);
  WS2<wsHtons>()(1);
  in_addr address{};
  EXPECT_EQ(WS2<wsInetAton>()("127.0.0.1", &address), 1);
  WS2<wsClose>()(-1);
  EXPECT_FALSE(EverySlotAtStub());
  EXPECT_EQ(WS2CleanupSlot.load()(), 0);

  UnloadSocketLibrary();
  EXPECT_EQ(SocketLibHandle(), nullptr);
  EXPECT_TRUE(EverySlotAtStub());
  EXPECT_THROW(WS2CleanupSlot.load()(), EIdWS2StubError);
  EXPECT_THROW(WS2<wsHtons>()(1), EIdWS2StubError);

  UnloadSocketLibrary();
  EXPECT_EQ(SocketLibHandle(), nullptr);
  EXPECT_TRUE(EverySlotAtStub());

  // And the library can be started and bound again afterwards.
  ASSERT_EQ(StartSocketLibrary(0x0202, &data), 0);
  EXPECT_EQ(WS2<wsInetAton>()("10.0.0.1", &address), 1);
}

TEST_F(BindingTest, ProgramEndCleansUpAndReleasesTheLibraryOnce) {
  TWSAData data;
  ASSERT_EQ(StartSocketLibrary(0x0202, &data), 0);
  GSocketStarted.store(true);
  WS2<wsHtons>()(1);
  ShutdownSocketLayer();
  EXPECT_EQ(SocketLibHandle(), nullptr);
  EXPECT_TRUE(EverySlotAtStub());
  EXPECT_NO_THROW(ShutdownSocketLayer());
  EXPECT_EQ(SocketLibHandle(), nullptr);
}

TEST_F(BindingTest, ResetForgetsTheHandleAndEveryBinding) {
  TWSAData data;
  ASSERT_EQ(StartSocketLibrary(0x0202, &data), 0);
  WS2<wsHtons>()(1);
  ResetBindings();
  EXPECT_EQ(SocketLibHandle(), nullptr);
  EXPECT_TRUE(EverySlotAtStub());
  EXPECT_THROW(WS2<wsHtons>()(1), EIdWS2StubError);
}

TEST_F(BindingTest, LibraryThatCannotBeLoadedRaisesWithTheFileNameAndReason) {
  const char* missing = "libquillon-no-such-library.so.9";
  TWSAData data;
  try {
    StartSocketLibraryFrom(missing, 0x0202, &data);
    FAIL() << "loading did not fail";
  } catch (const EIdWS2StubError& e) {
    EXPECT_EQ(e.CallTitle, std::string("Error on loading Winsock2 library (") + missing + ")");
    EXPECT_NE(e.SystemCode, 0);
    EXPECT_FALSE(e.SystemMessage.empty());
    EXPECT_EQ(e.Message(), e.CallTitle + ": " + e.SystemMessage);
  }
  EXPECT_EQ(SocketLibHandle(), nullptr);
  EXPECT_TRUE(EverySlotAtStub());
}

TEST(BindingErrorTest, MessageIsTheTitleAloneWithoutASystemCode) {
  const EIdWS2StubError plain(0, "Error on call Winsock2 library function recv");
  EXPECT_EQ(plain.Message(), "Error on call Winsock2 library function recv");
  EXPECT_TRUE(plain.SystemMessage.empty());
  EXPECT_EQ(plain.SystemCode, 0);

  const EIdWS2StubError withCode(EACCES, "Title");
  EXPECT_EQ(withCode.SystemMessage, std::strerror(EACCES));
  EXPECT_EQ(withCode.Message(), std::string("Title: ") + std::strerror(EACCES));
  EXPECT_EQ(withCode.CallTitle, "Title");
}

TEST_F(BindingTest, ThreadsBindingTheSameEntryAtOnceAllGetTheFunction) {
  TWSAData data;
  ASSERT_EQ(StartSocketLibrary(0x0202, &data), 0);
  constexpr int kThreads = 8;
  std::atomic<int> waiting{kThreads};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      waiting.fetch_sub(1);
      while (waiting.load() > 0) std::this_thread::yield();
      for (int i = 0; i < 200; ++i) {
        const auto value = static_cast<std::uint16_t>(t * 1000 + i);
        if (WS2<wsHtons>()(value) != NetworkOrder16(value)) wrong.fetch_add(1);
        in_addr address{};
        if (WS2<wsInetAton>()("1.2.3.4", &address) != 1) wrong.fetch_add(1);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_FALSE(WS2BindingTable[static_cast<std::size_t>(wsHtons)].SlotAtStub());
}

}  // namespace
}  // namespace quillon
