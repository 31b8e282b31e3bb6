// The module as a host sees it: a shared library opened by path whose entry
// points are resolved one by one by name.
#pragma once

#include <string>

#include "k2t/plugin.h"

namespace bench {

struct ModuleApi {
  bool (*InitControl)(void*, void*, void*, void*) = nullptr;
  char* (*SetProName)(const char*) = nullptr;
  void (*PostInitControl)() = nullptr;
  void (*Config)() = nullptr;
  void (*Update)() = nullptr;
  void (*StopPlug)() = nullptr;
  void (*SetDoButton)(K2tDoButton) = nullptr;
  void (*SetSetDRO)(K2tSetDRO) = nullptr;
  void (*SetGetDRO)(K2tGetDRO) = nullptr;
  void (*SetGetLED)(K2tGetLED) = nullptr;
  void (*SetSetLED)(K2tSetLED) = nullptr;
  void (*SetCode)(K2tCode) = nullptr;
  void (*DoDwell)() = nullptr;
  void (*Reset)() = nullptr;
  void (*JogOn)() = nullptr;
  void (*JogOff)() = nullptr;
  void (*Purge)() = nullptr;
  void (*Probe)() = nullptr;
  void (*Home)() = nullptr;
};

// Opens the library and resolves every entry point. On failure returns false
// and says why in `error`, naming the library and every missing entry point.
// The library stays loaded for the life of the process, as a host keeps its
// plug-ins.
bool LoadModule(const std::string& path, ModuleApi& api, std::string& error);

// The module a host program loads when none is named. Run from its build
// folder (build_dir), the program takes the module built with it; installed,
// it takes the module installed with it, found from its own folder through
// module_from_program (a path relative to the program's folder), so an
// installed tree works wherever it was unpacked. Without a program folder,
// the built module.
std::string DefaultModulePath(const std::string& program_dir, const std::string& build_dir,
                              const std::string& build_module, const std::string& module_from_program);

// The folder of the running program, or "" when it cannot be told.
std::string ProgramDir();

}  // namespace bench
