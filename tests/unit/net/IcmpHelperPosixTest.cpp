// The ICMP helper's request, and the built helper's answer to requests it must
// refuse: a clear message, a non-zero status and no socket.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "net/IcmpHelperPosix.h"
#include "platform/ExecutablePath.h"

namespace quillon {
namespace {

using Words = std::vector<std::string_view>;

TEST(IcmpHelperRequest, RefusesEveryOtherRequest) {
  const std::vector<Words> refused = {
      {},                                    // nothing asked
      {"icmp"},                              // no count
      {"icmp", "4", "icmp6"},                // one kind per run
      {"icmp", "0"},                         // nothing to open
      {"icmp", "65"},                        // above the bound
      {"icmp", "999999999999"},              // far above it, no overflow
      {"icmp", "-1"},                        // a sign
      {"icmp", "+4"},                        //
      {"icmp", "04"},                        // a leading zero
      {"icmp", " 4"},                        // a blank
      {"icmp", "4x"},                        // trailing text
      {"icmp", ""},                          // an empty count
      {"udp", "4"},                          // another kind
      {"ICMP", "4"},                         // case matters
      {"icmp4", "4"},                        //
      {"--icmp", "4"},                       // no options
      {"/bin/sh", "4"},                      // no paths
      {"4", "icmp"},                         // order matters
      {std::string_view("icmp\0", 5), "4"},  // an embedded NUL
  };
  for (const Words& words : refused) {
    const TIcmpHelperRequest request = ParseIcmpHelperRequest(words);
    std::string shown;
    for (const auto word : words) shown += "[" + std::string(word) + "]";
    EXPECT_FALSE(request.Valid()) << shown;
  }
}

TEST(IcmpHelperRequest, ReadsBackWhatTheClientAsks) {
  for (const auto kind : {TIcmpSocketKind::Icmp4, TIcmpSocketKind::Icmp6}) {
    for (const int count : {1, 9, 10, 16, IcmpHelperMaxSockets}) {
      const std::vector<std::string> asked = IcmpHelperRequestWords(kind, count);
      const Words words(asked.begin(), asked.end());
      const TIcmpHelperRequest request = ParseIcmpHelperRequest(words);
      ASSERT_TRUE(request.Valid()) << request.Error;
      EXPECT_EQ(request.Kind, kind);
      EXPECT_EQ(request.Count, count);
    }
  }
  EXPECT_EQ(IcmpHelperRequestWords(TIcmpSocketKind::Icmp6, 16),
            (std::vector<std::string>{"icmp6", "16"}));
}

// Status and standard error of the built helper run by hand.
std::pair<int, std::string> RunByHand(const std::string& arguments) {
  const std::string command = std::string(QUILLON_ICMP_HELPER_BUILT) + " " + arguments + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return {-1, ""};
  std::string output;
  char buffer[256];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    output.append(buffer, n);
  const int status = ::pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

TEST(IcmpHelperProgram, RefusesABadRequestClearlyAndHandsNothingOver) {
  const auto [status, message] = RunByHand("icmp 1000 </dev/null");
  EXPECT_EQ(status, 2);
  EXPECT_EQ(
      message.rfind("quillon-icmp-helper: refused: the count is not a number from 1 to 64\n", 0),
      0u)
      << message;
  EXPECT_NE(message.find("usage: quillon-icmp-helper icmp|icmp6 COUNT"), std::string::npos);

  const auto [notSocket, why] = RunByHand("icmp 2 </dev/null");
  EXPECT_EQ(notSocket, 2);
  EXPECT_EQ(why,
            "quillon-icmp-helper: refused: standard input is not a Unix socket to hand "
            "sockets over\n");

  const TIcmpHelperRun run = RunIcmpHelper(QUILLON_ICMP_HELPER_BUILT, TIcmpSocketKind::Icmp4, 0);
  EXPECT_EQ(run.ExitStatus, 2);
  EXPECT_TRUE(run.Sockets.empty());
}

TEST(IcmpHelperProgram, HandsOverAsManyRawSocketsAsAskedInOneRun) {
  if (::geteuid() != 0) GTEST_SKIP() << "the built helper has no capability here; root has";
  for (const auto& [kind, family] :
       {std::pair{TIcmpSocketKind::Icmp4, AF_INET}, std::pair{TIcmpSocketKind::Icmp6, AF_INET6}}) {
    const TIcmpHelperRun run = RunIcmpHelper(QUILLON_ICMP_HELPER_BUILT, kind, 5);
    EXPECT_EQ(run.ExitStatus, 0);
    ASSERT_EQ(run.Sockets.size(), 5u);
    for (const int socket : run.Sockets) {
      int domain = 0;
      int type = 0;
      socklen_t length = sizeof domain;
      ASSERT_EQ(getsockopt(socket, SOL_SOCKET, SO_DOMAIN, &domain, &length), 0);
      length = sizeof type;
      ASSERT_EQ(getsockopt(socket, SOL_SOCKET, SO_TYPE, &type, &length), 0);
      EXPECT_EQ(domain, family);
      EXPECT_EQ(type, SOCK_RAW);
      EXPECT_NE(fcntl(socket, F_GETFD) & FD_CLOEXEC, 0) << "no program it starts inherits them";
      ::close(socket);
    }
  }
}

// The stack's pool: a run of the helper brings a batch of sockets, so twenty
// sockets (a trace's worth) start it twice, not twenty times. A wrapper at the
// helper's place for this test program counts the runs of the built one.
TEST(IcmpHelperClient, OneRunOfTheHelperServesABatchOfSockets) {
  if (::geteuid() != 0) GTEST_SKIP() << "the built helper has no capability here; root has";
  namespace fs = std::filesystem;
  const fs::path helper = IcmpHelperPath(ExecutablePath());
  if (fs::exists(helper.parent_path())) GTEST_SKIP() << helper.parent_path() << " exists";
  fs::create_directories(helper.parent_path());
  const fs::path runs = helper.parent_path() / "runs";
  std::ofstream(helper) << "#!/bin/sh\necho run >>" << runs << "\nexec "
                        << QUILLON_ICMP_HELPER_BUILT << " \"$@\"\n";
  fs::permissions(helper, fs::perms::owner_all);

  std::vector<int> sockets;
  for (int i = 0; i < 20; ++i) sockets.push_back(OpenIcmpSocketFromHelper(AF_INET));
  std::ifstream counted(runs);
  const auto lines = std::count(std::istreambuf_iterator<char>(counted), {}, '\n');
  fs::remove_all(helper.parent_path());
  std::error_code notEmpty;
  fs::remove(helper.parent_path().parent_path(), notEmpty);  // "lib", when the test made it
  EXPECT_EQ(lines, 2);
  for (const int socket : sockets) {
    EXPECT_GE(socket, 0);
    ::close(socket);
  }
  std::sort(sockets.begin(), sockets.end());
  EXPECT_EQ(std::adjacent_find(sockets.begin(), sockets.end()), sockets.end()) << "each its own";
}

}  // namespace
}  // namespace quillon
