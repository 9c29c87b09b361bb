// A socket stack that records every call the raw-socket layer makes and answers
// from a script: queued datagrams, select results, send results and errors. It
// also moves a fake clock on by the time a wait would have taken, so waits and
// time budgets are exercised without real waiting.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "net/IdAntiFreezeBase.h"
#include "net/IdException.h"
#include "net/IdStack.h"
#include "platform/Clock.h"
#include "platform/Process.h"

namespace quillon::rawtest {

class TFakeClock : public TClock {
 public:
  std::uint32_t Tick = 0;
  // Values handed out by PerformanceCounter in turn; the last one repeats.
  std::deque<std::int64_t> Counters{0};
  std::int64_t Frequency = 1'000'000;

  std::uint32_t TickCount() override { return Tick; }
  std::int64_t PerformanceCounter() override {
    const std::int64_t value = Counters.front();
    if (Counters.size() > 1) Counters.pop_front();
    return value;
  }
  std::int64_t PerformanceFrequency() override { return Frequency; }
};

struct TSentDatagram {
  TIdStackSocketHandle Socket = Id_INVALID_SOCKET;
  std::vector<std::uint8_t> Bytes;
  std::string Address;
  int Port = 0;
};

class TRecordingStack : public TIdStack {
 public:
  inline static TRecordingStack* Current = nullptr;
  // The fake clock that waits move on (none: the clock stays put).
  inline static TFakeClock* Clock = nullptr;

  TRecordingStack() { Current = this; }
  ~TRecordingStack() override { Current = nullptr; }

  // One line per call, for example "open 3 1", "ttl 100 64", "select 100 50".
  std::vector<std::string> Calls;
  std::vector<int> SelectTimeouts;
  std::vector<TSentDatagram> Sent;

  // Datagrams that "arrive"; select reports readable while any is queued.
  std::deque<std::vector<std::uint8_t>> Incoming;
  // Milliseconds a readable select takes (each datagram arrives that much later).
  std::uint32_t ArrivalDelayMs = 0;
  // Scripted select results taken before the queue is looked at.
  std::deque<int> SelectResults;
  // Milliseconds after which a failed select (a signal) returns; -1: its whole time-out.
  int InterruptAfterMs = -1;
  // -1 to fail every receive with ReceiveError.
  int ReceiveResult = 0;
  std::int32_t ReceiveError = 0;
  // Unset: the whole buffer is sent. -1 fails with SendError.
  int SendResult = 0;
  bool SendResultSet = false;
  std::int32_t SendError = 0;
  int SetOptionResult = 0;
  std::int32_t SetOptionError = 0;
  bool OpenFails = false;
  std::map<std::string, std::string> Hosts;
  // What an ICMP datagram socket reports as the identifier the system sends.
  std::optional<std::uint16_t> EchoIdentifier;

  TIdStackSocketHandle NextSocket = 100;
  std::int32_t LastError = 0;

  std::optional<std::uint16_t> SockEchoIdentifier(TIdStackSocketHandle) override {
    return EchoIdentifier;
  }
  int SockClose(TIdStackSocketHandle socket) override {
    Calls.push_back("close " + std::to_string(socket));
    return 0;
  }
  int SockShutdown(TIdStackSocketHandle socket, int how) override {
    Calls.push_back("shutdown " + std::to_string(socket) + " " + std::to_string(how));
    return 0;
  }
  TIdStackSocketHandle SockOpen(int family, int type, int protocol) override {
    EXPECT_TRUE(family == Id_PF_INET4 || family == Id_PF_INET6);
    Calls.push_back((family == Id_PF_INET6 ? "open6 " : "open ") + std::to_string(type) + " " +
                    std::to_string(protocol));
    if (OpenFails) {
      LastError = Id_WSAEACCES;
      return Id_INVALID_SOCKET;
    }
    return NextSocket++;
  }
  int SockSetOption(TIdStackSocketHandle socket, int level, int optionName, const void* value,
                    int valueLength) override {
    std::int32_t intValue = -1;
    if (valueLength == 4) std::memcpy(&intValue, value, 4);
    if (level == Id_IPPROTO_IP && optionName == Id_IP_TTL) {
      Calls.push_back("ttl " + std::to_string(socket) + " " + std::to_string(intValue));
    } else if (level == Id_IPPROTO_IPV6 && optionName == Id_IPV6_UNICAST_HOPS) {
      Calls.push_back("hops " + std::to_string(socket) + " " + std::to_string(intValue));
    } else {
      Calls.push_back("setopt " + std::to_string(socket) + " " + std::to_string(level) + " " +
                      std::to_string(optionName));
    }
    if (SetOptionResult == -1) LastError = SetOptionError;
    return SetOptionResult;
  }
  int SockRecv(TIdStackSocketHandle socket, void* buffer, int length, int flags) override {
    Calls.push_back("recv " + std::to_string(socket) + " " + std::to_string(length) + " " +
                    std::to_string(flags));
    if (ReceiveResult == -1) {
      LastError = ReceiveError;
      return -1;
    }
    if (Incoming.empty()) return 0;
    const std::vector<std::uint8_t> datagram = std::move(Incoming.front());
    Incoming.pop_front();
    const int count = std::min(length, static_cast<int>(datagram.size()));
    std::memcpy(buffer, datagram.data(), static_cast<std::size_t>(count));
    return count;
  }
  int SockSendTo(TIdStackSocketHandle socket, const void* buffer, int length, int flags,
                 const std::string& address, int port) override {
    EXPECT_EQ(flags, 0);
    Calls.push_back("sendto " + std::to_string(socket) + " " + address + ":" +
                    std::to_string(port) + " " + std::to_string(length));
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    Sent.push_back({socket, std::vector<std::uint8_t>(bytes, bytes + length), address, port});
    if (!SendResultSet) return length;
    if (SendResult == -1) LastError = SendError;
    return SendResult;
  }
  int SockSelect(TIdSocketList* readList, TIdSocketList* writeList, TIdSocketList* errorList,
                 int timeoutMs) override {
    EXPECT_NE(readList, nullptr);
    EXPECT_EQ(writeList, nullptr);
    EXPECT_EQ(errorList, nullptr);
    const TIdStackSocketHandle socket =
        readList != nullptr && readList->size() == 1 ? readList->front() : Id_INVALID_SOCKET;
    Calls.push_back("select " + std::to_string(socket) + " " + std::to_string(timeoutMs));
    SelectTimeouts.push_back(timeoutMs);
    int result = Incoming.empty() ? 0 : 1;
    if (!SelectResults.empty()) {
      result = SelectResults.front();
      SelectResults.pop_front();
    }
    if (result == -1) LastError = Id_WSAEINTR;
    if (Clock != nullptr) {
      if (result == 1) {
        Clock->Tick += ArrivalDelayMs;
      } else if (result == -1 && InterruptAfterMs >= 0) {
        Clock->Tick += static_cast<std::uint32_t>(InterruptAfterMs);
      } else if (timeoutMs > 0) {
        Clock->Tick += static_cast<std::uint32_t>(timeoutMs);
      }
    }
    if (readList != nullptr && result != 1) readList->clear();
    return result;
  }
  std::int32_t GetSocketError() override { return LastError; }
  std::string HostNameToAddr(const std::string& hostName) override {
    Calls.push_back("lookup " + hostName);
    auto it = Hosts.find(hostName);
    if (it == Hosts.end()) RaiseSocketFailure(Id_WSAHOST_NOT_FOUND);
    return it->second;
  }
  std::string AddrToHostName(const std::string& address) override {
    Calls.push_back("reverse " + address);
    RaiseSocketFailure(Id_WSAHOST_NOT_FOUND);
  }
};

// Counts how often the anti-freeze would have let the window's messages through.
class TCountingAntiFreeze : public TIdAntiFreezeBase {
 public:
  void PumpMessages() override { ++Pumps; }
  int Pumps = 0;
};

inline std::unique_ptr<TIdStack> MakeRecordingStack() {
  return std::make_unique<TRecordingStack>();
}

// Installs the recording stack and a fake clock for the length of a test, and
// names the test's thread the main thread.
class TRecordingStackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MarkMainThread();
    previousClass_ = GSocketStackClass;
    GSocketStackClass = &MakeRecordingStack;
    TRecordingStack::Clock = &clock_;
    SetClockForTesting(&clock_);
  }
  void TearDown() override {
    SetClockForTesting(nullptr);
    TRecordingStack::Clock = nullptr;
    GSocketStackClass = previousClass_;
  }

  // The stack in force; valid while a component of the test lives.
  static TRecordingStack& Recording() {
    EXPECT_NE(TRecordingStack::Current, nullptr) << "no component keeps the recording stack";
    return *TRecordingStack::Current;
  }

  TFakeClock clock_;

 private:
  TIdStackClass previousClass_ = nullptr;
};

}  // namespace quillon::rawtest
