// A real trace in the namespace lab, checked against the system's own ICMP
// traceroute run in the same lab: the same address in every row, the silent
// router as an unknown hop, the target in the last row.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>

#include "lab/LabNetwork.h"
#include "net/IdStack.h"
#include "platform/Process.h"
#include "trace/TraceRouteForm.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

class QuietView : public TTraceView {
 public:
  void ShowMessage(const std::string& text) override { ADD_FAILURE() << text; }
  void GridChanged() override {}
  void ControlsChanged() override {}
};

// Row number -> first address on that row of `traceroute -n` output ("*" when
// no probe of the row was answered).
std::map<int, std::string> ParseTraceroute(const std::string& output) {
  std::map<int, std::string> rows;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    int row = 0;
    if (!(words >> row) || row <= 0) continue;  // the heading line
    std::string word;
    std::string address = "*";
    while (words >> word) {
      if (word != "*") {
        address = word;
        break;
      }
    }
    rows[row] = address;
  }
  return rows;
}

TEST(TraceLab, HeadlessTraceFindsTheHopsTheSystemTracerouteFinds) {
  if (LabNetwork::InsideLab()) {
    const std::optional<LabFacts> facts = LabFacts::FromEnvironment();
    ASSERT_TRUE(facts.has_value());
    ASSERT_EQ(facts->Hops, 7);

    std::string dir = (fs::temp_directory_path() / "quillon-tracelab-XXXXXX").string();
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    MarkMainThread();
    QuietView view;
    TTraceRouteForm form(&view, TFormFiles{dir + "/quillon.hst", dir + "/quillon.dnb"});
    form.FormCreate({});
    form.Host.Text = facts->Target;
    form.Hoops.Text = "15";
    form.TimeOut.Text = "1000";
    form.StartTrace();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (form.Running && std::chrono::steady_clock::now() < deadline) {
      if (TMessageQueue::Main().WaitMessage(50)) TMessageQueue::Main().ProcessOneMessage();
    }
    ASSERT_FALSE(form.Running) << "the trace did not end";

    const CommandResult traced = RunProgram(
        {"traceroute", "-I", "-n", "-q", "1", "-w", "1", "-m", "15", facts->Target}, {}, 60000);
    ASSERT_EQ(traced.ExitCode, 0) << traced.Output;
    const std::map<int, std::string> rows = ParseTraceroute(traced.Output);
    ASSERT_EQ(rows.size(), 7u) << traced.Output;
    EXPECT_EQ(rows.at(3), "*") << "router 3 is silent\n" << traced.Output;
    EXPECT_EQ(rows.at(7), facts->Target);

    EXPECT_TRUE(form.RouteEndFound);
    EXPECT_EQ(form.RouteLength, 7);
    EXPECT_EQ(form.OutGrid.RowCount(), 8);
    for (const auto& [row, address] : rows) {
      const THopEntry& hop = form.Hops[static_cast<std::size_t>(row)];
      ASSERT_TRUE(hop.Filled) << "row " << row;
      EXPECT_EQ(hop.HopNo, row);
      const std::string shown = address == "*" ? "Unknown Ip" : address;
      EXPECT_EQ(hop.Address, shown) << "row " << row;
      EXPECT_EQ(form.OutGrid.Cell(1, row), shown) << "row " << row;
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return;
  }
  QUILLON_START_LAB(lab, LabOptions().WithRouters(6).WithSilent({3}));
  EXPECT_LAB_CHILD_PASSED(lab.RunCurrentTestInSource());
}

}  // namespace
}  // namespace quillon
