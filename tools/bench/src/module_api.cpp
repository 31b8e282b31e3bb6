#include "module_api.h"

#include <dlfcn.h>


namespace bench {


bool LoadModule(const std::string& path, ModuleApi& api, std::string& error) {
  // RTLD_NOW: an unresolved dependency is reported here, not at the first call.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    error = "cannot load the module " + path + ": " + (why ? why : "unknown error");
    return false;
  }
  const std::string missing = k2t::ResolveEntryPoints(
      [handle](const char* name) {
        dlerror();
        return dlsym(handle, name);
      },
      api);
  if (!missing.empty()) {
    const bool several = missing.find(',') != std::string::npos;
    error = "the module " + path + " does not export the entry point" + (several ? "s " : " ") + missing;
    dlclose(handle);
    return false;
  }
  return true;
}

}  // namespace bench
