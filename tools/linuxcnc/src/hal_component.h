// The bridge as a userspace HAL component, as LinuxCNC's own pendants are:
// k2t.estop-ok, k2t.connected and k2t.watchdog (toggled every tick, for
// LinuxCNC's watchdog component: a userspace component that dies keeps its
// pins' last values).
#pragma once

#include <string>

#include "safety.h"

namespace k2tcnc {

class HalComponent {
 public:
  static constexpr const char* kName = "k2t";

  HalComponent() = default;
  // Sets estop-ok and connected false, then leaves HAL.
  ~HalComponent();
  HalComponent(const HalComponent&) = delete;
  HalComponent& operator=(const HalComponent&) = delete;

  // Makes the component and its pins (all false) and says it is ready.
  // False with `error` when LinuxCNC's HAL does not run (hal_init would
  // make a HAL of the bridge's own, in LinuxCNC's way when it starts) or
  // refuses the component.
  bool Create(std::string& error);
  bool created() const { return id_ > 0; }
  void Set(SafetyPins pins);
  // The watchdog pin's next level.
  void Beat();

 private:
  struct Pins;
  int id_ = 0;
  Pins* pins_ = nullptr;  // in HAL's shared memory
  bool beat_ = false;
};

// Runs `halcmd -i INI -f FILE`, as LinuxCNC runs a GUI's POSTGUI_HALFILE.
// False with `error` when halcmd cannot run or the file fails.
bool RunHalFile(const std::string& ini, const std::string& file, std::string& error);

}  // namespace k2tcnc
