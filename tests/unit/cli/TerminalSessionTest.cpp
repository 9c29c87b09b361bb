// Whole terminal runs over the simulated network: what reaches standard output
// and standard error, the exit status, the state files, and Ctrl-C.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "cli/TerminalSession.h"
#include "platform/AtomicFile.h"
#include "support/SimulatedNetwork.h"
#include "support/TempDir.h"
#include "trace/AsRecords.h"
#include "trace/DnsBuffer.h"
#include "trace/SocketRights.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using Words = std::vector<std::string>;

constexpr const char* Target = "10.9.9.9";

// gw.test at hop 1, a silent hop 2, a hop 3 without a name, the target at hop 4.
TSimConfig Lab() {
  TSimConfig config;
  config.Target = Target;
  config.Route = {TSimHop::Router("10.0.0.1", 2), TSimHop::Silent("10.0.0.2"),
                  TSimHop::Router("10.0.0.3", 4), TSimHop::Destination(Target, 6)};
  config.ForwardNames["target.test"] = TSimForward::To(Target);
  config.ReverseNames["10.0.0.1"] = TSimReverse::Name("gw.test");
  config.ReverseNames[Target] = TSimReverse::Name("target.test");
  return config;
}

class TerminalSession : public ::testing::Test {
 protected:
  void SetUp() override {
    io_.Out = [this](std::string_view text) { out_ += text; };
    io_.Err = [this](std::string_view text) { err_ += text; };
  }
  void TearDown() override {
    TSimNetwork::Instance().ReleaseHeldLookups();
    session_.reset();
  }

  TFormFiles Files() const { return {(dir_ / "q.hst").string(), (dir_ / "q.dnb").string()}; }

  int Run(const Words& parameters, bool json = false) {
    session_ = std::make_unique<TTerminalSession>(io_, Files(), json);
    session_->SetProgramPath("/opt/quillon/quillon");
    return session_->Run(parameters);
  }

  std::string History() const {
    std::string data;
    ReadFileContents(Files().HistoryPath, data);
    return data;
  }

  std::vector<std::string> OutLines() const {
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (std::size_t nl; (nl = out_.find('\n', from)) != std::string::npos; from = nl + 1) {
      lines.push_back(out_.substr(from, nl - from));
    }
    return lines;
  }

  TTempDir dir_{"quillon-cli"};
  TTerminalIo io_;
  std::string out_;
  std::string err_;
  std::unique_ptr<TTerminalSession> session_;
};

TEST_F(TerminalSession, PlainTableOfAFinishedTrace) {
  InstallSimulatedNetwork(Lab());
  EXPECT_EQ(Run({"-w", "600", "target.test"}), ExitTraceEnded);
  EXPECT_EQ(err_, "");
  const auto lines = OutLines();
  ASSERT_EQ(lines.size(), 5u) << out_;
  EXPECT_EQ(lines[0].rfind("No  Ip Address  HostName", 0), 0u) << lines[0];
  EXPECT_NE(lines[1].find("10.0.0.1    gw.test"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("Unknown Ip  Unknown Host"), std::string::npos) << lines[2];
  EXPECT_NE(lines[3].find("10.0.0.3    10.0.0.3[no DNS]"), std::string::npos) << lines[3];
  EXPECT_NE(lines[4].find("10.9.9.9    target.test"), std::string::npos) << lines[4];
  EXPECT_EQ(out_.find('\x1b'), std::string::npos) << "no escape sequence off a terminal";

  // The host went into the history; the names found were saved at the end.
  EXPECT_EQ(History().rfind("target.test", 0), 0u);
  TDnsBuffer cache;
  cache.LoadFromFile(Files().CachePath);
  EXPECT_EQ(cache.FindName("10.0.0.1"), "gw.test");
  EXPECT_EQ(cache.FindName("10.0.0.3"), "10.0.0.3[no DNS]");
}

TEST_F(TerminalSession, AsColumnWaitsForNoResolverThatNeverAnswers) {
  TSimConfig config;
  config.Target = "198.18.2.2";
  config.Route = {TSimHop::Router("198.18.0.2", 1), TSimHop::Destination("198.18.2.2", 2)};
  config.TextRecords[AsOriginQuestion("198.18.0.2")] =
      TSimText::Record({"64501 | 198.18.0.0/24 | ZZ | lab | 2026-12-01"});
  config.TextRecords[AsOriginQuestion("198.18.2.2")] = TSimText::HeldRecord({"1 | 1/1 | | | "});
  InstallSimulatedNetwork(config);
  EXPECT_EQ(Run({"--as", "-w", "600", "198.18.2.2"}), ExitTraceEnded);
  const auto lines = OutLines();
  ASSERT_EQ(lines.size(), 3u) << out_;
  EXPECT_EQ(lines[0].rfind("No  Ip Address  AS       HostName", 0), 0u) << lines[0];
  EXPECT_NE(lines[1].find("198.18.0.2  AS64501  "), std::string::npos) << lines[1];
  EXPECT_EQ(lines[1].find("[AS"), std::string::npos) << "no AS in the host column";
  EXPECT_NE(lines[2].find("198.18.2.2           "), std::string::npos) << lines[2];
  // The unanswered question is still under way: the program ends without it.
  EXPECT_TRUE(session_->Form()->WorkersUnderWay());
}

TEST_F(TerminalSession, JsonDocumentMatchesTheHopTable) {
  InstallSimulatedNetwork(Lab());
  EXPECT_EQ(Run({"-w", "600", "target.test"}, true), ExitTraceEnded);
  // One round: the document as it has always been, to the byte: these keys in
  // this order, indented by two, and a row per hop of the table (the names as
  // PlainTableOfAFinishedTrace shows them).
  auto expected = nlohmann::ordered_json::parse(
      R"({"target": "target.test", "address": "10.9.9.9", "route_end_found": true,
          "route_length": 4, "hops": []})");
  const TTraceRouteForm& form = *session_->Form();
  for (int hop = 1; hop <= 4; ++hop) {
    const auto& entry = form.Hops[static_cast<std::size_t>(hop)];
    expected["hops"].push_back({{"no", hop},
                                {"address", entry.Address},
                                {"host", entry.HostName},
                                {"time_ms", entry.Time},
                                {"ttl", hop}});
  }
  EXPECT_EQ(out_, expected.dump(2) + "\n");
}

TEST_F(TerminalSession, RoundsPrintTheStatisticsTableJsonOrCsv) {
  InstallSimulatedNetwork(Lab());
  const auto run = [this](const Words& parameters) {
    out_.clear();
    TCliOptions options = SplitCliOptions(parameters);
    session_ = std::make_unique<TTerminalSession>(io_, Files(), options);
    return session_->Run(options.Parameters);
  };
  ASSERT_EQ(run({"--report", "--rounds", "2", "--interval", "0", "-w", "300", "target.test"}),
            ExitTraceEnded);
  EXPECT_EQ(session_->Form()->RoundsDone, 2);
  EXPECT_TRUE(std::regex_search(
      out_,
      std::regex(
          "^Route to target.test \\(10.9.9.9\\), started [-0-9: ]+, 2 rounds, "
          "interval 0 s, probes: ICMP\nNo +Host +Loss % +Sent +Last +Avg +Best +Worst +StDev\n")))
      << out_;
  EXPECT_TRUE(std::regex_search(out_, std::regex("\n 2 +100\\.0 +2\n")))
      << "the silent hop: one probe lost in each round, whatever its attempts\n"
      << out_;
  ASSERT_EQ(run({"--json", "--rounds", "2", "--interval", "0", "-w", "300", "target.test"}),
            ExitTraceEnded);
  const auto doc = nlohmann::json::parse(out_);
  EXPECT_EQ(doc["rounds"], 2);
  EXPECT_EQ(doc["hops"][0]["stats"]["sent"], 2);
  EXPECT_EQ(doc["hops"][1]["stats"]["last_ms"], nullptr);
  ASSERT_EQ(run({"--csv", "--interval", "0", "-w", "300", "target.test"}), ExitTraceEnded);
  EXPECT_EQ(out_.rfind("No,Host,Address,Loss %,", 0), 0u) << out_;
  EXPECT_NE(out_.find("\r\n1,gw.test,10.0.0.1,0.0,1,1,"), std::string::npos) << out_;
}

TEST_F(TerminalSession, UnknownHostExitsWithTwo) {
  InstallSimulatedNetwork(Lab());
  EXPECT_EQ(Run({"nowhere.test"}), ExitHostNotFound);
  EXPECT_EQ(err_, "Host not found: nowhere.test\n");
  EXPECT_EQ(out_, "");
  EXPECT_TRUE(fs::exists(Files().CachePath)) << "the cache is written back at the end";
  EXPECT_EQ(History().rfind("nowhere.test", 0), 0u) << "the history takes every start";
}

TEST_F(TerminalSession, UnknownHostWithControlCharactersIsReportedHarmlessly) {
  InstallSimulatedNetwork(Lab());
  EXPECT_EQ(Run({"evil\x1b[2J.test"}), ExitHostNotFound);
  EXPECT_EQ(err_, "Host not found: evil\u241b[2j.test\n") << "lower-cased by the parser";
}

TEST_F(TerminalSession, NoRightToOpenSocketsExitsWithThreeAndTellsHow) {
  TSimConfig config = Lab();
  config.OpenFailure = {Id_WSAEACCES, -1};
  InstallSimulatedNetwork(config);
  EXPECT_EQ(Run({"target.test"}), ExitNoSocket);
  const auto nl = err_.find('\n');
  ASSERT_NE(nl, std::string::npos);
  EXPECT_EQ(err_.substr(0, nl), "Cannot allocate socket.");
  const std::string hint = err_.substr(nl + 1);
  EXPECT_EQ(hint, PrivilegeHint("/opt/quillon/quillon") + "\n");
  EXPECT_EQ(out_, "");
}

TEST_F(TerminalSession, WithoutAHostTheFirstHistoryEntryIsTraced) {
  // The options are not applied without a host: no silent hop to wait 3 x 5 s for.
  TSimConfig config = Lab();
  config.Route.erase(config.Route.begin() + 1);
  InstallSimulatedNetwork(config);
  ASSERT_TRUE(ReplaceFileContents(Files().HistoryPath, "target.test\r\nlocalhost\r\n"));
  EXPECT_EQ(Run({"-w", "600"}), ExitTraceEnded);
  EXPECT_EQ(session_->Form()->TargetHost, "target.test");
  EXPECT_EQ(session_->Form()->Hoops.Text, "30") << "options without a host are not applied";
  EXPECT_EQ(err_, "No host given; tracing target.test (the last host traced)\n");
}

TEST_F(TerminalSession, WithoutAHostOrHistoryLocalhostIsTraced) {
  InstallSimulatedNetwork(Lab());
  EXPECT_EQ(Run({}), ExitTraceEnded);
  EXPECT_EQ(session_->Form()->TargetHost, "localhost");
  EXPECT_EQ(session_->Form()->TargetAddress, "127.0.0.1");
  EXPECT_EQ(History().rfind("localhost", 0), 0u);
  EXPECT_EQ(err_, "No host given; tracing localhost\n");
}

TEST_F(TerminalSession, EmptyHistoryFallsBackToLocalhost) {
  InstallSimulatedNetwork(Lab());
  ASSERT_TRUE(ReplaceFileContents(Files().HistoryPath, ""));
  EXPECT_EQ(Run({}), ExitTraceEnded);
  EXPECT_EQ(session_->Form()->TargetHost, "localhost");
}

TEST_F(TerminalSession, LiveViewRedrawsInPlaceAndNeverPrintsNamesRaw) {
  TSimConfig config = Lab();
  config.ReverseNames["10.0.0.1"] = TSimReverse::Name(
      "\x1b]0;owned\x07\x1b[2Jgw\x9b"
      "1m");
  InstallSimulatedNetwork(config);
  io_.Live = true;
  io_.Color = true;
  io_.Columns = [] { return 100; };
  EXPECT_EQ(Run({"-w", "600", "target.test"}), ExitTraceEnded);
  // Only our own sequences: cursor up, clear to the end of line or screen, colour.
  EXPECT_NE(out_.find("\x1b[J"), std::string::npos);
  const std::string stripped =
      std::regex_replace(out_, std::regex("\r|\x1b\\[[0-9]*[AJK]|\x1b\\[[0-9;]*m"), "");
  EXPECT_EQ(stripped.find('\x1b'), std::string::npos);
  EXPECT_EQ(stripped.find('\x07'), std::string::npos);
  EXPECT_NE(stripped.find("\u241b]0;owned\u2407\u241b[2Jgw\uFFFD1m"), std::string::npos);
  // The last block is the whole table and the final status line.
  const auto lastClear = out_.rfind("\x1b[J");
  const std::string last = out_.substr(lastClear + 3);
  EXPECT_NE(last.find("Trace done: target.test (10.9.9.9), route length 4\n"), std::string::npos)
      << last;
  EXPECT_NE(last.find("Unknown Host"), std::string::npos);
}

// A route whose hops answer slowly, so a trace is still under way when Ctrl-C comes.
TSimConfig SlowRoute() {
  TSimConfig config;
  config.Target = Target;
  for (int hop = 1; hop <= 29; ++hop) {
    config.Route.push_back(TSimHop::Router("10.0.1." + std::to_string(hop), 300));
  }
  config.Route.push_back(TSimHop::Destination(Target, 300));
  return config;
}

TEST_F(TerminalSession, FirstCtrlCStopsTheTraceAndTheResultIsPrinted) {
  TSimNetwork& net = InstallSimulatedNetwork(SlowRoute());
  std::thread user([&] {
    net.WaitForSent(1, 5000);
    session_->Signal(SIGINT);
  });
  session_ = std::make_unique<TTerminalSession>(io_, Files(), false);
  const int status = session_->Run({"-w", "2000", Target});
  user.join();
  EXPECT_EQ(status, ExitTraceEnded);
  EXPECT_TRUE(session_->Form()->StopRequested);
  EXPECT_FALSE(session_->Form()->RouteEndFound);
  EXPECT_FALSE(session_->Form()->Running);
  EXPECT_EQ(OutLines().front().rfind("No", 0), 0u) << out_;
  EXPECT_TRUE(fs::exists(Files().CachePath));
}

TEST_F(TerminalSession, SecondCtrlCQuitsAtOnce) {
  InstallSimulatedNetwork(SlowRoute());
  session_ = std::make_unique<TTerminalSession>(io_, Files(), true);
  session_->Signal(SIGINT);
  session_->Signal(SIGINT);
  EXPECT_EQ(session_->Run({"-w", "2000", Target}), ExitSignalBase + SIGINT);
  EXPECT_TRUE(session_->Form()->Running) << "quit without waiting for the run to end";
  EXPECT_EQ(nlohmann::json::parse(out_)["route_end_found"], false) << "what was found is printed";
  EXPECT_TRUE(fs::exists(Files().CachePath)) << "the cache is saved after Ctrl-C too";
}

TEST_F(TerminalSession, TerminateQuitsWithItsSignalNumber) {
  InstallSimulatedNetwork(SlowRoute());
  session_ = std::make_unique<TTerminalSession>(io_, Files(), false);
  session_->Signal(SIGTERM);
  EXPECT_EQ(session_->Run({"-w", "2000", Target}), ExitSignalBase + SIGTERM);
}

}  // namespace
}  // namespace quillon
