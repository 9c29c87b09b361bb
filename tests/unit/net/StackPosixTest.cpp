// The POSIX stack against the real kernel, with nothing but pipes and loopback
// UDP: error numbers, the wait with its list limit, per-thread errors, and
// lookups that never leave the process (numeric texts).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "net/IdException.h"
#include "net/IdStackPosix.h"
#include "net/IdWinSock2Posix.h"

namespace quillon {
namespace {

TEST(StackErrnoTest, ErrnoValuesBecomeTheirWinsockNumbers) {
  const std::pair<int, std::int32_t> cases[] = {
      {ETIMEDOUT, 10060},    {ECONNREFUSED, 10061}, {EMSGSIZE, 10040},        {EACCES, 10013},
      {EPERM, 10013},        {EINTR, 10004},        {EBADF, 10009},           {EINVAL, 10022},
      {EMFILE, 10024},       {EAGAIN, 10035},       {EWOULDBLOCK, 10035},     {EFAULT, 10014},
      {ENOTSOCK, 10038},     {EHOSTUNREACH, 10065}, {ENETUNREACH, 10051},     {EADDRINUSE, 10048},
      {EAFNOSUPPORT, 10047}, {ENOBUFS, 10055},      {EPROTONOSUPPORT, 10043}, {ENOTEMPTY, 10066},
      {EINPROGRESS, 10036},  {EHOSTDOWN, 10064},    {ECONNRESET, 10054},      {EOPNOTSUPP, 10045},
  };
  for (const auto& [error, code] : cases) {
    EXPECT_EQ(SocketErrorFromErrno(error), code) << std::strerror(error);
  }
  // Without a Winsock number the errno value stays.
  EXPECT_EQ(SocketErrorFromErrno(ENODEV), ENODEV);
  EXPECT_EQ(SocketErrorFromErrno(0), 0);
}

TEST(StackErrnoTest, ResolverFailuresBecomeTheLookupNumbers) {
  EXPECT_EQ(SocketErrorFromResolver(EAI_NONAME, 0), Id_WSAHOST_NOT_FOUND);
  EXPECT_EQ(SocketErrorFromResolver(EAI_AGAIN, 0), Id_WSATRY_AGAIN);
  EXPECT_EQ(SocketErrorFromResolver(EAI_FAIL, 0), Id_WSANO_RECOVERY);
#ifdef EAI_NODATA
  EXPECT_EQ(SocketErrorFromResolver(EAI_NODATA, 0), Id_WSANO_DATA);
#endif
  EXPECT_EQ(SocketErrorFromResolver(EAI_SYSTEM, ETIMEDOUT), Id_WSAETIMEDOUT);
  EXPECT_EQ(SocketErrorFromResolver(EAI_MEMORY, 0), 10055);
}

TEST(StackErrnoTest, ErrnoValuesWithoutANumberKeepTheSystemsText) {
  TIdStackPosix stack;
  EXPECT_EQ(stack.SocketErrorText(ENODEV), std::string("Socket Error # ") + std::to_string(ENODEV) +
                                               "\r\n" + std::strerror(ENODEV));
  EXPECT_EQ(stack.SocketErrorText(10060), "Socket Error # 10060\r\nConnection timed out.");
  EXPECT_EQ(stack.SocketErrorText(11004), "Socket Error # 11004\r\n");
}

TEST(StackSelectTest, MillisecondsSplitIntoSecondsAndMicroseconds) {
  const auto check = [](int ms, std::int64_t seconds, std::int64_t micros) {
    const TSelectWait wait = SelectWaitFromMs(ms);
    EXPECT_FALSE(wait.Unlimited) << ms;
    EXPECT_EQ(wait.Seconds, seconds) << ms;
    EXPECT_EQ(wait.Microseconds, micros) << ms;
  };
  check(1500, 1, 500000);
  check(0, 0, 0);
  check(999, 0, 999000);
  check(1000, 1, 0);
  check(9000, 9, 0);
  check(2147483647, 2147483, 647000);
  EXPECT_TRUE(SelectWaitFromMs(Id_WAIT_NO_LIMIT).Unlimited);
}

// A pipe whose read end is readable (one byte waiting).
class TReadablePipe {
 public:
  TReadablePipe() {
    EXPECT_EQ(pipe(ends_), 0);
    EXPECT_EQ(write(ends_[1], "x", 1), 1);
  }
  ~TReadablePipe() {
    close(ends_[0]);
    close(ends_[1]);
  }
  int ReadEnd() const { return ends_[0]; }
  int WriteEnd() const { return ends_[1]; }

 private:
  int ends_[2] = {-1, -1};
};

class StackPosixTest : public ::testing::Test {
 protected:
  TIdStackPosix stack_;
};

TEST_F(StackPosixTest, WaitListsHoldAtMost64Handles) {
  TReadablePipe ready;
  TIdSocketList tooMany(65, ready.ReadEnd());
  EXPECT_THROW(stack_.SockSelect(&tooMany, nullptr, nullptr, 0), EIdStackSetSizeExceeded);
  EXPECT_THROW(stack_.SockSelect(nullptr, &tooMany, nullptr, 0), EIdStackSetSizeExceeded);
  EXPECT_THROW(stack_.SockSelect(nullptr, nullptr, &tooMany, 0), EIdStackSetSizeExceeded);
  try {
    stack_.SockSelect(&tooMany, nullptr, nullptr, 0);
  } catch (const EIdStackSetSizeExceeded& e) {
    EXPECT_EQ(e.Message(), "Set Size Exceeded.");
  }
  EXPECT_EQ(tooMany.size(), 65u);

  TIdSocketList full(64, ready.ReadEnd());
  EXPECT_EQ(stack_.SockSelect(&full, nullptr, nullptr, 0), 64);
  EXPECT_EQ(full, TIdSocketList(64, ready.ReadEnd()));
}

TEST_F(StackPosixTest, ListsAreRefilledWithTheReadyHandles) {
  TReadablePipe ready;
  int idle[2];
  ASSERT_EQ(pipe(idle), 0);

  TIdSocketList reads{idle[0], ready.ReadEnd()};
  TIdSocketList writes{ready.WriteEnd()};
  TIdSocketList errors{ready.ReadEnd()};
  EXPECT_EQ(stack_.SockSelect(&reads, &writes, &errors, 1500), 2);
  EXPECT_EQ(reads, TIdSocketList{ready.ReadEnd()});
  EXPECT_EQ(writes, TIdSocketList{ready.WriteEnd()});
  EXPECT_TRUE(errors.empty());

  // Nothing ready: a time-out of 0 returns at once with empty lists.
  TIdSocketList quiet{idle[0]};
  EXPECT_EQ(stack_.SockSelect(&quiet, nullptr, nullptr, 0), 0);
  EXPECT_TRUE(quiet.empty());

  // Without a time limit the wait returns as soon as a handle is ready.
  TIdSocketList unlimited{ready.ReadEnd()};
  EXPECT_EQ(stack_.SockSelect(&unlimited, nullptr, nullptr, Id_WAIT_NO_LIMIT), 1);
  close(idle[0]);
  close(idle[1]);
}

TEST_F(StackPosixTest, HighDescriptorNumbersAreWaitedOnSafely) {
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  constexpr int kHigh = FD_SETSIZE + 200;
  if (limit.rlim_cur <= static_cast<rlim_t>(kHigh)) {
    GTEST_SKIP() << "the descriptor limit is below " << kHigh;
  }
  TReadablePipe ready;
  ASSERT_EQ(dup2(ready.ReadEnd(), kHigh), kHigh);
  TIdSocketList reads{kHigh};
  EXPECT_EQ(stack_.SockSelect(&reads, nullptr, nullptr, 1000), 1);
  EXPECT_EQ(reads, TIdSocketList{kHigh});
  close(kHigh);
}

TEST_F(StackPosixTest, FailuresReportTheirNumbersThroughTheResultCheck) {
  EXPECT_EQ(stack_.SockClose(-1), -1);
  EXPECT_EQ(stack_.GetSocketError(), Id_WSAEBADF);
  try {
    stack_.CheckSocketCall(-1);
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.ErrorCode, Id_WSAEBADF);
    EXPECT_EQ(e.Message(), "Socket Error # 10009\r\nBad file number.");
  }
  EXPECT_EQ(stack_.LastErrorCode.load(), Id_WSAEBADF);

  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  const int on = 1;
  EXPECT_EQ(stack_.SockSetOption(ends[0], SOL_IP, IP_TTL, &on, sizeof on), -1);
  EXPECT_EQ(stack_.GetSocketError(), 10038);  // not a socket
  EXPECT_EQ(stack_.SockShutdown(ends[0], Id_SD_Send), -1);
  EXPECT_EQ(stack_.GetSocketError(), 10038);
  close(ends[1]);

  // A handle that is not open makes the wait fail rather than report it ready.
  TIdSocketList closed{ends[0]};
  close(ends[0]);
  EXPECT_EQ(stack_.SockSelect(&closed, nullptr, nullptr, 0), -1);
  EXPECT_EQ(stack_.GetSocketError(), Id_WSAEBADF);
}

TEST_F(StackPosixTest, EachThreadKeepsItsOwnLastError) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  std::latch bothFailed(2);
  std::int32_t seenByFirst = 0;
  std::int32_t seenBySecond = 0;
  std::thread first([&] {
    stack_.SockClose(-1);  // bad descriptor
    bothFailed.arrive_and_wait();
    seenByFirst = stack_.GetSocketError();
  });
  std::thread second([&] {
    const int ttl = 5;
    stack_.SockSetOption(ends[0], SOL_IP, IP_TTL, &ttl, sizeof ttl);  // not a socket
    bothFailed.arrive_and_wait();
    seenBySecond = stack_.GetSocketError();
  });
  first.join();
  second.join();
  EXPECT_EQ(seenByFirst, Id_WSAEBADF);
  EXPECT_EQ(seenBySecond, 10038);
  close(ends[0]);
  close(ends[1]);
}

TEST_F(StackPosixTest, DatagramsTravelOverLoopback) {
  const int receiver = stack_.OpenSocket(Id_SOCK_DGRAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(receiver, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
  socklen_t length = sizeof local;
  ASSERT_EQ(getsockname(receiver, reinterpret_cast<sockaddr*>(&local), &length), 0);
  const int port = ntohs(local.sin_port);

  const int sender = stack_.OpenSocket(Id_SOCK_DGRAM, 0);
  EXPECT_EQ(stack_.SockSendTo(sender, "quillon", 7, 0, "127.0.0.1", port), 7);
  TIdSocketList reads{receiver};
  EXPECT_EQ(stack_.SockSelect(&reads, nullptr, nullptr, 5000), 1);
  char buffer[32] = {};
  EXPECT_EQ(stack_.SockRecv(receiver, buffer, sizeof buffer, 0), 7);
  EXPECT_STREQ(buffer, "quillon");
  EXPECT_FALSE(stack_.IsIcmpDatagramSocket(receiver));

  // Address text is checked before anything is sent.
  EXPECT_THROW(stack_.SockSendTo(sender, "x", 1, 0, "127.0.0.256", port), EIdInvalidIPAddress);
  // Shutdown passes the system's answer on: an unconnected datagram socket has
  // no connection to shut down.
  EXPECT_EQ(stack_.SockShutdown(sender, Id_SD_Send), -1);
  EXPECT_EQ(stack_.GetSocketError(), 10057);
  EXPECT_EQ(stack_.SockClose(sender), 0);
  EXPECT_EQ(stack_.SockClose(receiver), 0);
}

TEST_F(StackPosixTest, NumericNamesResolveWithoutAQuery) {
  EXPECT_EQ(stack_.HostNameToAddr("127.0.0.1"), "127.0.0.1");
  EXPECT_EQ(stack_.HostNameToAddr("10"), "0.0.0.10");
  EXPECT_EQ(stack_.HostNameToAddr("127.1"), "127.0.0.1");
}

TEST_F(StackPosixTest, AddressTextThatIsNoAddressIsNotLookedUp) {
  try {
    stack_.AddrToHostName("not an address");
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.ErrorCode, Id_WSAEINVAL);
    EXPECT_EQ(e.Message(), "Socket Error # 10022\r\nInvalid argument.");
  }
}

TEST_F(StackPosixTest, LookupsFromFiftyThreadsKeepTheirOwnResults) {
  constexpr int kThreads = 50;
  std::vector<std::string> results(kThreads);
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      start.arrive_and_wait();
      for (int round = 0; round < 20; ++round) {
        const std::string address = "127.0." + std::to_string(round) + "." + std::to_string(i + 1);
        const std::string found = stack_.HostNameToAddr(address);
        if (found != address) {
          results[static_cast<std::size_t>(i)] = found + " for " + address;
          return;
        }
      }
      results[static_cast<std::size_t>(i)] = "ok";
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const std::string& result : results) EXPECT_EQ(result, "ok");
}

TEST(StackStartTest, TheStackStartsTheLibraryOncePerProcess) {
  TIdStackPosix first;
  EXPECT_TRUE(GSocketStarted.load());
  EXPECT_NE(SocketLibHandle(), nullptr);
  void* handle = SocketLibHandle();
  TIdStackPosix second;
  EXPECT_EQ(SocketLibHandle(), handle);
}

}  // namespace
}  // namespace quillon
