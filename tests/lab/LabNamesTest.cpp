// Names in the lab: the source namespace's hosts file answers both ways, and a
// name it lacks fails at once without any lookup leaving the machine. These
// tests re-run themselves under `ip netns exec`, where the lab's name files
// replace the machine's.
#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>

#include "lab/LabNetwork.h"
#include "net/IdComponent.h"
#include "net/IdException.h"
#include "net/IdStack.h"

namespace quillon {
namespace {

LabOptions NamedLab() {
  return LabOptions().WithRouters(2).WithName("1", "gateway.lab").WithName("target", "far-end.lab");
}

// Forward lookup through the system resolver; the first IPv4 address or "".
std::string LookUp(const std::string& name, int* error = nullptr) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* found = nullptr;
  const int result = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (error != nullptr) *error = result;
  if (result != 0) return "";
  char text[INET_ADDRSTRLEN] = "";
  ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, text,
              sizeof text);
  ::freeaddrinfo(found);
  return text;
}

// Reverse lookup that insists on a name; "" when there is none.
std::string NameOf(const std::string& address) {
  sockaddr_in socketAddress{};
  socketAddress.sin_family = AF_INET;
  ::inet_pton(AF_INET, address.c_str(), &socketAddress.sin_addr);
  char host[NI_MAXHOST] = "";
  const int result =
      ::getnameinfo(reinterpret_cast<const sockaddr*>(&socketAddress), sizeof socketAddress, host,
                    sizeof host, nullptr, 0, NI_NAMEREQD);
  return result == 0 ? host : "";
}

TEST(LabNames, HostsFileNamesResolveBothWaysInTheSourceNamespace) {
  if (LabNetwork::InsideLab()) {
    const std::optional<LabFacts> facts = LabFacts::FromEnvironment();
    ASSERT_TRUE(facts.has_value());
    EXPECT_EQ(LookUp("far-end.lab"), facts->Target);
    EXPECT_EQ(LookUp("gateway.lab"), facts->Hop(1));
    EXPECT_EQ(NameOf(facts->Hop(1)), "gateway.lab");
    EXPECT_EQ(NameOf(facts->Target), "far-end.lab");
    EXPECT_EQ(NameOf(facts->Hop(2)), "") << "hop 2 has no name";
    // The same through the program's own socket stack.
    const TIdComponent stackUser;
    EXPECT_EQ(Stack().HostNameToAddr("far-end.lab"), facts->Target);
    EXPECT_EQ(Stack().AddrToHostName(facts->Hop(1)), "gateway.lab");
    EXPECT_THROW(Stack().AddrToHostName(facts->Hop(2)), EIdSocketError);
    return;
  }
  QUILLON_START_LAB(lab, NamedLab());
  EXPECT_EQ(lab.Facts().Names,
            (std::map<int, std::string>{{1, "gateway.lab"}, {3, "far-end.lab"}}));
  EXPECT_LAB_CHILD_PASSED(lab.RunCurrentTestInSource());
}

TEST(LabNames, ANameMissingFromTheHostsFileFailsAtOnce) {
  if (LabNetwork::InsideLab()) {
    const auto start = std::chrono::steady_clock::now();
    int error = 0;
    EXPECT_EQ(LookUp("not-in-the-lab.lab", &error), "");
    EXPECT_NE(error, 0);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    std::printf("the failed lookup took %lld ms (%s)\n", static_cast<long long>(took.count()),
                ::gai_strerror(error));
    // Only a sanity bound: a resolver that waited for a real server would
    // take several seconds per try.
    EXPECT_LT(took.count(), 5000);
    const TIdComponent stackUser;
    EXPECT_THROW(Stack().HostNameToAddr("not-in-the-lab.lab"), EIdSocketError);
    return;
  }
  QUILLON_START_LAB(lab, NamedLab());
  EXPECT_LAB_CHILD_PASSED(lab.RunCurrentTestInSource());
}

TEST(LabNames, AReRunTestThatFailsInsideFailsTheParent) {
  if (LabNetwork::InsideLab()) {
    ADD_FAILURE() << "failing on purpose inside the lab";
    return;
  }
  QUILLON_START_LAB(lab, LabOptions().WithRouters(0));
  const CommandResult child = lab.RunCurrentTestInSource();
  EXPECT_NE(child.ExitCode, 0);
  EXPECT_NE(child.Output.find("failing on purpose inside the lab"), std::string::npos)
      << child.Output;
}

}  // namespace
}  // namespace quillon
