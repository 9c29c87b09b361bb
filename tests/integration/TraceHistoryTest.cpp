// The host history as Start updates it: the typed text moves to the top, once,
// as typed; the file is rewritten with CR LF line ends and without empty lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TraceFixture.h"
#include "platform/AtomicFile.h"

namespace quillon::testing {
namespace {

using Items = std::vector<std::string>;

class TraceHistory : public TraceTest {
 protected:
  void WriteHistory(const std::string& text) {
    ASSERT_TRUE(ReplaceFileContents(Files().HistoryPath, text));
  }
  std::string HistoryText() const {
    std::string text;
    EXPECT_TRUE(ReadFileContents(Files().HistoryPath, text));
    return text;
  }
  // Start with an unknown host: the history is updated, no probe goes out.
  void StartWith(const std::string& typed) {
    form_->Host.Text = typed;
    form_->StartTrace();
    ASSERT_FALSE(form_->Running);
  }
};

TEST_F(TraceHistory, FirstStartWritesTheTypedHostAboveTheDefault) {
  Install(RouteTo(1));
  MakeForm();
  ASSERT_EQ(form_->Host.Items, Items{"localhost"});
  StartWith("one.test");
  EXPECT_EQ(form_->Host.Items, (Items{"one.test", "localhost"}));
  EXPECT_EQ(form_->Host.Text, "one.test");
  EXPECT_EQ(HistoryText(), "one.test\r\nlocalhost\r\n");
}

TEST_F(TraceHistory, SameHostInOtherLetterCaseMovesUpWithTheNewCase) {
  Install(RouteTo(1));
  WriteHistory("b.test\r\nA.Test\r\nc.test\r\na.test\r\n");
  MakeForm();
  StartWith("a.TEST");
  // Only the first entry equal ignoring case goes; an exact later copy stays.
  EXPECT_EQ(form_->Host.Items, (Items{"a.TEST", "b.test", "c.test", "a.test"}));
  EXPECT_EQ(HistoryText(), "a.TEST\r\nb.test\r\nc.test\r\na.test\r\n");
}

TEST_F(TraceHistory, BlanksAreStoredButTheTraceUsesTheTrimmedHost) {
  Install(RouteTo(1));
  MakeForm();
  StartWith("  spaced.test ");
  EXPECT_EQ(form_->TargetHost, "spaced.test");
  ASSERT_EQ(view_.Messages.back(), "Host not found: spaced.test");
  EXPECT_EQ(form_->Host.Text, "  spaced.test ");
  EXPECT_EQ(HistoryText(), "  spaced.test \r\nlocalhost\r\n");
  // Different blanks make a different entry.
  StartWith("spaced.test");
  EXPECT_EQ(form_->Host.Items, (Items{"spaced.test", "  spaced.test ", "localhost"}));
}

TEST_F(TraceHistory, EmptyLinesShowUntilTheNextStartDropsThem) {
  Install(RouteTo(1));
  WriteHistory("x.test\n\r\n  \ry.test");
  MakeForm();
  EXPECT_EQ(form_->Host.Items, (Items{"x.test", "", "  ", "y.test"}));
  StartWith("z.test");
  EXPECT_EQ(form_->Host.Items, (Items{"z.test", "x.test", "  ", "y.test"}));
  EXPECT_EQ(HistoryText(), "z.test\r\nx.test\r\n  \r\ny.test\r\n");
}

TEST_F(TraceHistory, EveryStartRereadsTheFile) {
  Install(RouteTo(1));
  MakeForm();
  StartWith("one.test");
  // Another program start saved its own list meanwhile.
  WriteHistory("other.test\r\none.test\r\n");
  StartWith("two.test");
  EXPECT_EQ(form_->Host.Items, (Items{"two.test", "other.test", "one.test"}));
  EXPECT_EQ(HistoryText(), "two.test\r\nother.test\r\none.test\r\n");
}

TEST_F(TraceHistory, ZeroByteEndsTheStoredList) {
  Install(RouteTo(1));
  WriteHistory(std::string("kept.test\r\n\0lost.test\r\n", 23));
  MakeForm();
  StartWith("new.test");
  EXPECT_EQ(HistoryText(), "new.test\r\nkept.test\r\n");
}

TEST_F(TraceHistory, AHistoryThatCannotBeSavedDoesNotStopTheTrace) {
  Install(RouteTo(1));
  form_ = std::make_unique<TTraceRouteForm>(
      &view_, TFormFiles{(dir_ / "missing" / "q.hst").string(), (dir_ / "q.dnb").string()});
  form_->FormCreate({});
  form_->Host.Text = TargetName;
  form_->TimeOut.Text = "300";
  form_->StartTrace();
  EXPECT_EQ(form_->Host.Items.front(), TargetName);
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_EQ(form_->RouteLength, 2);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "missing"));
}

}  // namespace
}  // namespace quillon::testing
