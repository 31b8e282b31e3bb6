// Module-wide state of the pendant behaviour: what outlives one poll tick and
// does not belong to the window (it survives a disconnection unchanged).
#pragma once

#include <array>
#include <cstdint>

namespace k2t {

struct JogModeMemo {
  bool taken = false;  // the host's jog mode was sampled for this jog sequence
  bool was14 = false;
  bool was15 = false;
  bool was57 = false;
  bool sent204 = false;
};

struct BehaviourState {
  // Buttons and function keys.
  std::array<std::int32_t, 4> FunctionKeyCode{};  // [1..3]
  bool ProgramActedSinceStop = false;
  JogModeMemo HostJogModeMemo;
  bool EStopSentLatch = false;
  bool EStopReleasedLatch = false;
  bool StartHoldEnLatch = false;
  bool StopRewindEnLatch = false;
  bool SpindleEnLatch = false;
  std::array<bool, 3> FunctionJogLatch{};      // F1, F2, F3
  std::array<bool, 3> FunctionActionLatch{};   // F1, F2, F3
  bool StopRewindArmed = false;

  // Axis and mode selection.
  std::array<bool, 3> AxisKeyLatch{};  // X, Y, Z
  bool StepJogHold = false;
  std::int32_t JogMode = 2;
  std::array<bool, 4> ModeRearm{};  // [1..3]

  // Handwheel.
  std::uint8_t RawWheelDirection = 0;
  std::int32_t LastWheelDirection = 0;
  double StepJogPercent = 50.0;
  std::int32_t SlowDownDivisor = 0;
  std::array<float, 10> StepSizeValue{};  // [1..9]
  std::array<float, 10> FeedRateValue{};  // [1..9]
};

}  // namespace k2t
