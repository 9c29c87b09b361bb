// The advice given when no ICMP socket can be had names the ways Linux offers.
#include <gtest/gtest.h>

#include <string>

#include "cli/CliOptions.h"
#include "cli/TerminalSession.h"

namespace quillon {
namespace {

TEST(PrivilegeHint, NamesRootTheCapabilityAndPingSockets) {
  const std::string hint = PrivilegeHint("/opt/quillon/quillon");
  for (const char* part :
       {"root", "setcap cap_net_raw+ep /opt/quillon/quillon", "net.ipv4.ping_group_range"}) {
    EXPECT_NE(hint.find(part), std::string::npos) << part;
  }
  EXPECT_NE(SocketRightsNote().find("ping_group_range"), std::string::npos);
}

}  // namespace
}  // namespace quillon
