// The advice given when no ICMP socket can be had names the ways Linux offers.
#include <gtest/gtest.h>

#include <string>

#include "cli/CliOptions.h"
#include "net/IcmpHelperPosix.h"
#include "trace/SocketRights.h"

namespace quillon {
namespace {

TEST(PrivilegeHint, NamesRootTheHelpersCapabilityAndPingSockets) {
  const std::string hint = PrivilegeHint("/opt/quillon/bin/quillon");
  const std::string helper = IcmpHelperPath("/opt/quillon/bin/quillon").string();
  EXPECT_EQ(helper.rfind("/opt/quillon/", 0), 0u) << helper;
  EXPECT_NE(helper.find("/quillon-icmp-helper"), std::string::npos) << helper;
  for (const std::string& part : {std::string("root"), "setcap cap_net_raw+ep " + helper,
                                  std::string("net.ipv4.ping_group_range")}) {
    EXPECT_NE(hint.find(part), std::string::npos) << part;
  }
  // The program itself never gets the capability.
  EXPECT_EQ(hint.find("cap_net_raw+ep /opt/quillon/bin/quillon'"), std::string::npos);
  EXPECT_NE(SocketRightsNote().find("ping_group_range"), std::string::npos);
  // Without the program's own path, the installed helper's absolute one.
  EXPECT_NE(PrivilegeHint("").find("setcap cap_net_raw+ep /"), std::string::npos);
}

}  // namespace
}  // namespace quillon
