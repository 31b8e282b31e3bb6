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
  std::string hal_file;          // run once the bridge's HAL pins exist
  std::string display_program;   // [DISPLAY]DISPLAY, the program LinuxCNC runs as its display
  bool display = false;          // that program is this bridge: nobody else reads LinuxCNC's errors
  double steps_per_unit = 1000;  // the integer scale of the module's jog blocks
  double spindle_speed = 1000;   // spindle on without an S in effect
  double jog_rate = 50;          // start value of the jog rate (DRO 3), percent
  // Host Update calls per second: the pendant's own poll rate. The module
  // counts the settling after a wheel reversal in Update calls; at a GUI's
  // 10 a second, a reversal within 0.4 s would lose its detents.
  double update_hz = 40;
  std::optional<double> safe_z;  // machine Z of Goto Safe Z
  std::array<double, kAxes> max_velocity{};      // units per second
  std::array<double, kAxes> max_acceleration{};  // units per second squared
  // On identity kinematics: the joint each axis is on (-1: none, or shared
  // as a gantry's), and that joint's home position in machine coordinates.
  std::array<int, kAxes> joint_of_axis{-1, -1, -1, -1, -1, -1};
  std::array<std::optional<double>, kAxes> home{};
};

// Looks a key up in a section; nullopt when absent.
using IniLookup = std::function<std::optional<std::string>(const std::string& section, const std::string& key)>;

// Fills `config` from the INI. Relative paths are taken relative to
// `ini_dir`. Returns false with a message naming the section and key when a
// value is unusable.
bool LoadConfig(const IniLookup& ini, const std::string& ini_dir, BridgeConfig& config, std::string& error);

}  // namespace k2tcnc
