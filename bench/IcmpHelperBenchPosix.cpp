// What the ICMP helper adds to a probe: one echo exchange with 127.0.0.1 on a
// raw socket of our own (Arg 0), and the same through a channel of the helper
// (Arg 1), which builds the request, keeps its raw socket and sends the answer
// back as text to be rebuilt. Needs root (the built helper has no capability);
// a hundred iterations stay within the helper's burst, so its rate does not
// pace them.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>

#include "net/IcmpDatagram.h"
#include "net/IcmpHelperPosix.h"

namespace {

using namespace quillon;

constexpr std::uint16_t kIdentifier = 0x5151;

std::array<std::uint8_t, 12> EchoRequest(std::uint16_t sequence) {
  std::array<std::uint8_t, 12> request = {8,
                                          0,
                                          0,
                                          0,
                                          kIdentifier >> 8,
                                          kIdentifier & 0xFF,
                                          static_cast<std::uint8_t>(sequence >> 8),
                                          static_cast<std::uint8_t>(sequence & 0xFF),
                                          'q',
                                          'u',
                                          'i',
                                          'l'};
  const std::uint16_t checksum = InternetChecksum(request);
  request[2] = static_cast<std::uint8_t>(checksum >> 8);
  request[3] = static_cast<std::uint8_t>(checksum & 0xFF);
  return request;
}

bool AwaitReply(int socket, bool helper, std::uint16_t sequence) {
  std::array<std::uint8_t, 1500> datagram{};
  for (;;) {
    pollfd ready{socket, POLLIN, 0};
    if (poll(&ready, 1, 1000) != 1) return false;
    std::int32_t error = 0;
    const int count = helper ? ReceiveIcmpHelper(socket, datagram, error)
                             : static_cast<int>(recv(socket, datagram.data(), datagram.size(), 0));
    // The raw socket also reads its own request on the loopback.
    if (count >= 28 && datagram[20] == 0 && datagram[26] == (sequence >> 8) &&
        datagram[27] == (sequence & 0xFF))
      return true;
    if (count < 0) return false;
  }
}

void BM_EchoLoopback(benchmark::State& state) {
  const bool helper = state.range(0) == 1;
  if (::geteuid() != 0) {
    state.SkipWithError("needs root: raw sockets, and the built helper without its capability");
    return;
  }
  const int socket =
      helper ? OpenIcmpHelperChannel(AF_INET) : ::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
  if (socket < 0) {
    state.SkipWithError("no socket");
    return;
  }
  if (helper) SetIcmpHelperChannelTtl(socket, 64);
  const sockaddr_in loopback{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  std::uint16_t sequence = 0;
  for (auto _ : state) {
    const auto request = EchoRequest(++sequence);
    std::int32_t error = 0;
    const long sent = helper
                          ? SendIcmpHelperEcho(socket, request, TIdIPv4Bytes{127, 0, 0, 1}, error)
                          : sendto(socket, request.data(), request.size(), 0,
                                   reinterpret_cast<const sockaddr*>(&loopback), sizeof loopback);
    if (sent != static_cast<long>(request.size()) || !AwaitReply(socket, helper, sequence)) {
      state.SkipWithError("no reply");
      break;
    }
  }
  if (helper) {
    CloseIcmpHelperChannel(socket);
  } else {
    ::close(socket);
  }
}
BENCHMARK(BM_EchoLoopback)->Arg(0)->Arg(1)->Iterations(100)->Unit(benchmark::kMicrosecond);

}  // namespace
