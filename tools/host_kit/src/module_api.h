// The module as a host sees it: a shared library opened by path whose entry
// points are resolved one by one by name.
#pragma once

#include <string>

#include "k2t/entry_points.h"

namespace host_kit {

// The entry points, as include/k2t/entry_points.h lists them.
using ModuleApi = K2tEntryPoints;

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

}  // namespace host_kit
