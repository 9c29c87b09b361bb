#include "trace/StateFiles.h"

#include "platform/ExecutablePath.h"

namespace quillon {

std::string ChangeFileExt(const std::string& path, const std::string& extension) {
  const std::size_t cut = LastPathSeparator(path);
  const std::size_t nameStart = cut == std::string::npos ? 0 : cut + 1;
  const std::size_t dot = path.rfind('.');
  // A dot that opens the name (".quillon") starts no extension.
  if (dot == std::string::npos || dot <= nameStart) return path + extension;
  return path.substr(0, dot) + extension;
}

TFormFiles DefaultFormFiles() {
  return FormFilesFor(ExecutablePath(), CurrentStateEnvironment());
}

}  // namespace quillon
