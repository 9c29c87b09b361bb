// The main window's creation and closing over the simulated network: the host
// history and name cache files as found beside the program, and a trace
// started from the command line.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/RecordingView.h"
#include "support/SimulatedNetwork.h"
#include "support/TempDir.h"
#include "trace/DnsBuffer.h"
#include "trace/TraceRouteForm.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

class FormStart : public ::testing::Test {
 protected:
  void SetUp() override {
    files_ = {dir_.File("quillon.hst"), dir_.File("quillon.dnb")};
    TSimConfig config;
    config.Target = "10.9.9.9";
    config.Route = {TSimHop::Router("10.0.0.1", 1), TSimHop::Destination("10.9.9.9", 1)};
    InstallSimulatedNetwork(config);
    form_ = std::make_unique<TTraceRouteForm>(&view_, files_);
    designHost_ = form_->Host.Text;
  }

  void TearDown() override {
    if (form_ && form_->Running) WaitForIdle();
    form_.reset();
  }

  void WriteHistory(const std::string& text) const {
    std::ofstream(files_.HistoryPath, std::ios::binary) << text;
  }

  bool WaitForIdle() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (form_->Running) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      TMessageQueue::Main().WaitMessage(20);
      TMessageQueue::Main().ProcessMessages();
    }
    return true;
  }

  TTempDir dir_{"quillon-start"};
  TFormFiles files_;
  TRecordingView view_;
  std::unique_ptr<TTraceRouteForm> form_;
  std::string designHost_;
};

TEST_F(FormStart, FirstStartOffersOnlyTheDefaultHost) {
  form_->FormCreate({});
  EXPECT_EQ(form_->Host.Items, Lines{"localhost"});
  EXPECT_EQ(form_->Host.Text, "localhost");
  EXPECT_FALSE(form_->Running);
  EXPECT_FALSE(fs::exists(files_.HistoryPath));  // written only by the first Start
  EXPECT_EQ(form_->NameCache().Count(), 0);
  EXPECT_EQ(form_->OutGrid.RowCount(), 2);
  EXPECT_EQ(form_->OutGrid.Cell(0, 0), "No");

  form_->FormClose();  // even an empty, unchanged cache is written
  ASSERT_TRUE(fs::exists(files_.CachePath));
  EXPECT_EQ(fs::file_size(files_.CachePath), 0u);
}

TEST_F(FormStart, HistoryLinesAreLoadedAsStoredAndTheFirstIsSelected) {
  WriteHistory("b.example\r\n\r\n  a \nlast");
  form_->FormCreate({});
  EXPECT_EQ(form_->Host.Items, (Lines{"b.example", "", "  a ", "last"}));
  EXPECT_EQ(form_->Host.Text, "b.example");
}

TEST_F(FormStart, EmptyOrUnreadableHistoryKeepsTheDesignTimeText) {
  WriteHistory("");
  form_->FormCreate({});
  EXPECT_TRUE(form_->Host.Items.empty());
  EXPECT_EQ(form_->Host.Text, designHost_);

  fs::remove(files_.HistoryPath);
  fs::create_directory(files_.HistoryPath);  // present, but no file to read
  form_->Host.Items = {"stale"};
  form_->FormCreate({});
  EXPECT_TRUE(form_->Host.Items.empty());
  EXPECT_EQ(form_->Host.Text, designHost_);
}

TEST_F(FormStart, CacheFileIsLoadedAtCreationAndSavedAtClose) {
  TDnsBuffer seed;
  seed.AddName("10.0.0.1", "gw.test");
  seed.AddName("10.0.0.2", "two.test");
  ASSERT_TRUE(seed.SaveToFile(files_.CachePath));
  form_->FormCreate({});
  EXPECT_EQ(form_->NameCache().Count(), 2);
  EXPECT_EQ(form_->NameCache().FindName("10.0.0.2"), "two.test");
  form_->NameCache().AddName("10.0.0.3", "three.test");
  form_->FormClose();
  TDnsBuffer saved;
  saved.LoadFromFile(files_.CachePath);
  EXPECT_EQ(saved.Count(), 3);
  EXPECT_EQ(saved.FindName("10.0.0.3"), "three.test");
}

TEST_F(FormStart, CommandLineFillsTheBoxesAndStartsATrace) {
  form_->FormCreate({"-h", "15", "-w", "2000", "10.9.9.9"});
  EXPECT_EQ(form_->Host.Text, "10.9.9.9");
  EXPECT_EQ(form_->Hoops.Text, "15");
  EXPECT_EQ(form_->TimeOut.Text, "2000");
  EXPECT_EQ(form_->MaxHops, 15);
  EXPECT_EQ(form_->TimeOutMs, 2000);
  EXPECT_EQ(form_->CommandLine.Host, "10.9.9.9");
  EXPECT_TRUE(form_->Running);
  ASSERT_TRUE(WaitForIdle());
  EXPECT_EQ(form_->RouteLength, 2);
  EXPECT_EQ(form_->Host.Items.front(), "10.9.9.9");  // recorded in the history
  EXPECT_TRUE(fs::exists(files_.HistoryPath));
}

TEST_F(FormStart, CommandLineValuesAreCheckedByTheStart) {
  form_->FormCreate({"-H", "500", "-W", "0", "10.9.9.9"});
  EXPECT_EQ(form_->CommandLine.Hops, 500);
  EXPECT_EQ(form_->CommandLine.TimeOut, 0);
  EXPECT_EQ(form_->Hoops.Text, "30");
  EXPECT_EQ(form_->TimeOut.Text, "5000");
  EXPECT_TRUE(form_->Running);
}

TEST_F(FormStart, OptionsWithoutAHostChangeNothing) {
  form_->FormCreate({"-h", "15", "-w", "100"});
  EXPECT_FALSE(form_->Running);
  EXPECT_EQ(form_->Hoops.Text, "30");
  EXPECT_EQ(form_->TimeOut.Text, "5000");
  EXPECT_EQ(form_->Host.Text, "localhost");
  EXPECT_FALSE(fs::exists(files_.HistoryPath));
}

TEST_F(FormStart, ProbesInFlightSizeTheRunsSlotsOrAreRefusedBeforeAnyTrace) {
  form_->FormCreate({"--in-flight", "16", "-h", "3", "10.9.9.9"});
  EXPECT_EQ(form_->InFlight.Count(), 16);
  EXPECT_EQ(form_->ProbeSlots.size(), 17U);
  EXPECT_EQ(form_->LastRequestedTtl, 16) << "one request per slot";
  ASSERT_TRUE(WaitForIdle());

  // A count no run may use: said, and nothing traced or remembered.
  fs::remove(files_.HistoryPath);
  form_.reset();
  form_ = std::make_unique<TTraceRouteForm>(&view_, files_);
  form_->FormCreate({"--in-flight", "65", "10.9.9.9"});
  EXPECT_EQ(view_.Messages, Lines{"--in-flight takes a number of probes from 1 to 64, not \"65\""});
  EXPECT_FALSE(form_->Running);
  EXPECT_EQ(form_->InFlight.Count(), 5);
  EXPECT_FALSE(fs::exists(files_.HistoryPath));
}

TEST_F(FormStart, UnknownCommandLineHostIsReportedAndTheWindowStaysIdle) {
  form_->FormCreate({"Nowhere.Test"});
  ASSERT_EQ(view_.Messages, Lines{"Host not found: nowhere.test"});
  EXPECT_FALSE(form_->Running);
  EXPECT_TRUE(form_->Button1.Visible);
  EXPECT_FALSE(form_->Button2.Visible);
}

}  // namespace
}  // namespace quillon
