// The native Windows window as users install and start it, under wine inside
// the namespace lab: the installer (msiexec /qn) puts the program into Program
// Files, and the installed quillon.exe traces the lab's route from its command
// line on a virtual X display with a window manager; a robot beside it
// (quillon_winrobot.exe, under the same wineserver) scrolls the grid, types a
// second host and presses Enter, then one without an address, opens the About
// window and the help, runs rounds from the grid's context menu and copies and
// saves the statistics, stops a slow trace and closes the window during
// another, and takes pictures kept under the build tree (tests/lab/artefacts).
// Then the installer removes it all; a terminal trace is told of a logoff; and
// a copy as the zip has it, in a folder named with non-ASCII letters, opens its
// help from beside it and is closed as an upgrade's Restart Manager closes it.
// Needs the Windows build next to this one (build/windows, or
// QUILLON_WINDOWS_BINARY_DIR).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "lab/LabNetwork.h"
#include "trace/DnsBuffer.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

std::map<std::string, std::string> ReadReport(const std::string& text) {
  std::map<std::string, std::string> values;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t space = line.find(' ');
    if (space != std::string::npos) values[line.substr(0, space)] = line.substr(space + 1);
  }
  return values;
}

// The time bars in a 24-bit bottom-up BMP, top to bottom: runs of rows whose
// pure red starts where the widest bar starts (every bar starts at its cell's
// left edge), each measured as its widest red span. Red elsewhere (an icon)
// does not count.
std::vector<int> BarLengths(const std::string& bmp) {
  if (bmp.size() < 54 || bmp.compare(0, 2, "BM") != 0) return {};
  const auto number = [&bmp](std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 4; i-- > 0;) value = value << 8 | static_cast<unsigned char>(bmp[at + i]);
    return value;
  };
  const std::uint32_t offset = number(10);
  const int width = static_cast<int>(number(18));
  const int height = static_cast<int>(number(22));
  const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
  if (number(28) % 65536 != 24 || bmp.size() < offset + stride * static_cast<std::size_t>(height))
    return {};
  // The longest red run of every row: where it starts, how long it is.
  std::vector<std::pair<int, int>> runs(static_cast<std::size_t>(height), {-1, 0});
  for (int y = 0; y < height; ++y) {
    const std::size_t row = offset + stride * static_cast<std::size_t>(height - 1 - y);
    int run = 0;
    for (int x = 0; x < width; ++x) {
      const std::size_t at = row + static_cast<std::size_t>(x) * 3;  // blue, green, red
      const bool red =
          bmp[at] == 0 && bmp[at + 1] == 0 && static_cast<unsigned char>(bmp[at + 2]) == 255;
      run = red ? run + 1 : 0;
      auto& longest = runs[static_cast<std::size_t>(y)];
      if (run > longest.second) longest = {x - run + 1, run};
    }
  }
  const auto widest = std::max_element(
      runs.begin(), runs.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
  std::vector<int> bars;
  bool inBar = false;
  for (const auto& [start, length] : runs) {
    const bool bar = length > 0 && start == widest->first;
    if (bar && !inBar) bars.push_back(0);
    if (bar) bars.back() = std::max(bars.back(), length);
    inBar = bar;
  }
  return bars;
}

std::string FindWine(const std::string& name) {
  for (const char* dir : {"/usr/lib/wine/", "/usr/lib64/wine/"})
    if (fs::exists(std::string(dir) + name)) return std::string(dir) + name;
  return OnPath(name) ? name : std::string();
}

TEST(WineWindowLab, WindowTracesTypesAndShowsAbout) {
  const char* windowsDir = std::getenv("QUILLON_WINDOWS_BINARY_DIR");
  const fs::path windows = windowsDir ? fs::path(windowsDir) : BuildDir().parent_path() / "windows";
  const fs::path program = windows / "app" / "quillon.exe";
  const fs::path robot = windows / "tests" / "winui" / "quillon_winrobot.exe";
  const fs::path windowTests = windows / "tests" / "winui" / "quillon_winui_tests.exe";
  const fs::path help = windows / "help" / "quillon.chm";
  fs::path installer;
  if (fs::is_directory(windows)) {
    for (const auto& entry : fs::directory_iterator(windows)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("quillon-", 0) == 0 && name.ends_with("-win64.msi")) installer = entry.path();
    }
  }
  if (!fs::exists(program) || !fs::exists(robot) || !fs::exists(windowTests) || !fs::exists(help) ||
      installer.empty())
    GTEST_SKIP() << "the Windows build (with its installer) is not there: " << windows;
  const std::string wine = FindWine("wine64");
  const std::string wineserver = FindWine("wineserver");
  if (wine.empty() || wineserver.empty()) GTEST_SKIP() << "wine64 is not installed";
  if (!OnPath("Xvfb") || !OnPath("openbox")) GTEST_SKIP() << "Xvfb or openbox is not installed";

  // Links that hold every packet 5 ms make the hops' times, and so their bars,
  // differ in the pictures. Nine routers make a route the short window scrolls;
  // router 5 never answers, and rounds must not wait for it.
  QUILLON_START_LAB(lab, LabOptions()
                             .WithRouters(9)
                             .WithDelay(5)
                             .WithSilent({5})
                             .WithName("1", "one.lab")
                             .WithName("target", "target.lab"));

  const fs::path dir =
      fs::temp_directory_path() / ("quillon-winelab-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "bin");
  fs::copy_file(program, dir / "bin" / "quillon.exe");
  fs::copy_file(robot, dir / "bin" / "quillon_winrobot.exe");
  fs::copy_file(windowTests, dir / "bin" / "quillon_winui_tests.exe");
  // The zip's copy, unpacked where the ANSI code page has no letters for the name.
  const fs::path zip = dir / "Quillon-Ωμέγα";
  fs::create_directories(zip);
  fs::copy_file(program, zip / "quillon.exe");
  fs::copy_file(help, zip / "quillon.chm");
  fs::copy_file(installer, dir / "quillon.msi");
  const auto windowsPath = [](const fs::path& path) {
    std::string text = "Z:" + path.string();
    for (char& c : text) c = c == '/' ? '\\' : c;
    return text;
  };
  const std::string windowsDirText = windowsPath(dir);
  // An address on the target's link that no one has: the last router gives up
  // on it only after seconds.
  const std::string target = lab.Facts().Target;
  const std::string slowHost = target.substr(0, target.rfind('.')) + ".9";
  const std::string uninstallKey =
      "'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall'";

  // Everything starts inside the namespace: the X server (it picks a free
  // display and writes its number to descriptor 3), the window manager, and
  // the wineserver of the test's own prefix, which opens the sockets. Every
  // wait has its limit, and nothing stays behind.
  const std::string q = ShellQuote(dir.string());
  const std::string script =
      "cd " + q + " && export WINEPREFIX=" + ShellQuote((dir / "prefix").string()) +
      " WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='"
      " && { Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>display >xvfb.log 2>&1 & "
      "xvfb=$!; }"
      " && for i in $(seq 200); do [ -s display ] && break; sleep 0.05; done"
      " && export DISPLAY=:$(cat display)"
      " && { openbox >openbox.log 2>&1 & wm=$!; }"
      " && timeout -k 5 180 " +
      wine +
      " wineboot --init >wineboot.log 2>&1"
      // A crash must end the program, not wait for someone to close a dialog.
      " ; timeout -k 5 60 " +
      wine +
      " reg add 'HKCU\\Software\\Wine\\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f"
      " >/dev/null 2>&1"
      // The window's unit tests that need a display: a console's close.
      " ; timeout -k 5 60 " +
      wine +
      " bin/quillon_winui_tests.exe --gtest_filter='WindowConsoleClose.*' >winui.out 2>&1;"
      " echo $? >winui.status"
      // Installed as a user would, with what the installer registers.
      " ; timeout -k 5 120 " +
      wine + " msiexec /i " + ShellQuote(windowsPath(dir / "quillon.msi")) +
      " /qn >msi.log 2>&1; echo $? >install.status"
      " ; inst=\"$WINEPREFIX/drive_c/Program Files/Quillon\"; ls \"$inst\" >installed.txt"
      " ; find \"$WINEPREFIX/drive_c\" -name Quillon.lnk | wc -l >shortcut.txt"
      " ; timeout -k 5 60 " +
      wine + " reg query " + uninstallKey +
      " /s 2>/dev/null | grep -c 'DisplayName.*Quillon' >entry.txt"
      " ; { timeout -k 5 200 " +
      wine +
      " 'C:\\Program Files\\Quillon\\quillon.exe' -h 12 -w 400 target.lab >out 2>err & "
      "app=$!; }"
      " ; timeout -k 5 190 " +
      wine + " bin/quillon_winrobot.exe " + ShellQuote(windowsDirText) + " one.lab nohost.lab " +
      slowHost + " '%LOCALAPPDATA%\\Quillon\\quillon.dnb' target.lab" +
      " >robot.out 2>&1; rc=$?"
      // A robot that gave up leaves the window open: end it rather than wait.
      " ; [ $rc -eq 0 ] || timeout -k 5 30 " +
      wineserver +
      " -k"
      " ; wait $app; echo $? >app.status"
      // The state files the installed program kept in the user's folder (even
      // with the rights to write into Program Files, as under wine), then gone.
      " ; ls \"$inst\" >installed-after.txt"
      " ; state=$(find \"$WINEPREFIX/drive_c/users\" -type d -path '*/AppData/Local/Quillon')"
      " ; cp \"$state\"/quillon.hst \"$state\"/quillon.dnb . ; rm -rf \"$state\""
      // (In a fresh wine session: under the first one msiexec /x waits for good.)
      " ; timeout -k 5 30 " +
      wineserver + " -k; timeout -k 5 30 " + wineserver + " -w" + " ; timeout -k 5 120 " + wine +
      " msiexec /x " + ShellQuote(windowsPath(dir / "quillon.msi")) +
      " /qn >>msi.log 2>&1; echo $? >remove.status"
      " ; find \"$WINEPREFIX/drive_c\" -iname 'quillon*' -not -path '*/Installer/*' >left.txt"
      " ; timeout -k 5 60 " +
      wine + " reg query " + uninstallKey +
      " /s 2>/dev/null | grep -c 'DisplayName.*Quillon' >entry-after.txt"
      // A terminal trace to the slow host when the user logs off.
      " ; { timeout -k 5 60 " +
      wine + " bin/quillon.exe --terminal -w 9000 " + slowHost +
      " >term.out 2>term.err & term=$!; }"
      " ; timeout -k 5 50 " +
      wine + " bin/quillon_winrobot.exe --end-session-terminal " + ShellQuote(windowsDirText) +
      " " + ShellQuote(windowsPath(dir / "bin" / "quillon.dnb")) +
      " >robot3.out 2>&1 ; wait $term; echo $? >term.status"
      // The zip's copy, with nothing at the installed help path.
      " ; { timeout -k 5 60 " +
      wine + " " + ShellQuote((zip / "quillon.exe").string()) +
      " >out2 2>&1 & app2=$!; }"
      " ; timeout -k 5 50 " +
      wine + " bin/quillon_winrobot.exe --help-only " + ShellQuote(windowsDirText) +
      " >robot2.out 2>&1 ; wait $app2; echo $? >app2.status"
      " ; timeout -k 5 30 " +
      wineserver + " -k; kill $wm $xvfb; wait $wm $xvfb; exit $rc";
  const CommandResult run = lab.RunInSource({"sh", "-c", script}, 420000);
  const auto report = ReadReport(ReadWholeFile((dir / "report.txt").string()));
  const auto seen = [&report](const std::string& key) {
    return report.count(key) ? report.at(key) : std::string("(not reported)");
  };
  EXPECT_EQ(run.ExitCode, 0) << run.Output << ReadWholeFile((dir / "report.txt").string())
                             << ReadWholeFile((dir / "err").string());
  EXPECT_EQ(ReadWholeFile((dir / "app.status").string()), "0\n");

  // Started from a console, the window ignores Ctrl+C there and turns the
  // console's close into its own, saving before the handler returns.
  EXPECT_EQ(ReadWholeFile((dir / "winui.status").string()), "0\n")
      << ReadWholeFile((dir / "winui.out").string());
  EXPECT_EQ(ReadWholeFile((dir / "winui.out").string()).find("SKIPPED"), std::string::npos);

  // The installer put the program, its help and licence into Program Files,
  // with a Start-menu shortcut and an uninstall entry.
  EXPECT_EQ(ReadWholeFile((dir / "install.status").string()), "0\n");
  EXPECT_EQ(ReadWholeFile((dir / "installed.txt").string()),
            "LICENCE.txt\nquillon.chm\nquillon.exe\n");
  EXPECT_EQ(ReadWholeFile((dir / "shortcut.txt").string()), "1\n");
  EXPECT_EQ(ReadWholeFile((dir / "entry.txt").string()), "1\n");

  // The main window: its caption and outer size as the system reports them.
  EXPECT_EQ(seen("main-caption"), "Quillon");
  EXPECT_EQ(seen("main-size"), "511 440");
  // The keyboard focus starts in the Host box; Tab goes to Max Hoops, Time
  // Out, the grid and Start.
  EXPECT_EQ(seen("focus-order"), "Host Edit:12 Edit:400 QuillonGrid Button:Start");
  // The About window, opened by the About button, blocks the main window.
  EXPECT_EQ(seen("about-caption"), "About");
  EXPECT_EQ(seen("about-size"), "307 330");
  EXPECT_EQ(seen("about-line"), "Free Quillon ( Version 0.8.0.0 )");
  EXPECT_EQ(seen("main-blocked"), "1");
  // The Help button opened the compiled help file in the help viewer.
  EXPECT_EQ(seen("help-caption"), "Quillon Help");
  // Not saved before, saved once WM_ENDSESSION was handled.
  EXPECT_EQ(seen("end-session-saved"), "01");
  // The wheel sent to the focused Host box scrolled the grid under the pointer.
  EXPECT_EQ(seen("wheel-over-grid"), "scrolled");
  // Ok in About gave the activation back to the main window.
  EXPECT_EQ(seen("about-ok-active"), "main");
  // Touchpad-sized wheel steps add up to rows.
  EXPECT_EQ(seen("wheel-small"), "scrolled still scrolled");
  // Stop went grey at once, passing the focus on, and the run ended.
  EXPECT_EQ(seen("stop-greyed"), "1");
  EXPECT_EQ(seen("focus-after-stop"), "Host");
  EXPECT_EQ(seen("stopped"), "idle");
  // Closed during a trace whose probes wait nine seconds: gone well before.
  ASSERT_NE(seen("closed-during-trace"), "(not reported)");
  const int closeMs = std::atoi(seen("closed-during-trace").c_str());
  EXPECT_GT(closeMs, 0);
  EXPECT_LT(closeMs, 5000);
  // The grid's context menu, by right click, Shift+F10 and the menu key: rounds
  // until Stop, then the statistics view copied (Ctrl+C), copied as CSV and
  // saved as CSV; a save onto a read-only file says why and keeps it.
  EXPECT_EQ(seen("menu-right-click"), "1");
  EXPECT_EQ(seen("repeating"), "1");
  // Hop 1's Sent rose by one a second, while the silent router's first-round
  // attempts still waited (rounds that waited for them would add one at most).
  int sentBefore = 0, sentAfter = 0;
  ASSERT_EQ(std::sscanf(seen("repeat-sent").c_str(), "%d %d", &sentBefore, &sentAfter), 2)
      << seen("repeat-sent");
  EXPECT_GE(sentAfter - sentBefore, 2) << seen("repeat-sent");
  EXPECT_LE(sentAfter - sentBefore, 3) << seen("repeat-sent");
  EXPECT_EQ(seen("repeat-stopped"), "idle");
  EXPECT_EQ(seen("menu-shift-f10"), "1");
  EXPECT_EQ(seen("menu-key"), "1");
  const std::string copied = ReadWholeFile((dir / "copied.txt").string());
  EXPECT_EQ(copied.rfind("Target\ttarget.lab\tAddress\t" + target + "\t", 0), 0u) << copied;
  EXPECT_NE(copied.find("\r\nNo\tHost\tLoss %\tSent\t"), std::string::npos) << copied;
  EXPECT_NE(copied.find("\r\n1\tone.lab\t0.0\t"), std::string::npos) << copied;
  const std::string csv = ReadWholeFile((dir / "copied.csv").string());
  EXPECT_NE(csv.find("\r\n1,one.lab," + lab.Facts().Hop(1) + ",0.0,"), std::string::npos) << csv;
  const std::string copiedAs = ReadWholeFile((dir / "copied-as.txt").string());
  EXPECT_NE(copiedAs.find("\tAddresses\tAS\tAS prefix\tAS country\tAS registry\tAS name\r\n"),
            std::string::npos)
      << copiedAs;
  EXPECT_EQ(seen("saved"), "1");
  // TCP probes to port 443 from the menu ("Other…" shows the port in use):
  // wine lacks what they need, so Start refuses them in a box that names ICMP.
  EXPECT_EQ(seen("port-box"), "443");
  EXPECT_EQ(seen("tcp-refusal").rfind("Cannot trace target.lab: TCP probes need", 0), 0u)
      << seen("tcp-refusal");
  EXPECT_EQ(ReadWholeFile((dir / "saved.csv").string()), csv);
  EXPECT_EQ(seen("save-error").rfind("Cannot save ", 0), 0u) << seen("save-error");
  EXPECT_EQ(ReadWholeFile((dir / "locked.csv").string()), "kept\r\n");

  // A host without an address: the modal message box, then back to idle.
  EXPECT_EQ(seen("message"), "Host not found: nohost.lab");
  // Enter in the Host box started a trace, which ran to its end.
  EXPECT_EQ(seen("typed-start"), "started");
  EXPECT_EQ(seen("typed-trace"), "done");

  // The grid filled with the route's rows: one bar each, the slowest hop's as
  // wide as its 96-pixel cell. The trace typed to the first router has one row.
  const std::vector<int> commandLineBars = BarLengths(ReadWholeFile((dir / "main.bmp").string()));
  ASSERT_EQ(commandLineBars.size(), 10u);
  EXPECT_EQ(*std::max_element(commandLineBars.begin(), commandLineBars.end()), 96);
  EXPECT_EQ(BarLengths(ReadWholeFile((dir / "typed.bmp").string())), std::vector<int>{96});

  // The pictures, kept as PNG where ImageMagick converts them, else as BMP.
  const fs::path artefacts = BuildDir() / "tests" / "lab" / "artefacts";
  fs::create_directories(artefacts);
  for (const char* name : {"main", "typed", "about", "menu", "statistics"}) {
    const fs::path bmp = dir / (std::string(name) + ".bmp");
    const fs::path png = artefacts / ("WineWindow-" + std::string(name) + ".png");
    if (!fs::exists(bmp)) continue;
    if (RunProgram({"convert", bmp.string(), png.string()}).ExitCode != 0)
      fs::copy_file(bmp, png.parent_path() / (png.stem().string() + ".bmp"),
                    fs::copy_options::overwrite_existing);
  }

  // Every typed host went into the history, and the hops' names into the
  // name cache saved when the window closed during the last trace.
  EXPECT_EQ(ReadWholeFile((dir / "quillon.hst").string()),
            slowHost + "\r\ntarget.lab\r\nnohost.lab\r\none.lab\r\nlocalhost\r\n");
  TDnsBuffer cache;
  cache.LoadFromFile((dir / "quillon.dnb").string());
  EXPECT_EQ(cache.FindName(lab.Facts().Hop(1)), "one.lab");
  EXPECT_EQ(cache.FindName(lab.Facts().Target), "target.lab");

  // Nothing but the installed files in Program Files.
  EXPECT_EQ(ReadWholeFile((dir / "installed-after.txt").string()),
            "LICENCE.txt\nquillon.chm\nquillon.exe\n");

  // Removed: no file, shortcut or entry left (the installer's own cache aside).
  EXPECT_EQ(ReadWholeFile((dir / "remove.status").string()), "0\n");
  EXPECT_EQ(ReadWholeFile((dir / "left.txt").string()), "");
  EXPECT_EQ(ReadWholeFile((dir / "entry-after.txt").string()), "0\n");
  // A logoff during a terminal trace: the hidden window saved the names the
  // trace had found before it answered, and the program ended, quitting.
  const auto terminalReport = ReadReport(ReadWholeFile((dir / "terminal-report.txt").string()));
  const auto terminalSeen = [&terminalReport](const std::string& key) {
    return terminalReport.count(key) ? terminalReport.at(key) : std::string("(not reported)");
  };
  EXPECT_EQ(terminalSeen("terminal-window-visible"), "0");
  EXPECT_EQ(terminalSeen("terminal-saved"), "01") << ReadWholeFile((dir / "term.err").string());
  EXPECT_EQ(terminalSeen("terminal-ended"), "1");
  EXPECT_EQ(ReadWholeFile((dir / "term.status").string()), "143\n");
  TDnsBuffer terminalNames;
  terminalNames.LoadFromFile((dir / "bin" / "quillon.dnb").string());
  EXPECT_EQ(terminalNames.FindName(lab.Facts().Hop(1)), "one.lab");
  EXPECT_NE(ReadWholeFile((dir / "term.out").string()).find("one.lab"), std::string::npos);

  // The zip's copy, unpacked outside Program Files into a folder with
  // non-ASCII letters, opened the help beside it; closed by the Restart
  // Manager, it saved its names beside it and ended.
  const auto zipReport = ReadReport(ReadWholeFile((dir / "help-report.txt").string()));
  const auto zipSeen = [&zipReport](const std::string& key) {
    return zipReport.count(key) ? zipReport.at(key) : std::string("(not reported)");
  };
  EXPECT_EQ(zipSeen("help-caption"), "Quillon Help");
  EXPECT_EQ(zipSeen("closeapp-saved"), "01");
  EXPECT_EQ(zipSeen("closeapp-ended"), "1");
  EXPECT_EQ(ReadWholeFile((dir / "app2.status").string()), "0\n");
  EXPECT_TRUE(fs::exists(zip / "quillon.dnb"));

  std::error_code ignored;
  fs::remove_all(dir, ignored);
}

}  // namespace
}  // namespace quillon
