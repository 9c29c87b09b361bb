#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "cli/CliOptions.h"

namespace quillon {
namespace {

// A listening socket where a local X server of that number would listen.
class FakeXServer {
 public:
  explicit FakeXServer(int number) : path_("/tmp/.X11-unix/X" + std::to_string(number)) {
    ::mkdir("/tmp/.X11-unix", 01777);
    fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path_.copy(address.sun_path, path_.size());
    ::unlink(path_.c_str());
    ok_ = ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
          ::listen(fd_, 1) == 0;
  }
  ~FakeXServer() {
    ::close(fd_);
    ::unlink(path_.c_str());
  }
  bool ok() const { return ok_; }

 private:
  std::string path_;
  int fd_ = -1;
  bool ok_ = false;
};

TEST(DisplayReachable, LocalXDisplayNeedsItsSocketToAnswer) {
  const int number = 4000 + static_cast<int>(::getpid() % 1000);
  const std::string display = ":" + std::to_string(number);
  EXPECT_FALSE(DisplayReachable(display.c_str(), nullptr, nullptr));
  FakeXServer server(number);
  if (!server.ok()) GTEST_SKIP() << "cannot listen in /tmp/.X11-unix";
  EXPECT_TRUE(DisplayReachable(display.c_str(), nullptr, nullptr));
  EXPECT_TRUE(DisplayReachable((display + ".0").c_str(), nullptr, nullptr));
  EXPECT_TRUE(DisplayReachable(("unix" + display).c_str(), nullptr, nullptr));
}

TEST(DisplayReachable, RemoteDisplaysAreLeftToTheToolkitAndNonsenseIsRefused) {
  EXPECT_TRUE(DisplayReachable("otherhost:10.0", nullptr, nullptr));
  EXPECT_FALSE(DisplayReachable("", nullptr, nullptr));
  EXPECT_FALSE(DisplayReachable(nullptr, nullptr, nullptr));
  EXPECT_FALSE(DisplayReachable("garbage", nullptr, nullptr));
  EXPECT_FALSE(DisplayReachable(":x", nullptr, nullptr));
}

TEST(DisplayReachable, WaylandNeedsItsSocketInTheRuntimeFolder) {
  char dir[] = "/tmp/quillon-wayland-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  EXPECT_FALSE(DisplayReachable(nullptr, "wayland-7", dir));
  const std::string socketPath = std::string(dir) + "/wayland-7";
  std::FILE* f = std::fopen(socketPath.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_TRUE(DisplayReachable(nullptr, "wayland-7", dir));
  ::unlink(socketPath.c_str());
  ::rmdir(dir);
}

}  // namespace
}  // namespace quillon
