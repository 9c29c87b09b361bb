// Where the state files go on Windows: beside the program when its folder
// takes files, else in the user's local application-data folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/TempDir.h"
#include "trace/StateFiles.h"

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

  // Without a usable local application-data folder they stay beside it.
  env.LocalAppData = "relative";
  EXPECT_EQ(FormFilesFor(folder + "\\missing\\quillon.exe", env).HistoryPath,
            folder + "\\missing\\quillon.hst");
  EXPECT_EQ(ChangeFileExt("C:\\a.b\\quillon", ".hst"), "C:\\a.b\\quillon.hst");
}

}  // namespace
}  // namespace quillon
