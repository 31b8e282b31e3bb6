// The behaviour's state that belongs to one pendant window: it starts anew
// with every InitControl, unlike the module-wide BehaviourState. Only the
// behaviour writes it; the display and the link read some of it.
#pragma once

#include <array>
#include <cstdint>

namespace k2t {

// What the handwheel is doing: the steps of the current report, the step
// jog's saved overrides, and the host jog the velocity and continuous modes
// drive.
struct HandwheelState {
  std::int32_t WheelRate = 0;  // bits 16..23 of the report being decoded
  bool WheelTurning = false;
  bool WheelTurningBefore = false;
  std::int32_t WheelSteps = 0;
  std::int32_t WheelDirection = 0;
  std::int32_t DelayCount = 0;
  std::int32_t VelocityJogDirection = 0;
  std::int32_t StepJogDirection = 0;
  std::int32_t StepHistoryIndex = 0;
  std::array<double, 5> StepHistory{};
  std::array<double, 10> RateHistory{};
  double RateSum = 0.0;
  double SpeedFraction = 0.0;
  double SavedFeedRate = 0.0;
  double SavedFeedOverride = 0.0;
  bool OverridesSaved = false;  // saved values await their restore
  bool HostJogActive = false;
  bool JogModeSwitched = false;
};

// The chosen position (1..9) of each nine-position table, and the screen
// cycle's slot.
struct TablePositions {
  std::int32_t StepSizePos = 1;
  std::int32_t ScreenSlot = 1;
  std::int32_t SlowJogPos = 1;
  std::int32_t FeedRatePos = 1;
  std::int32_t FeedOverridePos = 1;
  std::int32_t SpindlePos = 1;
};

}  // namespace k2t
