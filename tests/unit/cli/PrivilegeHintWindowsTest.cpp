// The advice given when no ICMP socket can be had fits Windows.
#include <gtest/gtest.h>

#include <string>

#include "cli/CliOptions.h"
#include "trace/SocketRights.h"

namespace quillon {
namespace {

TEST(PrivilegeHint, NamesAdministratorRightsAndTheIcmpService) {
  const std::string hint = PrivilegeHint("C:\\Tools\\quillon.exe");
  for (const char* part : {"Run as administrator", "ICMP service", "C:\\Tools\\quillon.exe"}) {
    EXPECT_NE(hint.find(part), std::string::npos) << part;
  }
  EXPECT_EQ(hint.find("setcap"), std::string::npos);
  EXPECT_NE(SocketRightsNote().find("administrator"), std::string::npos);
}

}  // namespace
}  // namespace quillon
