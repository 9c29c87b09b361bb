// Where the history and the name cache go: beside a copy in a folder that takes
// files, in the user's XDG folders for an installed copy or a read-only folder.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "platform/AtomicFile.h"
#include "support/TempDir.h"
#include "trace/StateFiles.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

TEST(ChangeFileExt, ReplacesOrAppendsTheExtension) {
  EXPECT_EQ(ChangeFileExt("/opt/q/quillon", ".hst"), "/opt/q/quillon.hst");
  EXPECT_EQ(ChangeFileExt("/opt/q/quillon.bin", ".dnb"), "/opt/q/quillon.dnb");
  EXPECT_EQ(ChangeFileExt("/opt/q/quillon.tar.gz", ".hst"), "/opt/q/quillon.tar.hst");
  // A dot in a folder name or at the start of the name is no extension.
  EXPECT_EQ(ChangeFileExt("/opt/q.d/quillon", ".hst"), "/opt/q.d/quillon.hst");
  EXPECT_EQ(ChangeFileExt("/opt/q/.quillon", ".hst"), "/opt/q/.quillon.hst");
  EXPECT_EQ(ChangeFileExt("quillon.exe", ".hst"), "quillon.hst");
}

class StateFiles : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(dir_ / "bin"); }
  std::string P(const std::string& relative) const { return dir_.File(relative); }
  TStateEnvironment Xdg() const { return {P("state"), P("cache"), P("home")}; }

  static fs::perms Mode(const std::string& path) {
    return fs::status(path).permissions() & fs::perms::all;
  }

  TTempDir dir_{"quillon-state"};
};

TEST_F(StateFiles, WritableFolderKeepsTheFilesBesideTheProgram) {
  const TFormFiles files = FormFilesFor(P("bin/quillon"), Xdg());
  EXPECT_EQ(files.HistoryPath, P("bin/quillon.hst"));
  EXPECT_EQ(files.CachePath, P("bin/quillon.dnb"));
  EXPECT_FALSE(fs::exists(P("state"))) << "no XDG folder is made when it is not used";
}

TEST_F(StateFiles, SystemFolderUsesTheXdgFoldersEvenForRoot) {
  const TFormFiles files = FormFilesFor("/usr/bin/quillon", Xdg());
  EXPECT_EQ(files.HistoryPath, P("state/quillon/quillon.hst"));
  EXPECT_EQ(files.CachePath, P("cache/quillon/quillon.dnb"));
  // Created now, private to the user, so the first save succeeds.
  ASSERT_TRUE(fs::is_directory(P("state/quillon")));
  ASSERT_TRUE(fs::is_directory(P("cache/quillon")));
  EXPECT_EQ(Mode(P("state/quillon")), fs::perms::owner_all);
  EXPECT_TRUE(ReplaceFileContents(files.HistoryPath, "localhost\r\n"));
  EXPECT_TRUE(ReplaceFileContents(files.CachePath, std::string(288, '\0')));
  // A second start finds them again.
  const TFormFiles again = FormFilesFor("/usr/bin/quillon", Xdg());
  EXPECT_EQ(again.HistoryPath, files.HistoryPath);
  std::string data;
  EXPECT_TRUE(ReadFileContents(again.HistoryPath, data));
  EXPECT_EQ(data, "localhost\r\n");
}

TEST_F(StateFiles, DefaultXdgFoldersAreBelowHome) {
  const TFormFiles files = FormFilesFor("/usr/local/bin/quillon.bin", {"", "", P("home")});
  EXPECT_EQ(files.HistoryPath, P("home/.local/state/quillon/quillon.hst"));
  EXPECT_EQ(files.CachePath, P("home/.cache/quillon/quillon.dnb"));
  EXPECT_TRUE(fs::is_directory(P("home/.local/state/quillon")));
  EXPECT_TRUE(fs::is_directory(P("home/.cache/quillon")));
}

TEST_F(StateFiles, RelativeXdgFoldersAreIgnored) {
  const TFormFiles files = FormFilesFor("/usr/bin/quillon", {"rel/state", "rel/cache", P("home")});
  EXPECT_EQ(files.HistoryPath, P("home/.local/state/quillon/quillon.hst"));
  EXPECT_EQ(files.CachePath, P("home/.cache/quillon/quillon.dnb"));
}

TEST_F(StateFiles, WithoutAnyHomeTheFilesStayBesideTheProgram) {
  const TFormFiles files = FormFilesFor("/usr/bin/quillon", {"", "", ""});
  EXPECT_EQ(files.HistoryPath, "/usr/bin/quillon.hst");
  EXPECT_EQ(files.CachePath, "/usr/bin/quillon.dnb");
}

// A folder that refuses files. Root passes every permission check, so as root
// the folder is made read-only by a read-only bind mount in a private mount
// namespace of a child process; others simply lose the write permission.
TEST_F(StateFiles, ReadOnlyFolderUsesTheXdgFolders) {
  const std::string exe = P("bin/quillon");
  const TStateEnvironment env = Xdg();
  const std::string expectedHistory = P("state/quillon/quillon.hst");
  const std::string expectedCache = P("cache/quillon/quillon.dnb");

  if (::geteuid() != 0) {
    fs::permissions(dir_ / "bin", fs::perms::owner_read | fs::perms::owner_exec);
    const TFormFiles files = FormFilesFor(exe, env);
    EXPECT_EQ(files.HistoryPath, expectedHistory);
    EXPECT_EQ(files.CachePath, expectedCache);
    return;
  }
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int code = 10;
    const std::string bin = P("bin");
    if (::unshare(CLONE_NEWNS) == 0 &&
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
        ::mount(bin.c_str(), bin.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
        ::mount(nullptr, bin.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0) {
      const TFormFiles files = FormFilesFor(exe, env);
      code = files.HistoryPath == expectedHistory && files.CachePath == expectedCache ? 0 : 1;
    }
    ::_exit(code);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 10) GTEST_SKIP() << "no private mount namespace here";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "a read-only folder kept the files beside the program";
  EXPECT_TRUE(fs::is_directory(P("state/quillon")));
  EXPECT_TRUE(fs::is_directory(P("cache/quillon")));
}

// Replacing a file keeps what a plain write would respect: the umask of a new
// file, and a symbolic link, whose target is what changes.
TEST_F(StateFiles, ReplacingKeepsTheUmaskAndSymbolicLinks) {
  // Under 022 as well: under 077 a fixed mode of 0600 would pass too.
  const fs::perms owner = fs::perms::owner_read | fs::perms::owner_write;
  const fs::perms others = fs::perms::group_read | fs::perms::others_read;
  for (const auto& [mask, mode] : {std::pair{mode_t{077}, owner}, {mode_t{022}, owner | others}}) {
    const std::string file = P("new" + std::to_string(mask) + ".hst");
    const mode_t previous = ::umask(mask);
    EXPECT_TRUE(ReplaceFileContents(file, "a\r\n"));
    ::umask(previous);
    EXPECT_EQ(Mode(file), mode) << "umask " << std::oct << mask;
  }

  ASSERT_TRUE(ReplaceFileContents(P("bin/quillon.dnb"), "old"));
  fs::create_symlink("bin/quillon.dnb", P("link.dnb"));
  EXPECT_TRUE(ReplaceFileContents(P("link.dnb"), "new"));
  EXPECT_TRUE(fs::is_symlink(P("link.dnb")));
  std::string data;
  EXPECT_TRUE(ReadFileContents(P("bin/quillon.dnb"), data));
  EXPECT_EQ(data, "new");
}

// A file its owner made read-only is not replaced. Root may write any file, so
// as root the save is made as nobody, owner of the folder and the file.
TEST_F(StateFiles, ReadOnlyFileIsNotReplaced) {
  const std::string file = P("bin/quillon.hst");
  ASSERT_TRUE(ReplaceFileContents(file, "old\r\n"));
  fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0) {
      for (const std::string& path : {dir_.Path().string(), P("bin"), file}) {
        if (::chown(path.c_str(), 65534, 65534) != 0) ::_exit(10);
      }
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(10);
    }
    ::_exit(ReplaceFileContents(file, "new\r\n") ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the read-only file was replaced";
  std::string data;
  EXPECT_TRUE(ReadFileContents(file, data));
  EXPECT_EQ(data, "old\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(P("bin")), fs::directory_iterator()), 1);
}

TEST_F(StateFiles, DefaultFilesFollowTheRunningProgram) {
  // The test program's own folder (the build tree) takes files.
  const TFormFiles files = DefaultFormFiles();
  const fs::path self = fs::read_symlink("/proc/self/exe");
  EXPECT_EQ(files.HistoryPath, self.string() + ".hst");
  EXPECT_EQ(files.CachePath, self.string() + ".dnb");
}

}  // namespace
}  // namespace quillon
