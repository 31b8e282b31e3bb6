// Which Qt platform the configuration dialog may use in this process, if any.
// Qt ends the whole process when its platform cannot start, and the process
// here is the host's: so the choice is made, and checked, before Qt sees it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace k2t::linux_platform::qt {

// The environment variables that matter; empty counts as unset.
struct DisplayEnvironment {
  std::string qpa_platform;      // QT_QPA_PLATFORM: "name[:args][;name...]"
  std::string display;           // DISPLAY
  std::string wayland_display;   // WAYLAND_DISPLAY
  std::string session_type;      // XDG_SESSION_TYPE

  static DisplayEnvironment FromProcess();
};

// What can be found out about the machine, supplied by the caller.
struct DisplayChecks {
  std::function<bool(std::string_view name)> plugin_available;  // a Qt platform plugin with that key
  std::function<bool()> x_server_reachable;                    // at DISPLAY
  std::function<bool()> wayland_reachable;                     // at WAYLAND_DISPLAY
};

// The platform to hand Qt ("xcb", "offscreen", ... with any arguments), or none
// when no display is there to show a dialog on. QT_QPA_PLATFORM, when set,
// is followed (its first usable entry); otherwise DISPLAY gives X11 and
// WAYLAND_DISPLAY Wayland, Wayland first in a Wayland session.
std::optional<std::string> ChooseQtPlatform(const DisplayEnvironment& env, const DisplayChecks& checks);

// The checks on this machine.
DisplayChecks SystemDisplayChecks();

}  // namespace k2t::linux_platform::qt
