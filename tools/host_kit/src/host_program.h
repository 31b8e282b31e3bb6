// What a host program's main shares: its version and the module it loads
// when none is named. The build defines, for each program
// (k2t_host_program), its build folder, the module built with it, and the
// installed module's path from the program's folder.
#pragma once

#include <string>

#include "module_api.h"

#ifndef K2T_BUILD_DIR
#define K2T_BUILD_DIR ""
#define K2T_BUILD_MODULE "K2TPendant.so"
#define K2T_MODULE_FROM_BIN "../lib/k2t/K2TPendant.so"
#endif
#ifndef K2T_VERSION
#define K2T_VERSION "unknown"
#endif

// One copy per program's main, each with its program's values.
namespace {

std::string DefaultModule() {
  return host_kit::DefaultModulePath(host_kit::ProgramDir(), K2T_BUILD_DIR, K2T_BUILD_MODULE, K2T_MODULE_FROM_BIN);
}

}  // namespace
