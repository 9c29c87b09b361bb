// The program's own options are taken out; everything else reaches the engine's
// command-line parser exactly as given.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "trace/CommandLine.h"

namespace quillon {
namespace {

using Words = std::vector<std::string>;

TEST(CliOptions, ExtensionOptionsAreTakenOutAnywhere) {
  const TCliOptions o =
      SplitCliOptions(Words{"--json", "-h", "15", "--terminal", "-w", "2000", "a.b", "--json"});
  EXPECT_TRUE(o.Json);
  EXPECT_TRUE(o.Terminal);
  EXPECT_FALSE(o.Help);
  EXPECT_FALSE(o.Version);
  EXPECT_FALSE(o.RawSockets);
  EXPECT_EQ(o.Parameters, (Words{"-h", "15", "-w", "2000", "a.b"}));
  EXPECT_TRUE(SplitCliOptions(Words{"a.b", "--raw-sockets"}).RawSockets);
}

TEST(CliOptions, OtherParametersPassUnchanged) {
  // Case, blanks inside a parameter, empty parameters and look-alikes all stay.
  const Words given{"ABC.DEF", "-H", "7", "", "--Json", "--jsonx", "two words", "-"};
  const TCliOptions o = SplitCliOptions(given);
  EXPECT_EQ(o.Parameters, given);
  EXPECT_FALSE(o.Json);
  // ...and mean what they mean in the window.
  const Words words{"--terminal", "ABC.DEF", "-H", "7", "--in-flight", "16"};
  TCommandSettings settings;
  EXPECT_TRUE(ParseCommandLine(BuildCommandText(SplitCliOptions(words).Parameters), settings));
  EXPECT_EQ(settings.Host, "abc.def");
  EXPECT_EQ(settings.Hops, 7);
  EXPECT_EQ(settings.TimeOut, 5000);
  EXPECT_EQ(settings.InFlight.Count(), 16);
}

TEST(CliOptions, RoundsIntervalReportAndCsv) {
  const struct {
    Words given;
    std::int32_t rounds;
    std::optional<std::int32_t> intervalMs;
    Words rest;
  } rows[] = {
      {{"a.b"}, 1, {}, {"a.b"}},
      {{"--rounds", "5", "a.b"}, 5, {}, {"a.b"}},
      {{"--rounds=0", "--interval=0.25", "a.b"}, 0, 250, {"a.b"}},
      {{"--report", "a.b"}, ReportRounds, {}, {"a.b"}},
      {{"--report", "--rounds", "3", "--interval", "2"}, 3, 2000, {}},
      {{"--interval", ".5", "-h", "9"}, 1, 500, {"-h", "9"}},
  };
  for (const auto& row : rows) {
    const TCliOptions o = SplitCliOptions(row.given);
    const std::string given = ::testing::PrintToString(row.given);
    EXPECT_EQ(o.RoundCount(), row.rounds) << given;
    EXPECT_EQ(o.IntervalMs, row.intervalMs) << given;
    EXPECT_EQ(o.Error, "") << given;
    EXPECT_EQ(o.Parameters, row.rest) << given;
    // Every statistics option means the terminal.
    EXPECT_EQ(ShouldOpenWindow(o, true, ":0", nullptr), row.given == Words{"a.b"}) << given;
  }
  for (const Words& refused :
       {Words{"--rounds", "-1"}, Words{"--rounds", "1e3"}, Words{"--rounds", "1000001"},
        Words{"--rounds"}, Words{"--interval", "x"}, Words{"--interval", "-1"},
        Words{"--interval", "3601"}, Words{"--json", "--csv", "a.b"}}) {
    EXPECT_NE(SplitCliOptions(refused).Error, "") << ::testing::PrintToString(refused);
  }
  EXPECT_TRUE(SplitCliOptions(Words{"--csv"}).Csv);
  EXPECT_FALSE(ShouldOpenWindow(SplitCliOptions(Words{"--csv"}), true, ":0", nullptr));
  // The floor an ordinary user meets, and root does not.
  const TCliOptions fast = SplitCliOptions(Words{"--interval", "0.1"});
  EXPECT_NE(IntervalFloorError(fast, false).find("0.2 s"), std::string::npos);
  EXPECT_EQ(IntervalFloorError(fast, true), "");
  EXPECT_EQ(IntervalFloorError(SplitCliOptions(Words{"--interval", "0.2"}), false), "");
  EXPECT_EQ(IntervalFloorError(SplitCliOptions(Words{"a.b"}), false), "");
}

TEST(CliOptions, ArgvSkipsTheProgramPath) {
  const char* argv[] = {"/usr/bin/quillon", "--help", "target", "--version"};
  const TCliOptions o = SplitCliOptions(4, argv);
  EXPECT_TRUE(o.Help);
  EXPECT_TRUE(o.Version);
  EXPECT_EQ(o.Parameters, Words{"target"});
  EXPECT_TRUE(SplitCliOptions(1, argv).Parameters.empty());
}

TEST(CliOptions, WindowOnlyWithADisplayAndWithoutTerminalOptions) {
  const TCliOptions none;
  TCliOptions terminal;
  terminal.Terminal = true;
  TCliOptions json;
  json.Json = true;
  EXPECT_TRUE(ShouldOpenWindow(none, true, ":0", nullptr));
  EXPECT_TRUE(ShouldOpenWindow(none, true, nullptr, "wayland-0"));
  EXPECT_TRUE(ShouldOpenWindow(none, true, "", "wayland-0"));
  EXPECT_FALSE(ShouldOpenWindow(none, true, nullptr, nullptr));
  EXPECT_FALSE(ShouldOpenWindow(none, true, "", "")) << "set but empty is no display";
  EXPECT_FALSE(ShouldOpenWindow(none, false, ":0", nullptr)) << "window not built in";
  EXPECT_FALSE(ShouldOpenWindow(terminal, true, ":0", nullptr));
  EXPECT_FALSE(ShouldOpenWindow(json, true, ":0", nullptr));
}

TEST(CliOptions, VersionAndHelpTexts) {
  EXPECT_EQ(VersionText("0.8.0.0"), "Quillon 0.8.0.0\n");
  EXPECT_EQ(VersionText(""), "Quillon (version unknown)\n");
  const std::string help = HelpText("quillon");
  EXPECT_EQ(help.rfind("Usage: quillon ", 0), 0u);
  for (const char* option :
       {"-4", "-6", "-h HOPS", "-w TIMEOUT", "--in-flight N", "--terminal", "--json", "--help",
        "--version", "--rounds N", "--interval SECONDS", "--report", "--csv"}) {
    EXPECT_NE(help.find(option), std::string::npos) << option;
  }
  EXPECT_NE(help.find(SocketRightsNote()), std::string::npos);
}

// The manual page's OPTIONS and EXIT STATUS list exactly what --help names.
TEST(CliOptions, ManualPageListsTheOptionsAndExitStatusesOfTheHelp) {
  std::ifstream file(QUILLON_MANUAL_PAGE);
  std::ostringstream read;
  read << file.rdbuf();
  const std::string page = std::regex_replace(read.str(), std::regex(R"(\\-)"), "-");
  const auto section = [&page](const std::string& title) {
    const std::size_t from = page.find(".SH " + title + "\n");
    return from == std::string::npos ? std::string()
                                     : page.substr(from, page.find(".SH ", from + 1) - from);
  };
  const auto listed = [](const std::string& text, const std::regex& item) {
    std::vector<std::string> items;
    for (std::sregex_iterator it(text.begin(), text.end(), item), end; it != end; ++it)
      items.push_back((*it)[1]);
    std::sort(items.begin(), items.end());
    return items;
  };
  const std::string help = HelpText("quillon");
  const std::vector<std::string> helpOptions = listed(help, std::regex(R"(\n  (-\w|--[a-z-]+))"));
  // The manual names the Windows-only option too, which help on Linux leaves out.
  const bool windows = !PlatformOptionsHelp().empty();
  ASSERT_EQ(helpOptions.size(), windows ? 18u : 17u) << help;
  std::vector<std::string> pageOptions =
      listed(section("OPTIONS"), std::regex(R"(\.TP\n\.BI? (-\w|--[a-z-]+))"));
  if (!windows) std::erase(pageOptions, "--raw-sockets");
  EXPECT_EQ(pageOptions, helpOptions);
  EXPECT_EQ(listed(section("EXIT STATUS"), std::regex(R"(\.TP\n\.B (\d)\n)")),
            listed(help, std::regex(R"((\d) (?:when|on) )")));
}

}  // namespace
}  // namespace quillon
