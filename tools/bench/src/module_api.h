// The module as a host sees it: a shared library opened by path whose entry
// points are resolved one by one by name.
#pragma once

#include <string>

#include "k2t/entry_points.h"

namespace bench {

// The entry points, as include/k2t/entry_points.h lists them.
using ModuleApi = K2tEntryPoints;

// Opens the library and resolves every entry point. On failure returns false
// and says why in `error`, naming the library and every missing entry point.
// The library stays loaded for the life of the process, as a host keeps its
// plug-ins.
bool LoadModule(const std::string& path, ModuleApi& api, std::string& error);

}  // namespace bench
