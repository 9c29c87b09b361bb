// Windows terminal runs at their ends: what a user is told when no ICMP socket
// can be had at all (neither the ICMP service nor a raw socket), and a console
// closed during a trace, after which the system ends the process.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "cli/CliOptions.h"
#include "cli/ConsoleControlWindows.h"
#include "cli/TerminalSession.h"
#include "net/IdStackWindows.h"
#include "support/SimulatedNetwork.h"
#include "support/TempDir.h"
#include "trace/DnsBuffer.h"

namespace quillon {
namespace {

// A terminal session with its state files in a folder of its own, whose
// output and errors are kept.
struct TCapturedRun {
  explicit TCapturedRun(const char* folder) : Dir(folder) {
    TTerminalIo io;
    io.Out = [this](std::string_view text) { Out += text; };
    io.Err = [this](std::string_view text) { Err += text; };
    Session = std::make_unique<TTerminalSession>(
        io, TFormFiles{Dir.File("q.hst"), Dir.File("q.dnb")}, false);
  }
  TTempDir Dir;
  std::string Out;
  std::string Err;
  std::unique_ptr<TTerminalSession> Session;
};

TEST(RefusedRunWindows, SaysWhatFailedAndHowToTraceAfterAll) {
  TSimConfig config;
  config.Target = "10.9.9.9";
  config.Route = {TSimHop::Destination("10.9.9.9", 1)};
  config.OpenFailure = {Id_WSAEACCES, -1};
  InstallSimulatedNetwork(config);
  TCapturedRun run("quillon-refused");
  const std::string& out = run.Out;
  const std::string& err = run.Err;
  TTerminalSession& session = *run.Session;
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

// Where the system has no ICMPv6 at all (wine), no right would help: the user
// is told so and pointed at IPv4, not at an administrator's console.
TEST(RefusedRunWindows, WithoutICMPv6AnIPv6TraceSaysSoAndPointsAtIPv4) {
  const TIdStackClass saved = GSocketStackClass;
  GSocketStackClass = &CreateSystemStack;
  TCapturedRun run("quillon-no-icmpv6");
  const std::string& err = run.Err;
  const int status = run.Session->Run({"-6", "::1"});
  GSocketStackClass = saved;
  if (IcmpV6Unavailable() == 0) GTEST_SKIP() << "this system traces over IPv6";
  EXPECT_EQ(status, ExitNoSocket);
  EXPECT_EQ(err.rfind("Cannot allocate socket.\n", 0), 0u) << err;
  EXPECT_NE(err.find("Trace over IPv4 with -4."), std::string::npos) << err;
  EXPECT_EQ(err.find("administrator"), std::string::npos) << err;
  EXPECT_NE(IcmpV6Unavailable(), Id_WSAEACCES);
}

// The handler returns (and so lets the system end the process) only once the
// names found are saved, although the run was still waiting for a lookup.
TEST(ConsoleClosedWindows, HandlerReturnsOnceTheNamesAreSaved) {
  TSimConfig config;
  config.Target = "10.9.9.9";
  config.Route = {TSimHop::Router("10.0.0.1"), TSimHop::Destination("10.9.9.9")};
  config.ReverseNames["10.0.0.1"] = TSimReverse::Name("gw.test");
  config.ReverseNames["10.9.9.9"] = TSimReverse::HeldName("target.test");
  TSimNetwork& net = InstallSimulatedNetwork(config);
  TTempDir dir("quillon-closed");
  const std::string cache = dir.File("q.dnb");
  TTerminalIo io;
  io.Out = [](std::string_view) {};
  io.Err = [](std::string_view) {};
  TTerminalSession session(io, {dir.File("q.hst"), cache}, false);
  ListenToConsole(&session);

  std::string savedWhenReturned = "(handler not run)";
  std::thread system([&] {
    // The close comes while the run waits for the held lookup.
    while (!std::filesystem::exists(dir.File("q.hst"))) Sleep(10);
    Sleep(200);
    EXPECT_TRUE(OnConsoleControl(CTRL_CLOSE_EVENT));
    TDnsBuffer names;
    names.LoadFromFile(cache);
    savedWhenReturned = names.FindName("10.0.0.1");
  });
  const int status = session.Run({"10.9.9.9"});
  // What the terminal's entry does after the run, slowly here.
  Sleep(300);
  ConsoleSessionSaved();
  ListenToConsole(nullptr);
  system.join();
  net.ReleaseHeldLookups();

  EXPECT_EQ(status, ExitSignalBase + SIGTERM);
  EXPECT_EQ(savedWhenReturned, "gw.test");
}

}  // namespace
}  // namespace quillon
