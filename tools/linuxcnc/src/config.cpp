#include "config.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <utility>

namespace k2tcnc {

namespace {

constexpr const char* kSection = "K2T";

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const auto last = s.find_last_not_of(" \t\r\n");
  return s.substr(first, last - first + 1);
}

std::optional<double> ParseDouble(const std::string& text) {
  const std::string t = Trim(text);
  double value = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
  if (ec != std::errc() || end != t.data() + t.size()) return std::nullopt;
  return value;
}

std::string Resolve(const std::string& path, const std::string& dir) {
  if (path.empty() || path[0] == '/' || dir.empty()) return path;
  return dir + "/" + path;
}

// The axis letters in joint order, as trivkins numbers its joints: its
// coordinates= argument, else [TRAJ]COORDINATES, else trivkins' default.
std::string JointLetters(const IniLookup& ini) {
  std::string letters;
  if (const auto kins = ini("KINS", "KINEMATICS")) {
    const std::size_t at = kins->find("coordinates=");
    if (at != std::string::npos) {
      const std::size_t from = at + 12;
      letters = kins->substr(from, kins->find_first_of(" \t", from) - from);
    }
  }
  if (letters.empty()) letters = ini("TRAJ", "COORDINATES").value_or("XYZABCUVW");
  std::string out;
  for (const char c : letters)
    if (c != ' ' && c != '\t') out += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  return out;
}

}  // namespace

bool LoadConfig(const IniLookup& ini, const std::string& ini_dir, BridgeConfig& config, std::string& error) {
  auto text = [&](const char* section, const char* key) -> std::optional<std::string> {
    auto v = ini(section, key);
    if (v) *v = Trim(*v);
    return v && !v->empty() ? v : std::nullopt;
  };
  // A number from the INI, or the default; false when present but unusable.
  auto number = [&](const char* section, const char* key, double& out, double low, double high) {
    const auto v = text(section, key);
    if (!v) return true;
    const auto d = ParseDouble(*v);
    if (!d || !(*d >= low && *d <= high)) {
      error = "[" + std::string(section) + "]" + key + " = " + *v + " is not a number from " +
              std::to_string(low) + " to " + std::to_string(high);
      return false;
    }
    out = *d;
    return true;
  };

  if (auto v = text(kSection, "MODULE")) config.module_path = Resolve(*v, ini_dir);
  if (auto v = text(kSection, "PENDANT")) {
    if (*v == "virtual") config.virtual_pendant = true;
    else if (*v == "real") config.virtual_pendant = false;
    else {
      error = "[K2T]PENDANT = " + *v + ": use real or virtual";
      return false;
    }
  }
  if (auto v = text(kSection, "PROFILE")) config.profile_path = Resolve(*v, ini_dir);
  else config.profile_path = Resolve("k2t-pendant.xml", ini_dir);
  if (auto v = text(kSection, "PROGRAM")) config.program = Resolve(*v, ini_dir);
  if (auto v = text("EMC", "NML_FILE")) config.nml_file = Resolve(*v, ini_dir);
  if (auto v = text(kSection, "HALFILE")) config.hal_file = Resolve(*v, ini_dir);
  if (auto v = text("DISPLAY", "DISPLAY")) config.display_program = *v;

  if (!number(kSection, "UPDATE_HZ", config.update_hz, 1, 1000)) return false;
  double safe_z = 0;
  if (text(kSection, "SAFE_Z")) {
    if (!number(kSection, "SAFE_Z", safe_z, -1e6, 1e6)) return false;
    config.safe_z = safe_z;
  }
  if (!number(kSection, "STEPS_PER_UNIT", config.steps_per_unit, 1, 1e7)) return false;
  if (!number(kSection, "SPINDLE_SPEED", config.spindle_speed, 0, 1e6)) return false;
  if (!number(kSection, "JOG_RATE", config.jog_rate, 0.1, 100)) return false;

  const std::string joints = JointLetters(ini);
  for (int a = 0; a < kAxes; ++a) {
    const std::string section = std::string("AXIS_") + kAxisLetters[a];
    const auto i = static_cast<std::size_t>(a);
    const std::size_t joint = joints.find(kAxisLetters[a]);
    if (joint != std::string::npos && joints.find(kAxisLetters[a], joint + 1) == std::string::npos) {
      config.joint_of_axis[i] = static_cast<int>(joint);
      double home = 0;
      if (!number(("JOINT_" + std::to_string(joint)).c_str(), "HOME", home, -1e9, 1e9)) return false;
      config.home[i] = home;
    }
    if (!number(section.c_str(), "MAX_VELOCITY", config.max_velocity[i], 0, 1e6)) return false;
    if (!number(section.c_str(), "MAX_ACCELERATION", config.max_acceleration[i], 0, 1e9)) return false;
    // The module takes both as 32-bit step counts.
    for (const auto& [key, value] : {std::pair{"MAX_VELOCITY", config.max_velocity[i]},
                                     std::pair{"MAX_ACCELERATION", config.max_acceleration[i]}}) {
      if (value * config.steps_per_unit > static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
        error = "[" + section + "]" + key + " times [K2T]STEPS_PER_UNIT is more than the pendant's 32-bit step "
                "counts hold (2147483647): lower [K2T]STEPS_PER_UNIT";
        return false;
      }
    }
  }
  return true;
}

}  // namespace k2tcnc
