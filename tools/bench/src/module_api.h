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

}  // namespace bench
