// Saving over a file on Windows when ReplaceFileW stops half way: the new data
// must end up in place, or at least the old file stay whole, and no stray file
// be left behind.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/FileSystemWindows.h"
#include "support/TempDir.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

// The failure the stand-in for ReplaceFileW acts out.
DWORD gFailure = 0;

// Leaves the files as the system documents for each failure of a call given
// a backup name: with ERROR_UNABLE_TO_MOVE_REPLACEMENT both keep their names
// (the old file whole in its place), with ERROR_UNABLE_TO_MOVE_REPLACEMENT_2
// the old file is under the backup name and the new one not moved in.
BOOL WINAPI FailingReplace(LPCWSTR replaced, LPCWSTR, LPCWSTR backup, DWORD, LPVOID, LPVOID) {
  if (gFailure == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) MoveFileW(replaced, backup);
  SetLastError(gFailure);
  return FALSE;
}

class AtomicFileWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ReplaceFileContents(path_, "old data"));
    SetReplaceFileForTesting(&FailingReplace);
  }
  void TearDown() override { SetReplaceFileForTesting(nullptr); }

  static std::string Contents(const std::string& path) {
    std::string data;
    EXPECT_TRUE(ReadFileContents(path, data));
    return data;
  }
  std::string Contents() const { return Contents(path_); }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_.Path()))
      names.push_back(entry.path().filename().string());
    return names;
  }

  TTempDir dir_{"quillon-save"};
  std::string path_ = dir_.File("quillon.dnb");
};

// A replacement left unmoved is moved into place; any other failure keeps the
// old file. Either way no temporary file is left.
TEST_F(AtomicFileWindows, HalfDoneReplaceEndsWithTheNewFileOrTheOld) {
  const std::pair<DWORD, bool> cases[] = {{ERROR_SHARING_VIOLATION, false},
                                          {ERROR_UNABLE_TO_MOVE_REPLACEMENT, true},
                                          {ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, true}};
  std::string now = "old data";
  for (const auto& [failure, saved] : cases) {
    SCOPED_TRACE(failure);
    gFailure = failure;
    const std::string data = "new data " + std::to_string(failure);
    EXPECT_EQ(ReplaceFileContents(path_, data), saved);
    if (saved) now = data;
    EXPECT_EQ(Contents(), now);
    EXPECT_EQ(Files(), std::vector<std::string>{"quillon.dnb"});
  }

  // A read-only file is left as it is, and the save says it failed.
  SetReplaceFileForTesting(nullptr);
  const std::wstring wide = SystemPath(path_);
  ASSERT_TRUE(SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(ReplaceFileContents(path_, "read-only"));
  EXPECT_EQ(Contents(), now);
  EXPECT_EQ(Files(), std::vector<std::string>{"quillon.dnb"});
  SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(AtomicFileWindows, PathsPastMaxPathAreSavedAndRead) {
  SetReplaceFileForTesting(nullptr);
  std::string deep = dir_.Path().string();
  for (int level = 0; level < 5; ++level) {
    deep += "\\" + std::string(60, static_cast<char>('a' + level));
    ASSERT_TRUE(CreateDirectoryW(SystemPath(deep).c_str(), nullptr)) << GetLastError();
  }
  const std::string file = deep + "\\quillon.hst";
  ASSERT_GT(file.size(), static_cast<std::size_t>(MAX_PATH));
  EXPECT_TRUE(ReplaceFileContents(file, "first"));
  EXPECT_TRUE(ReplaceFileContents(file, "second"));
  EXPECT_EQ(Contents(file), "second");
}

}  // namespace
}  // namespace quillon
