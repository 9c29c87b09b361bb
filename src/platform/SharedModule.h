// Loading one of the program's own modules at run time: the window lives in a
// module that only a run that opens the window loads.
#pragma once

#include <string>

namespace quillon {

// Loads the module at path (it stays loaded until the process ends) and returns
// the address of its function name; nullptr when the module, a library it needs,
// or the function is missing.
void* LoadModuleFunction(const std::string& path, const char* name);

}  // namespace quillon
