// History files that cannot be written in full, or not at all (Linux: a file
// size limit, a read-only folder).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "trace/HostHistory.h"
#include "unit/trace/HistoryFileFixture.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

TEST_F(HistoryFile, AFailedWriteLeavesTheOldHistoryWhole) {
  const std::string path = PathOf("q.hst");
  const Lines old{"one.test", "two.test", "three.test"};
  ASSERT_TRUE(WriteHostHistory(path, old));
  const std::string before = Contents(path);

  // Let the disk "fill up" after a few bytes: the new text cannot be written
  // in full, which works for root as well as for anyone else.
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit tight = saved;
  tight.rlim_cur = 8;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tight), 0);
  const bool written = WriteHostHistory(path, {"a-much-longer-host-name.test", "one.test"});
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);

  EXPECT_FALSE(written);
  EXPECT_EQ(Contents(path), before);
  Lines read;
  ASSERT_TRUE(ReadHostHistory(path, read));
  EXPECT_EQ(read, old);
  // No temporary file is left beside it.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.Path()), fs::directory_iterator{}), 1);
}

TEST_F(HistoryFile, SavingIntoAReadOnlyDirectoryLeavesTheOldHistoryWhole) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only directories anyway";
  const std::string path = PathOf("q.hst");
  ASSERT_TRUE(WriteHostHistory(path, {"old.test"}));
  fs::permissions(dir_.Path(), fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_FALSE(WriteHostHistory(path, {"new.test", "old.test"}));
  fs::permissions(dir_.Path(), fs::perms::owner_all);
  EXPECT_EQ(Contents(path), "old.test\r\n");
}

}  // namespace
}  // namespace quillon
