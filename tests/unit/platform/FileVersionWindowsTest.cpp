// The version resource of the built quillon.exe, read back with the system's
// version calls.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/FileVersion.h"

namespace quillon {
namespace {

TEST(FileVersionResource, ReadsTheProgramsFileVersion) {
  const char* build = std::getenv("QUILLON_BINARY_DIR");
  if (build == nullptr || *build == '\0') GTEST_SKIP() << "QUILLON_BINARY_DIR is not set";
  const std::filesystem::path program = std::filesystem::path(build) / "app" / "quillon.exe";
  ASSERT_TRUE(std::filesystem::exists(program)) << program;
  EXPECT_EQ(ReadFileVersionFrom(program.string()), "0.8.0.0");
  EXPECT_EQ(ReadFileVersionFrom((program.parent_path() / "no-such.exe").string()), "");
  // A test program has no resource, and nothing else stands in for one.
  EXPECT_EQ(ReadFileVersion(), "");
}

}  // namespace
}  // namespace quillon
