// The version block of an ELF executable, in the section the build put it in.
#include <fcntl.h>
#include <unistd.h>

#include "platform/FileVersion.h"
#include "platform/VersionInfo.h"

namespace quillon {

std::string ReadFileVersionFrom(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  const TReadAt read = [fd](std::uint64_t offset, std::size_t length, std::string& out) {
    out.assign(length, '\0');
    std::size_t done = 0;
    while (done < length) {
      const ssize_t n =
          pread(fd, out.data() + done, length - done, static_cast<off_t>(offset + done));
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  };
  std::string result;
  try {
    if (const auto block = ReadElfSection(read, VersionSectionName)) {
      result = QueryVersionText(*block, std::string("StringFileInfo\\") +
                                            std::string(VersionStringBlockKey) + "\\FileVersion")
                   .value_or(std::string{});
    }
  } catch (...) {
    result.clear();  // an allocation failure on a damaged file: no version
  }
  close(fd);
  return result;
}

}  // namespace quillon
