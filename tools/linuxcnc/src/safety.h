// What the bridge tells LinuxCNC's HAL about the pendant, for the machine's
// E-stop chain: estop-ok is false while the pendant's E-stop is active, and
// once the pendant has been there, while it is gone.
#pragma once

namespace k2tcnc {

struct SafetyPins {
  bool estop_ok = false;
  bool connected = false;
};

class PendantSafety {
 public:
  // Every HAL tick: whether the pendant is plugged in now, and whether its
  // E-stop is active as the bridge's latch sees it.
  SafetyPins Update(bool present, bool pendant_estop) {
    seen_ = seen_ || present;
    // A pendant that was never there cannot be pressed; one that went away
    // can no longer be.
    return {!pendant_estop && (present || !seen_), present};
  }

 private:
  bool seen_ = false;
};

}  // namespace k2tcnc
