// Where the running program's own file is: the state files live beside it and
// the version is read back from it.
#pragma once

#include <string>

namespace quillon {

// The full path of the running executable (links resolved), or empty text when
// the system does not tell.
std::string ExecutablePath();

}  // namespace quillon
