// Reverse names of a real trace in the namespace lab: the source namespace's
// hosts file names some hops, the rest show as unresolved, and the name cache
// file answers later runs and later program starts without any lookup.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "lab/LabNetwork.h"
#include "net/IdStackPosix.h"
#include "trace/DnsBuffer.h"
#include "trace/TraceRouteForm.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

std::atomic<int> gReverseLookups{0};

// The system's stack, counting the reverse lookups it is asked for.
class CountingStack : public TIdStackPosix {
 public:
  std::string AddrToHostName(const std::string& address) override {
    ++gReverseLookups;
    return TIdStackPosix::AddrToHostName(address);
  }
};

class SilentView : public TTraceView {
 public:
  void ShowMessage(const std::string& text) override { ADD_FAILURE() << text; }
  void GridChanged() override {}
  void ControlsChanged() override {}
};

bool TraceToTheEnd(TTraceRouteForm& form, const std::string& target) {
  form.Host.Text = target;
  form.Hoops.Text = "3";  // no probe beyond the target: one lookup per hop
  form.TimeOut.Text = "1000";
  form.StartTrace();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (form.Running) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    TMessageQueue::Main().WaitMessage(50);
    TMessageQueue::Main().ProcessMessages();
  }
  return true;
}

TEST(NamesLab, HostsFileNamesAndUnresolvedHopsComeFromTheCacheLater) {
  if (LabNetwork::InsideLab()) {
    const std::optional<LabFacts> facts = LabFacts::FromEnvironment();
    ASSERT_TRUE(facts.has_value());
    ASSERT_EQ(facts->Hops, 3);
    std::string dir = (fs::temp_directory_path() / "quillon-nameslab-XXXXXX").string();
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    const TFormFiles files{dir + "/quillon.hst", dir + "/quillon.dnb"};
    GSocketStackClass = [] { return std::unique_ptr<TIdStack>(new CountingStack); };
    SilentView view;

    auto expectNames = [&](const TTraceRouteForm& form) {
      EXPECT_TRUE(form.RouteEndFound);
      EXPECT_EQ(form.RouteLength, 3);
      EXPECT_EQ(form.Hops[1].Address, facts->Hop(1));
      EXPECT_EQ(form.Hops[1].HostName, "gateway.lab");
      EXPECT_EQ(form.Hops[2].Address, facts->Hop(2));
      EXPECT_EQ(form.Hops[2].HostName, facts->Hop(2) + "[no DNS]");
      EXPECT_EQ(form.Hops[3].HostName, "far-end.lab");
      EXPECT_EQ(form.OutGrid.Cell(2, 1), "gateway.lab");  // the host-name column
      EXPECT_EQ(form.OutGrid.Cell(2, 2), facts->Hop(2) + "[no DNS]");
    };

    {
      TTraceRouteForm form(&view, files);
      form.FormCreate({});
      ASSERT_TRUE(TraceToTheEnd(form, facts->Target));
      expectNames(form);
      EXPECT_EQ(gReverseLookups.load(), 3);
      EXPECT_EQ(form.NameCache().Count(), 3);

      ASSERT_TRUE(TraceToTheEnd(form, facts->Target));  // a second run, same process
      expectNames(form);
      EXPECT_EQ(gReverseLookups.load(), 3);
      form.FormClose();
    }
    EXPECT_EQ(fs::file_size(files.CachePath), 3u * 288u);
    {
      TTraceRouteForm form(&view, files);  // a second program start
      form.FormCreate({});
      EXPECT_EQ(form.NameCache().Count(), 3);
      ASSERT_TRUE(TraceToTheEnd(form, facts->Target));
      expectNames(form);
      EXPECT_EQ(gReverseLookups.load(), 3);
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return;
  }
  QUILLON_START_LAB(
      lab,
      LabOptions().WithRouters(2).WithName("1", "gateway.lab").WithName("target", "far-end.lab"));
  EXPECT_LAB_CHILD_PASSED(lab.RunCurrentTestInSource());
}

}  // namespace
}  // namespace quillon
