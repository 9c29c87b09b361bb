// Windows terminal runs at their ends: what a user is told when no ICMP socket
// can be had at all (neither the ICMP service nor a raw socket), and a console
// closed during a trace, after which the system ends the process.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "cli/ConsoleControlWindows.h"
#include "cli/TerminalSession.h"
#include "net/IdStackWindows.h"
#include "platform/ConsoleWindows.h"
#include "support/SimulatedNetwork.h"
#include "support/TempDir.h"
#include "trace/DnsBuffer.h"

namespace quillon {
namespace {

// A terminal session with its state files in a folder of its own, whose
// errors are kept.
struct TCapturedRun {
  explicit TCapturedRun(const char* folder) : Dir(folder) {
    TTerminalIo io;
    io.Out = [this](std::string_view) {
      if (SavedAtFirstOutput.empty())
        SavedAtFirstOutput = std::filesystem::exists(Dir.File("q.dnb")) ? "saved" : "not saved";
    };
    io.Err = [this](std::string_view text) { Err += text; };
    Session = std::make_unique<TTerminalSession>(
        io, TFormFiles{Dir.File("q.hst"), Dir.File("q.dnb")}, false);
  }
  TTempDir Dir;
  std::string Err;
  std::string SavedAtFirstOutput;
  std::unique_ptr<TTerminalSession> Session;
};

// The way that works for an administrator is spelt out with this program's
// path, and nothing of the Linux hint.
TEST(RefusedRunWindows, SaysHowToTraceAfterAll) {
  TSimConfig config;
  config.Target = "10.9.9.9";
  config.Route = {TSimHop::Destination("10.9.9.9", 1)};
  config.OpenFailure = {Id_WSAEACCES, -1};
  InstallSimulatedNetwork(config);
  TCapturedRun run("quillon-refused");
  run.Session->SetProgramPath("C:\\Tools\\quillon.exe");
  EXPECT_EQ(run.Session->Run({"10.9.9.9"}), ExitNoSocket);
  EXPECT_NE(run.Err.find("C:\\Tools\\quillon.exe --raw-sockets"), std::string::npos) << run.Err;
  EXPECT_EQ(run.Err.find("setcap"), std::string::npos) << run.Err;
}

// Where the system has no ICMPv6 at all (wine), no right would help: the user
// is told so and pointed at IPv4, not at an administrator's console.
TEST(RefusedRunWindows, WithoutICMPv6AnIPv6TraceSaysSoAndPointsAtIPv4) {
  const TIdStackClass saved = GSocketStackClass;
  GSocketStackClass = &CreateSystemStack;
  TCapturedRun run("quillon-no-icmpv6");
  const int status = run.Session->Run({"-6", "::1"});
  GSocketStackClass = saved;
  if (IcmpV6Unavailable() == 0) GTEST_SKIP() << "this system traces over IPv6";
  EXPECT_EQ(status, ExitNoSocket);
  EXPECT_EQ(run.Err.rfind("Cannot allocate socket.\n", 0), 0u) << run.Err;
  EXPECT_NE(run.Err.find("Trace over IPv4 with -4."), std::string::npos) << run.Err;
  EXPECT_EQ(run.Err.find("administrator"), std::string::npos) << run.Err;
  EXPECT_NE(IcmpV6Unavailable(), Id_WSAEACCES);
}

// The handler returns (and so lets the system end the process) only once the
// names found are saved, although the run was still waiting for a lookup; and
// they are saved before the result is written.
TEST(ConsoleClosedWindows, HandlerReturnsOnceTheNamesAreSaved) {
  TSimConfig config;
  config.Target = "10.9.9.9";
  config.Route = {TSimHop::Router("10.0.0.1"), TSimHop::Destination("10.9.9.9")};
  config.ReverseNames["10.0.0.1"] = TSimReverse::Name("gw.test");
  config.ReverseNames["10.9.9.9"] = TSimReverse::HeldName("target.test");
  TSimNetwork& net = InstallSimulatedNetwork(config);
  TCapturedRun run("quillon-closed");
  run.Session->OnNamesSaved(&MarkStateSaved);
  ListenToConsole(run.Session.get());

  std::string savedWhenReturned = "(handler not run)";
  std::thread system([&] {
    // The close comes while the run waits for the held lookup.
    while (!std::filesystem::exists(run.Dir.File("q.hst"))) Sleep(10);
    Sleep(200);
    EXPECT_TRUE(OnConsoleControl(CTRL_CLOSE_EVENT));
    TDnsBuffer names;
    names.LoadFromFile(run.Dir.File("q.dnb"));
    savedWhenReturned = names.FindName("10.0.0.1");
  });
  const int status = run.Session->Run({"10.9.9.9"});
  ListenToConsole(nullptr);
  system.join();
  net.ReleaseHeldLookups();

  EXPECT_EQ(status, ExitSignalBase + SIGTERM);
  EXPECT_EQ(savedWhenReturned, "gw.test");
  EXPECT_EQ(run.SavedAtFirstOutput, "saved");
}

}  // namespace
}  // namespace quillon
