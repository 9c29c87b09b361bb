// A fixture for tests that talk to the simulated network through a stack of
// their own, the way the socket layer does, without any component.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "net/IdStackConsts.h"
#include "support/SimulatedNetwork.h"

namespace quillon {

class SimStackFixture : public ::testing::Test {
 protected:
  using Bytes = std::vector<std::uint8_t>;
  static constexpr char kTarget[] = "10.9.9.9";

  void SetUp() override { config.Target = kTarget; }
  // Sockets outlive a test in the process-wide network; later tests must not
  // find this one's still listening.
  void TearDown() override {
    for (TIdStackSocketHandle socket : opened_) Stack().SockClose(socket);
  }

  // The stack, made on first use from `config` as the test left it.
  TSimulatedStack& Stack() {
    if (!stack_) {
      net_ = &InstallSimulatedNetwork(config);
      stack_.emplace();
    }
    return *stack_;
  }
  TSimNetwork& Net() {
    Stack();
    return *net_;
  }

  TIdStackSocketHandle OpenWithTtl(int ttl) {
    const TIdStackSocketHandle socket = Stack().OpenSocket(Id_SOCK_RAW, Id_IPPROTO_ICMP);
    opened_.push_back(socket);
    EXPECT_EQ(Stack().SockSetOption(socket, Id_IPPROTO_IP, Id_IP_TTL, &ttl, sizeof ttl), 0);
    return socket;
  }

  // The byte count sent, or -1.
  int Send(TIdStackSocketHandle socket, const Bytes& message, const std::string& to = kTarget) {
    return Stack().SockSendTo(socket, message.data(), static_cast<int>(message.size()), 0, to, 0);
  }

  // The next datagram within the wait, read as the socket layer reads it.
  std::optional<Bytes> Receive(TIdStackSocketHandle socket, int waitMs = 5000) {
    TIdSocketList readList{socket};
    if (Stack().SockSelect(&readList, nullptr, nullptr, waitMs) != 1) return std::nullopt;
    EXPECT_EQ(readList, TIdSocketList{socket});
    Bytes buffer(10240);
    const int count = Stack().SockRecv(socket, buffer.data(), static_cast<int>(buffer.size()), 0);
    if (count < 0) return std::nullopt;
    buffer.resize(static_cast<std::size_t>(count));
    return buffer;
  }

  TSimConfig config;

 private:
  TSimNetwork* net_ = nullptr;
  std::optional<TSimulatedStack> stack_;
  std::vector<TIdStackSocketHandle> opened_;
};

}  // namespace quillon
