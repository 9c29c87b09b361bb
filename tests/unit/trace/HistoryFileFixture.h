// A folder of its own for each history file test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/AtomicFile.h"
#include "support/TempDir.h"

namespace quillon {

class HistoryFile : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& name) const { return dir_.File(name); }
  static std::string Contents(const std::string& path) {
    std::string data;
    EXPECT_TRUE(ReadFileContents(path, data)) << path;
    return data;
  }

  TTempDir dir_{"quillon-history"};
};

}  // namespace quillon
