// Failures and lookups of the simulated network: each injected fault must come
// out of the stack the way the real system call reports it, and names must
// resolve as configured, from many threads at once.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "net/IdException.h"
#include "net/IdStackConsts.h"
#include "support/SimStackFixture.h"

namespace quillon {
namespace {

class SimFailureTest : public SimStackFixture {
 protected:
  void SetUp() override {
    SimStackFixture::SetUp();
    config.Route = {TSimHop::Router("10.0.0.1"), TSimHop::Destination(kTarget)};
  }
  int SendTwelveBytes(TIdStackSocketHandle socket) {
    // type 8, identifier 0, sequence 1, and the checksum over them
    return Send(socket, {8, 0, 0xF6, 0xFF, 0, 0, 1, 0, 0, 0, 0, 0});
  }
};

TEST_F(SimFailureTest, SocketCallFailuresComeOutWithTheirCodes) {
  config.OpenFailure = {Id_WSAEACCES, 1};
  config.SendFailure = {Id_WSAEMSGSIZE, 1};
  config.SetOptionFailure = {Id_WSAEINVAL, 1};
  TSimulatedStack& stack = Stack();

  // Without the right to open raw sockets, the stack reports no socket.
  try {
    stack.OpenSocket(Id_SOCK_RAW, Id_IPPROTO_ICMP);
    FAIL() << "no exception";
  } catch (const EIdInvalidSocket& e) {
    EXPECT_STREQ(e.what(), "Cannot allocate socket.");
  }
  const TIdStackSocketHandle socket = stack.OpenSocket(Id_SOCK_RAW, Id_IPPROTO_ICMP);
  EXPECT_EQ(Net().Counters().OpenSockets, 1);

  int ttl = 1;
  EXPECT_EQ(stack.SockSetOption(socket, Id_IPPROTO_IP, Id_IP_TTL, &ttl, sizeof ttl), -1);
  EXPECT_EQ(stack.GetSocketError(), Id_WSAEINVAL);
  EXPECT_EQ(stack.SockSetOption(socket, Id_IPPROTO_IP, Id_IP_TTL, &ttl, sizeof ttl), 0);
  int zero = 0;
  EXPECT_EQ(stack.SockSetOption(socket, Id_IPPROTO_IP, Id_IP_TTL, &zero, sizeof zero), -1)
      << "a TTL of 0 is refused as by the system";
  EXPECT_EQ(Net().SocketTtl(socket), 1);

  EXPECT_EQ(SendTwelveBytes(socket), -1);
  EXPECT_EQ(stack.GetSocketError(), Id_WSAEMSGSIZE);
  EXPECT_EQ(SendTwelveBytes(socket), 12) << "the failure was for one call only";
  EXPECT_EQ(Net().Sent().size(), 1u) << "a failed send records nothing";

  // Shutdown of the sending side shuts it even though the call reports the
  // socket as unconnected; a closed socket is no socket any more.
  EXPECT_EQ(stack.SockShutdown(socket, Id_SD_Send), -1);
  EXPECT_EQ(SendTwelveBytes(socket), -1);
  EXPECT_EQ(stack.SockClose(socket), 0);
  EXPECT_EQ(stack.SockClose(socket), -1);
  EXPECT_EQ(stack.GetSocketError(), 10038);
  EXPECT_EQ(Net().Counters().OpenSockets, 0);
}

TEST_F(SimFailureTest, WaitAndReceiveFailuresLeaveOrDropTheDatagramAsTheSystemDoes) {
  config.SelectFailure = {Id_WSAEINTR, 1};
  config.ReceiveFailure = {Id_WSAEINTR, 1};
  TSimulatedStack& stack = Stack();
  const TIdStackSocketHandle socket = stack.OpenSocket(Id_SOCK_RAW, Id_IPPROTO_ICMP);
  int ttl = 1;
  ASSERT_EQ(stack.SockSetOption(socket, Id_IPPROTO_IP, Id_IP_TTL, &ttl, sizeof ttl), 0);
  ASSERT_EQ(SendTwelveBytes(socket), 12);

  TIdSocketList readList{socket};
  EXPECT_EQ(stack.SockSelect(&readList, nullptr, nullptr, 5000), -1);
  EXPECT_EQ(stack.GetSocketError(), Id_WSAEINTR);
  readList = {socket, socket};
  EXPECT_EQ(stack.SockSelect(&readList, nullptr, nullptr, 5000), 1);
  EXPECT_EQ(readList, TIdSocketList{socket});

  std::uint8_t buffer[10240];
  EXPECT_EQ(stack.SockRecv(socket, buffer, sizeof buffer, 0), -1);
  EXPECT_EQ(Net().QueuedOn(socket), 1) << "a failed receive leaves the datagram queued";
  // Too small a buffer: the receive fails with "Message too long" and the
  // datagram is gone.
  EXPECT_EQ(stack.SockRecv(socket, buffer, 10, 0), -1);
  EXPECT_EQ(stack.GetSocketError(), Id_WSAEMSGSIZE);
  EXPECT_EQ(Net().QueuedOn(socket), 0);

  TIdSocketList tooMany(65, socket);
  EXPECT_THROW(stack.SockSelect(&tooMany, nullptr, nullptr, 0), EIdStackSetSizeExceeded);
  readList = {socket};
  EXPECT_EQ(stack.SockSelect(&readList, nullptr, nullptr, 0), 0);
  EXPECT_TRUE(readList.empty());

  const std::vector<TSimSelectCall> selects = Net().Selects();
  ASSERT_EQ(selects.size(), 3u);
  EXPECT_EQ(selects[0].TimeoutMs, 5000);
  EXPECT_EQ(selects[0].Result, -1);
  EXPECT_EQ(selects[2].TimeoutMs, 0);
  EXPECT_EQ(selects[2].ReadList, TIdSocketList{socket});
  EXPECT_EQ(stack.SockClose(socket), 0);
}

TEST_F(SimFailureTest, StackCreationCanFailLikeAMissingSocketLibrary) {
  config.StackCreationFails = true;
  InstallSimulatedNetwork(config);
  try {
    TSimulatedStack stack;
    FAIL() << "no exception";
  } catch (const EIdStackInitializationFailed& e) {
    EXPECT_STREQ(e.what(), "Winsock Initialization Error.");
  }
}

TEST_F(SimFailureTest, AddressTyposAreRefusedAtSetUpNotInAWorker) {
  config.Route.push_back(TSimHop::Router("10.0.0.300"));
  EXPECT_THROW(InstallSimulatedNetwork(config), std::invalid_argument);
  TSimNetwork& net = InstallSimulatedNetwork();
  EXPECT_THROW(net.Update([](TSimConfig& c) { c.Target = "target.test"; }), std::invalid_argument);
  EXPECT_TRUE(net.Config().Target.empty()) << "a refused change leaves the network as it was";
}

TEST_F(SimFailureTest, NamesResolveAsConfiguredAndFailWithTheResolverCodes) {
  config.ForwardNames["Target.Test"] = TSimForward::To(kTarget);
  config.ForwardNames["broken.test"] = TSimForward::Failure(Id_WSATRY_AGAIN);
  config.ReverseNames["10.0.0.1"] = TSimReverse::Name("gw.test");
  config.ReverseNames["10.0.0.2"] = TSimReverse::Failure(Id_WSANO_DATA);
  TSimulatedStack& stack = Stack();

  EXPECT_EQ(stack.HostNameToAddr("target.TEST"), kTarget);
  EXPECT_EQ(stack.HostNameToAddr("LocalHost"), "127.0.0.1");
  EXPECT_EQ(stack.HostNameToAddr("10.1.2.3"), "10.1.2.3");
  EXPECT_EQ(stack.HostNameToAddr("10"), "0.0.0.10")
      << "numeric text as the system resolver reads it";
  try {
    stack.HostNameToAddr("nowhere.test");
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.ErrorCode, 11001);
    EXPECT_EQ(std::string(e.what()), "Socket Error # 11001\r\nHost not found.");
  }
  try {
    stack.HostNameToAddr("broken.test");
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.ErrorCode, Id_WSATRY_AGAIN);
  }

  EXPECT_EQ(stack.AddrToHostName("10.0.0.1"), "gw.test");
  EXPECT_THROW(stack.AddrToHostName("10.0.0.2"), EIdSocketError);
  EXPECT_THROW(stack.AddrToHostName("10.0.0.3"), EIdSocketError);

  Net().Update([](TSimConfig& c) { c.LookupFailure = {Id_WSANO_RECOVERY, -1}; });
  EXPECT_THROW(stack.AddrToHostName("10.0.0.1"), EIdSocketError);
  EXPECT_THROW(stack.HostNameToAddr("target.test"), EIdSocketError);

  const std::vector<TSimLookup> lookups = Net().Lookups();
  ASSERT_EQ(lookups.size(), 11u);
  EXPECT_EQ(lookups[0].Kind, TSimLookupKind::Forward);
  EXPECT_EQ(lookups[0].Query, "target.TEST");
  EXPECT_EQ(lookups[6].Kind, TSimLookupKind::Reverse);
  EXPECT_EQ(lookups[6].Result, "gw.test");
  EXPECT_EQ(lookups[10].ErrorCode, Id_WSANO_RECOVERY);
}

TEST_F(SimFailureTest, HeldLookupsRunConcurrentlyUntilReleased) {
  constexpr int kWorkers = 12;
  config.ReverseNames["10.0.0.1"] = TSimReverse::HeldName("gw.test");
  TSimulatedStack& stack = Stack();
  std::vector<std::string> names(kWorkers);
  std::vector<std::thread> workers;
  for (int i = 0; i < kWorkers; ++i) {
    workers.emplace_back([&stack, &names, i] {
      names[static_cast<std::size_t>(i)] = stack.AddrToHostName("10.0.0.1");
    });
  }
  // All of them are inside the lookup at once before anything is released.
  EXPECT_TRUE(
      Net().WaitUntil([](const TSimCounters& c) { return c.ActiveLookups == kWorkers; }, 20000));
  EXPECT_EQ(Net().Counters().ActiveLookups, kWorkers);
  EXPECT_TRUE(Net().Lookups().empty());
  Net().ReleaseHeldLookups();
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(names, std::vector<std::string>(kWorkers, "gw.test"));
  EXPECT_EQ(Net().Counters().PeakConcurrentLookups, kWorkers);
  EXPECT_EQ(Net().Counters().ActiveLookups, 0);
}

// Probe workers each wait on their own socket; each must find its own answer
// among everyone's, as on a real host.
TEST_F(SimFailureTest, ConcurrentProbesEachFindTheirOwnAnswer) {
  constexpr int kProbes = 5;
  config.Route = {TSimHop::Router("10.0.0.1", 3), TSimHop::Router("10.0.0.2", 1),
                  TSimHop::Router("10.0.0.3", 4), TSimHop::Router("10.0.0.4", 2),
                  TSimHop::Destination(kTarget)};
  TSimulatedStack& stack = Stack();
  std::vector<int> answeredBy(kProbes, 0);
  std::vector<std::thread> probes;
  for (int i = 0; i < kProbes; ++i) {
    probes.emplace_back([&stack, &answeredBy, i] {
      const TIdStackSocketHandle socket = stack.OpenSocket(Id_SOCK_RAW, Id_IPPROTO_ICMP);
      int ttl = i + 1;
      stack.SockSetOption(socket, Id_IPPROTO_IP, Id_IP_TTL, &ttl, sizeof ttl);
      const auto sequence = static_cast<std::uint8_t>(40 + i);
      std::uint8_t request[12] = {8, 0, 0, 0, 0, 0, sequence, 0, 0, 0, 0, 0};
      const std::uint16_t checksum =
          static_cast<std::uint16_t>(~((0x0800 + (sequence << 8)) & 0xFFFF));
      request[2] = static_cast<std::uint8_t>(checksum >> 8);
      request[3] = static_cast<std::uint8_t>(checksum & 0xFF);
      stack.SockSendTo(socket, request, sizeof request, 0, kTarget, 0);
      std::uint8_t buffer[10240];
      for (int received = 0; received < 20; ++received) {
        TIdSocketList readList{socket};
        if (stack.SockSelect(&readList, nullptr, nullptr, 5000) != 1) break;
        const int count = stack.SockRecv(socket, buffer, sizeof buffer, 0);
        // Echo reply: sequence at 26; error messages: inside the quoted request at 54.
        const int at = buffer[20] == 0 ? 26 : 54;
        if (count > at && buffer[at] == sequence) {
          answeredBy[static_cast<std::size_t>(i)] = buffer[15];
          break;
        }
      }
      stack.SockClose(socket);
    });
  }
  for (std::thread& probe : probes) probe.join();
  EXPECT_EQ(answeredBy, (std::vector<int>{1, 2, 3, 4, 9}));
  EXPECT_EQ(Net().Counters().OpenSockets, 0);
  EXPECT_EQ(Net().Counters().DatagramsSent, kProbes);
}

}  // namespace
}  // namespace quillon
