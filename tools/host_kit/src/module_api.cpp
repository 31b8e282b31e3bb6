#include "module_api.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

namespace host_kit {


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

std::string DefaultModulePath(const std::string& program_dir, const std::string& build_dir,
                              const std::string& build_module, const std::string& module_from_program) {
  namespace fs = std::filesystem;
  if (program_dir.empty()) return build_module;
  // The build folder as it is now: it may have been reached through a link.
  std::error_code ec;
  const fs::path built = fs::weakly_canonical(build_dir, ec);
  if (!build_dir.empty() && !ec && built == fs::path(program_dir)) return build_module;
  return (fs::path(program_dir) / module_from_program).lexically_normal().string();
}

std::string ProgramDir() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.parent_path().string();
}

}  // namespace host_kit
