// Where the state files go on Windows: beside the program when its folder
// takes files, else in the user's local application-data folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/TempDir.h"
#include "trace/StateFiles.h"
// After the engine's headers, whose message names windows.h takes as macros.
#include "platform/AtomicFile.h"
#include "platform/FileSystemWindows.h"

namespace quillon {
namespace {

TEST(StateFilesWindows, BesideAWritableProgramElseInLocalAppData) {
  TTempDir dir("quillon-state");
  const std::string folder = dir.Path().string();
  TStateEnvironment env;
  env.LocalAppData = dir.File("appdata");
  std::filesystem::create_directory(env.LocalAppData);

  const TFormFiles beside = FormFilesFor(folder + "\\quillon.exe", env);
  EXPECT_EQ(beside.HistoryPath, folder + "\\quillon.hst");
  EXPECT_EQ(beside.CachePath, folder + "\\quillon.dnb");

  // A folder that takes no files (here: one that is not there).
  const TFormFiles moved = FormFilesFor(folder + "\\missing\\quillon.exe", env);
  EXPECT_EQ(moved.HistoryPath, env.LocalAppData + "\\Quillon\\quillon.hst");
  EXPECT_EQ(moved.CachePath, env.LocalAppData + "\\Quillon\\quillon.dnb");
  EXPECT_TRUE(std::filesystem::is_directory(env.LocalAppData + "\\Quillon"));

  // Nor does a folder named where a plain file is.
  ASSERT_TRUE(ReplaceFileContents(dir.File("file"), "not a folder"));
  EXPECT_EQ(FormFilesFor(folder + "\\file\\quillon.exe", env).HistoryPath,
            env.LocalAppData + "\\Quillon\\quillon.hst");

  // A program folder deeper than MAX_PATH takes its files all the same.
  std::string deep = folder;
  for (int level = 0; level < 5; ++level) {
    deep += "\\" + std::string(60, static_cast<char>('a' + level));
    ASSERT_TRUE(CreateDirectoryW(SystemPath(deep).c_str(), nullptr));
  }
  EXPECT_EQ(FormFilesFor(deep + "\\quillon.exe", env).CachePath, deep + "\\quillon.dnb");

  // Installed under Program Files (in letters of another case): the user's
  // folder, though this user may write there, as an administrator may. A
  // folder that only begins with its name is none.
  std::filesystem::create_directories(dir.File("Programs\\Quillon"));
  std::filesystem::create_directories(dir.File("Programs2"));
  env.ProgramFolders = {"C:\\nowhere", folder + "\\PROGRAMS\\"};
  EXPECT_EQ(FormFilesFor(dir.File("Programs\\Quillon\\quillon.exe"), env).CachePath,
            env.LocalAppData + "\\Quillon\\quillon.dnb");
  EXPECT_EQ(FormFilesFor(dir.File("Programs2\\quillon.exe"), env).CachePath,
            dir.File("Programs2\\quillon.dnb"));
  env.ProgramFolders.clear();

  // The shell's local application-data and Program Files folders, not
  // environment variables.
  SetEnvironmentVariableW(L"LOCALAPPDATA", L"C:\\nowhere");
  const TStateEnvironment current = CurrentStateEnvironment();
  const std::string found = current.LocalAppData;
  EXPECT_NE(found, "C:\\nowhere");
  EXPECT_TRUE(std::filesystem::is_directory(found)) << found;
  ASSERT_FALSE(current.ProgramFolders.empty());
  EXPECT_TRUE(std::filesystem::is_directory(current.ProgramFolders.front()));

  // Without a usable local application-data folder they stay beside it.
  env.LocalAppData = "relative";
  EXPECT_EQ(FormFilesFor(folder + "\\missing\\quillon.exe", env).HistoryPath,
            folder + "\\missing\\quillon.hst");
  EXPECT_EQ(ChangeFileExt("C:\\a.b\\quillon", ".hst"), "C:\\a.b\\quillon.hst");
}

}  // namespace
}  // namespace quillon
