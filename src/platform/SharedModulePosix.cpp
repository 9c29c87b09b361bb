#include <dlfcn.h>

#include "platform/SharedModule.h"

namespace quillon {

void* LoadModuleFunction(const std::string& path, const char* name) {
  // RTLD_NOW: a library the module needs that is missing, or too old, fails
  // here rather than at some later call. RTLD_LOCAL: the module's symbols stay
  // its own.
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  return module != nullptr ? dlsym(module, name) : nullptr;
}

}  // namespace quillon
