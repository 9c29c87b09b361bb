// A fresh folder of its own for one test, removed with everything in it when
// the test ends. Permissions are given back first, so that files and folders a
// test made read-only go too.
#pragma once

#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>

namespace quillon {

class TTempDir {
 public:
  explicit TTempDir(const std::string& label = "quillon") {
    // Making the folder is the test of its being new, as mkdtemp does it.
    std::random_device seed;
    std::mt19937_64 draw(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
      path_ = std::filesystem::temp_directory_path() /
              (label + "-" + std::to_string(draw() % 1000000000));
      if (std::filesystem::create_directory(path_)) return;
    }
    throw std::runtime_error("no new temporary folder for " + label);
  }
  ~TTempDir() {
    namespace fs = std::filesystem;
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(path_, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  // The full path of a file in the folder, as text.
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace quillon
