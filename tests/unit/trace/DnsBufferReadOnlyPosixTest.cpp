// A name cache file that refuses writing still loads (Linux: permission bits,
// and for root an immutable file).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/TempDir.h"
#include "trace/DnsBuffer.h"
#include "unit/trace/DnsRecordText.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

class DnsBufferReadOnlyFile : public ::testing::Test {
 protected:
  void TearDown() override {
    if (immutable_) SetImmutable(path_, false);
  }

  void WriteAll(const std::string& data) const {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
  }

  static bool SetImmutable(const std::string& path, bool on) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
      flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
      done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return done;
  }

  TTempDir dir_{"quillon-dnb"};
  std::string path_ = dir_.File("quillon.dnb");
  bool immutable_ = false;
};

TEST_F(DnsBufferReadOnlyFile, ReadOnlyFileLoads) {
  WriteAll(HandMadeRecord("192.0.2.9", "ro.example", FixedDateBytes));
  fs::permissions(path_, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  // Root ignores permission bits; an immutable file refuses writing even to root.
  immutable_ = ::geteuid() == 0 && SetImmutable(path_, true);
  const int fd = ::open(path_.c_str(), O_RDWR);
  const bool writable = fd >= 0;
  if (writable) ::close(fd);
  if (::geteuid() != 0 || immutable_) {
    EXPECT_FALSE(writable);  // the file really refuses write access
  }
  TDnsBuffer cache;
  cache.LoadFromFile(path_);
  EXPECT_EQ(cache.Count(), 1);
  EXPECT_EQ(cache.FindName("192.0.2.9"), "ro.example");
}

}  // namespace
}  // namespace quillon
