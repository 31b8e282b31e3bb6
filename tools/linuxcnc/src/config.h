// The bridge's settings, read the LinuxCNC way: the [K2T] section of the
// machine's INI file, the axis limits from its [AXIS_x] sections.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>

#include "model.h"

namespace k2tcnc {

struct BridgeConfig {
  std::string module_path;   // K2TPendant.so
  bool virtual_pendant = false;
  std::string profile_path;  // the module's XML profile
  std::string program;       // what cycle start runs when no program is loaded
  std::string nml_file;
  double steps_per_unit = 1000;  // the integer scale of the module's jog blocks
  double spindle_speed = 1000;   // spindle on without an S in effect
  double jog_rate = 50;          // start value of the jog rate (DRO 3), percent
  double update_hz = 10;         // host Update calls per second
  std::array<double, kAxes> max_velocity{};      // units per second
  std::array<double, kAxes> max_acceleration{};  // units per second squared
};

// Looks a key up in a section; nullopt when absent.
using IniLookup = std::function<std::optional<std::string>(const std::string& section, const std::string& key)>;

// Fills `config` from the INI. Relative paths are taken relative to
// `ini_dir`. Returns false with a message naming the section and key when a
// value is unusable.
bool LoadConfig(const IniLookup& ini, const std::string& ini_dir, BridgeConfig& config, std::string& error);

}  // namespace k2tcnc
