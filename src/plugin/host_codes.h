// The host's codes the module uses, each named once: button codes for
// DoButton, LEDs for GetLED, DROs for GetDRO and SetDRO. What a code does is
// the host's; the names say what the module takes it for.
#pragma once

#include <cstdint>

namespace k2t {

namespace code {
inline constexpr std::int16_t kSpindle = 110;
inline constexpr std::int16_t kJogModeStep = 204;
inline constexpr std::int16_t kJogModeContinuous = 205;
inline constexpr std::int16_t kMachineCoordinates = 256;
// Function-key jogs and the stops that end them.
inline constexpr std::int16_t kJogXPlus = 307;
inline constexpr std::int16_t kJogXMinus = 308;
inline constexpr std::int16_t kJogYPlus = 309;
inline constexpr std::int16_t kJogYMinus = 310;
inline constexpr std::int16_t kJogZPlus = 311;
inline constexpr std::int16_t kToggleTabScreen = 323;
inline constexpr std::int16_t kJogModeMpg = 327;
inline constexpr std::int16_t kDistToGo = 333;
inline constexpr std::int16_t kModeChangeBase = 334;  // + axis; also the jog stops of X, Y, Z
inline constexpr std::int16_t kJogStopX = 334;
inline constexpr std::int16_t kJogStopY = 335;
inline constexpr std::int16_t kJogStopZ = 336;
inline constexpr std::int16_t kLastJogStop = 339;
inline constexpr std::int16_t kCycleStart = 1000;
inline constexpr std::int16_t kFeedHold = 1001;
inline constexpr std::int16_t kRewind = 1002;
inline constexpr std::int16_t kStop = 1003;
inline constexpr std::int16_t kZeroBase = 1008;  // + axis, X..A
inline constexpr std::int16_t kGoToZero = 1017;
inline constexpr std::int16_t kEStop = 1021;
}  // namespace code

namespace led {
inline constexpr int kSpindleOn = 11;
inline constexpr int kJogMode14 = 14;
inline constexpr int kJogMode15 = 15;
inline constexpr int kMachineCoordinates = 16;
inline constexpr int kJogMode57 = 57;
inline constexpr int kJogEnabled = 83;
inline constexpr int kDistToGo = 163;
inline constexpr int kEStop = 800;
inline constexpr int kRunning = 804;
inline constexpr int kPaused = 805;
inline constexpr int kLed806 = 806;
}  // namespace led

namespace dro {
inline constexpr int kJogRatePercent = 3;
inline constexpr int kStepJogGate = 22;  // a step jog is sent only while it is below 20
inline constexpr int kSpindleRpm = 39;
inline constexpr int kCoordinateCycle = 46;
inline constexpr int kFeedTimesOverride = 55;
inline constexpr int kPulley = 56;
inline constexpr int kSpindleOverride = 74;
inline constexpr int kSpindleSpeedWithPulley = 202;
inline constexpr int kAxisPositionBase = 800;  // + axis, X..C
inline constexpr int kStopRewindGate = 816;     // STOP/REWND arms only while it reads 0
inline constexpr int kSpindleSpeed = 817;
inline constexpr int kFeedRate = 818;
inline constexpr int kFeedOverride = 821;
inline constexpr int kStepSize = 828;
}  // namespace dro

}  // namespace k2t
