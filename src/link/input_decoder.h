// Decoding of the pendant's 8-byte input report into switch and key states,
// with press, double-press and long-hold detection for F1, F2, F3 and EN.
#pragma once

#include <array>
#include <cstdint>

namespace k2t {

// Inputs with press detection, in the order they are stepped and detected.
enum PressInput { kInputF1 = 0, kInputF2 = 1, kInputF3 = 2, kInputEn = 3 };

// Press detection of one input. The counters are stepped once per poll tick
// (connected or not) before detection runs on decoded ticks.
struct PressDetector {
  std::int32_t PressTicks = 0;  // ticks since the current press began
  std::int32_t GapTicks = 0;    // ticks since the last short press ended
  bool AwaitingPress = false;
  bool PressSeen = false;
  bool DoubleLatch = false;
  bool DoublePress = false;  // the current press is the second of a double press
  bool LongHold = false;     // the current press has lasted more than 12 ticks

  void Detect(bool pressed);
};

// Report word 0 bits.
inline constexpr std::uint32_t kWheelCounterShift = 8;
inline constexpr std::uint32_t kWheelRateShift = 16;
inline constexpr std::uint32_t kEStopBit = 1u << 24;
inline constexpr std::uint32_t kSpindleBit = 1u << 25;
inline constexpr std::uint32_t kStartHoldBit = 1u << 26;
inline constexpr std::uint32_t kStopRewindBit = 1u << 27;
inline constexpr std::uint32_t kEnBit = 1u << 28;
inline constexpr std::uint32_t kXKeyBit = 1u << 29;
inline constexpr std::uint32_t kYKeyBit = 1u << 30;
inline constexpr std::uint32_t kZKeyBit = 1u << 31;
// Report word 1 bits.
inline constexpr std::uint32_t kModeCodeMask = 0x7;
inline constexpr std::uint32_t kF1Bit = 1u << 4;
inline constexpr std::uint32_t kF2Bit = 1u << 5;
inline constexpr std::uint32_t kF3Bit = 1u << 7;

inline std::uint32_t WheelCounterOf(std::uint32_t word0) { return (word0 >> kWheelCounterShift) & 0xFF; }
inline std::uint32_t WheelRateOf(std::uint32_t word0) { return (word0 >> kWheelRateShift) & 0xFF; }
inline bool EStopOf(std::uint32_t word0) { return (word0 & kEStopBit) != 0; }

// Module-wide input state: the poll-tick counters and the decoded inputs.
struct InputState {
  std::int32_t PollHoldoff = 0;
  std::array<PressDetector, 4> press{};
  bool EStopSwitch = false;
  bool SpindleKey = false;
  bool StartHoldKey = false;
  bool StopRewindKey = false;
  bool XKey = false;
  bool YKey = false;
  bool ZKey = false;
  bool ModeCode1 = false;
  bool ModeCode2 = false;
  bool ModeCode3 = false;

  // PollHoldoff, then PressTicks and GapTicks of A, B, C, D in turn.
  void StepPollCounters();
  // Sets every decoded state from the two report words and runs press
  // detection for F1, F2, F3, then EN; returns the EN level.
  bool Decode(std::uint32_t word0, std::uint32_t word1);

  // Mode code 1, 2 or 3 of the selector, 0 when none.
  int ModeCode() const { return ModeCode1 ? 1 : ModeCode2 ? 2 : ModeCode3 ? 3 : 0; }
};

}  // namespace k2t
