#include "module_api.h"

#include <dlfcn.h>

#include <cstring>
#include <filesystem>
#include <system_error>

namespace bench {

namespace {

// Every entry point by its exported name and the slot its address goes to.
template <class Fn>
bool Resolve(void* handle, const char* name, Fn& slot, std::string& missing) {
  dlerror();
  void* symbol = dlsym(handle, name);
  if (!symbol) {
    missing += missing.empty() ? "" : ", ";
    missing += name;
    return false;
  }
  static_assert(sizeof slot == sizeof symbol);
  std::memcpy(&slot, &symbol, sizeof slot);
  return true;
}

}  // namespace

bool LoadModule(const std::string& path, ModuleApi& api, std::string& error) {
  // RTLD_NOW: an unresolved dependency is reported here, not at the first call.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    error = "cannot load the module " + path + ": " + (why ? why : "unknown error");
    return false;
  }
  std::string missing;
  Resolve(handle, "InitControl", api.InitControl, missing);
  Resolve(handle, "SetProName", api.SetProName, missing);
  Resolve(handle, "PostInitControl", api.PostInitControl, missing);
  Resolve(handle, "Config", api.Config, missing);
  Resolve(handle, "Update", api.Update, missing);
  Resolve(handle, "StopPlug", api.StopPlug, missing);
  Resolve(handle, "SetDoButton", api.SetDoButton, missing);
  Resolve(handle, "SetSetDRO", api.SetSetDRO, missing);
  Resolve(handle, "SetGetDRO", api.SetGetDRO, missing);
  Resolve(handle, "SetGetLED", api.SetGetLED, missing);
  Resolve(handle, "SetSetLED", api.SetSetLED, missing);
  Resolve(handle, "SetCode", api.SetCode, missing);
  Resolve(handle, "DoDwell", api.DoDwell, missing);
  Resolve(handle, "Reset", api.Reset, missing);
  Resolve(handle, "JogOn", api.JogOn, missing);
  Resolve(handle, "JogOff", api.JogOff, missing);
  Resolve(handle, "Purge", api.Purge, missing);
  Resolve(handle, "Probe", api.Probe, missing);
  Resolve(handle, "Home", api.Home, missing);
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

}  // namespace bench
