// All module-wide state in one object, and the logic of the exported entry
// points. The shared library forwards its exports to one static instance;
// tests make their own.
#pragma once

#include <memory>
#include <string>

#include "behaviour/behaviour_state.h"
#include "link/drovik_win.h"
#include "link/input_decoder.h"
#include "plugin/host.h"
#include "plugin/platform.h"
#include "plugin/update_counters.h"
#include "settings/pendant_settings.h"
#include "settings/profile_store.h"

namespace k2t {

inline constexpr const char* kFixedTitle = " Pendant --Brennlow Ver 4.0.0";

class Module {
 public:
  explicit Module(Platform& platform);
  ~Module();
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  bool InitControl(void* motion, void* setup, void* planner, void* host_window);
  char* SetProName(const char* profile_name);
  void PostInitControl();
  void Config();
  void Update();
  void StopPlug();

  DrovikWin* window() { return window_.get(); }
  const std::string& ProfileName() const { return profile_name_; }

  Host host;
  PendantSettings settings;
  UpdateCounters counters;
  InputState input;
  BehaviourState behaviour;

 private:
  std::unique_ptr<ProfileStore> CreateStore();
  void BuildTitle();

  Platform& platform_;
  void* host_window_ = nullptr;
  std::string profile_name_;
  std::unique_ptr<DrovikWin> window_;
  // The title lives in the module's storage: the pointer SetProName returns
  // stays valid, and a later call rewrites the same bytes.
  char title_[4096 + 64] = {};
};

// The module's file name without its extension.
std::string_view ModuleBaseName(std::string_view file_name);

}  // namespace k2t
