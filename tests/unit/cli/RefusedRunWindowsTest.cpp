// What a Windows user is told when no ICMP socket can be had at all: neither
// the ICMP service nor a raw socket.
#include <gtest/gtest.h>

#include <string>

#include "cli/CliOptions.h"
#include "cli/TerminalSession.h"
#include "support/SimulatedNetwork.h"
#include "support/TempDir.h"

namespace quillon {
namespace {

TEST(RefusedRunWindows, SaysWhatFailedAndHowToTraceAfterAll) {
  TSimConfig config;
  config.Target = "10.9.9.9";
  config.Route = {TSimHop::Destination("10.9.9.9", 1)};
  config.OpenFailure = {Id_WSAEACCES, -1};
  InstallSimulatedNetwork(config);
  TTempDir dir("quillon-refused");
  std::string out;
  std::string err;
  TTerminalIo io;
  io.Out = [&](std::string_view text) { out += text; };
  io.Err = [&](std::string_view text) { err += text; };
  TTerminalSession session(io, {dir.File("q.hst"), dir.File("q.dnb")}, false);
  session.SetProgramPath("C:\\Tools\\quillon.exe");

  EXPECT_EQ(session.Run({"10.9.9.9"}), ExitNoSocket);
  EXPECT_EQ(out, "");
  EXPECT_EQ(err.rfind("Cannot allocate socket.\n", 0), 0u) << err;
  // Both ways are named, and the one that works for an administrator is spelt out.
  for (const char* part : {"ICMP service", "administrators only",
                           "C:\\Tools\\quillon.exe --raw-sockets", "'Run as administrator'"}) {
    EXPECT_NE(err.find(part), std::string::npos) << part << " in: " << err;
  }
  EXPECT_EQ(err.find("setcap"), std::string::npos);
  EXPECT_EQ(err.back(), '\n');
  EXPECT_NE(HelpText("quillon.exe").find("--raw-sockets"), std::string::npos);
}

}  // namespace
}  // namespace quillon
