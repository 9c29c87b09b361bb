// The desktop window as users start it, inside the namespace lab: the built
// program with its window module, on a virtual X display, traces the lab's route from its command
// line and saves a picture of its window under the build tree (tests/lab/artefacts);
// and an ordinary user's window on a desktop, through the ICMP helper.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "lab/LabNetwork.h"
#include "trace/DnsBuffer.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

// Width and height from a PNG file's header chunk; 0 x 0 when it is no PNG.
std::pair<std::uint32_t, std::uint32_t> PngSize(const std::string& bytes) {
  if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 ||
      bytes.compare(12, 4, "IHDR") != 0) {
    return {0, 0};
  }
  auto big = [&bytes](std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
      value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
  };
  return {big(16), big(20)};
}

// The trace really ran: the host went into the history, and every hop's name
// (or its lack of one) into the name cache saved when the window closed.
void ExpectTheRouteTraced(const fs::path& dir, const LabFacts& facts) {
  EXPECT_EQ(ReadWholeFile(dir / "bin" / "quillon.hst"), "target.lab\r\nlocalhost\r\n");
  TDnsBuffer cache;
  cache.LoadFromFile((dir / "bin" / "quillon.dnb").string());
  EXPECT_EQ(cache.FindName(facts.Hop(1)), "one.lab");
  EXPECT_EQ(cache.FindName(facts.Hop(2)), facts.Hop(2) + "[no DNS]");
  EXPECT_EQ(cache.FindName(facts.Target), "target.lab");
}

TEST(GuiLab, WindowTracesTheLabRouteFromItsCommandLine) {
  const fs::path binaryDir = BuildDir();
  const fs::path program = binaryDir / "app" / "quillon";
  if (!fs::exists(program)) GTEST_SKIP() << "the program is not built";
  if (!OnPath("Xvfb") || !OnPath("openbox")) GTEST_SKIP() << "no virtual desktop here";

  // Links that hold every packet 5 ms make the hops' times, and so their bars,
  // differ in the picture.
  QUILLON_START_LAB(lab, LabOptions()
                             .WithRouters(2)
                             .WithDelay(5)
                             .WithName("1", "one.lab")
                             .WithName("target", "target.lab"));

  const fs::path dir = fs::temp_directory_path() / ("quillon-guilab-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "bin");
  fs::copy_file(program, dir / "bin" / "quillon");
  // The window is the program's module, at its place beside the copy.
  if (!CopyWindowModule(dir / "bin" / "quillon")) {
    fs::remove_all(dir);
    GTEST_SKIP() << "the program is built without the desktop window";
  }
  const fs::path shot = dir / "window.png";

  // The X server starts inside the lab's namespace too; it picks a free display
  // and writes its number to descriptor 3. Nothing of it stays behind, even
  // when the window hangs.
  const std::string script =
      "cd " + ShellQuote(dir.string()) +
      " && { Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>display >xvfb.log 2>&1 & "
      "xvfb=$!; }"
      " && for i in $(seq 200); do [ -s display ] && break; sleep 0.05; done"
      " && export DISPLAY=:$(cat display)"
      " && QUILLON_SCREENSHOT=" +
      ShellQuote(shot.string()) +
      " timeout -k 5 90 ./bin/quillon -h 10 -w 1000 target.lab >out 2>err; "
      "rc=$?; kill $xvfb; wait $xvfb; exit $rc";
  const CommandResult run = lab.RunInSource({"sh", "-c", script}, 120000);
  EXPECT_EQ(run.ExitCode, 0) << run.Output << ReadWholeFile(dir / "err")
                             << ReadWholeFile(dir / "xvfb.log");

  // The picture: the window's client area, as large as its outer size (no
  // window manager, no frame).
  const std::string png = ReadWholeFile(shot);
  EXPECT_EQ(PngSize(png), (std::pair<std::uint32_t, std::uint32_t>(511, 440)));
  const fs::path artefacts = binaryDir / "tests" / "lab" / "artefacts";
  fs::create_directories(artefacts);
  if (!png.empty())
    fs::copy_file(shot, artefacts / "GuiLab-window.png", fs::copy_options::overwrite_existing);

  ExpectTheRouteTraced(dir, lab.Facts());

  // Again as an ordinary user on a desktop, the folder and the state files its
  // own; neither raw nor datagram sockets are, so only the helper opens them.
  for (const fs::path& file : {shot, dir / "bin" / "quillon.hst", dir / "bin" / "quillon.dnb"})
    fs::remove(file);
  RunProgram({"chown", "-R", "65534:65534", dir.string()});
  ASSERT_TRUE(CopyIcmpHelper(dir / "bin" / "quillon")) << "setcap on the helper's copy";
  const fs::path desktop =
      fs::path(LabScriptPath()).parent_path().parent_path() / "gui" / "desktop.sh";
  const std::string asUser =
      "cd " + ShellQuote(dir.string()) +
      " && sysctl -q -w net.ipv4.ping_group_range='1 0'"
      " && exec setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all"
      " env HOME=" +
      ShellQuote(dir.string()) + " QUILLON_SCREENSHOT=" + ShellQuote(shot.string()) +
      " timeout -k 5 90 sh " + ShellQuote(desktop.string()) +
      " ./bin/quillon -h 10 -w 1000 target.lab >out 2>err";
  const CommandResult user = lab.RunInSource({"sh", "-c", asUser}, 120000);
  EXPECT_EQ(user.ExitCode, 0) << user.Output << ReadWholeFile(dir / "err");
  EXPECT_FALSE(ReadWholeFile(shot).empty());
  ExpectTheRouteTraced(dir, lab.Facts());

  std::error_code ignored;
  fs::remove_all(dir, ignored);
}

}  // namespace
}  // namespace quillon
