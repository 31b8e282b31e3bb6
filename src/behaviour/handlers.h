// The pendant's behaviour, run once per decoded poll tick in this order:
// E-stop, axis keys, mode evaluation (ending with the function-key
// functions), confirm-and-jog, handwheel. Each sees what the earlier set.
#pragma once

namespace k2t {

class DrovikWin;

void HandleEStop(DrovikWin& win);
void HandleAxisKeys(DrovikWin& win);
void EvaluateMode(DrovikWin& win);
void RunFunctionKeyFunctions(DrovikWin& win);
void HandleConfirmAndJog(DrovikWin& win);

// Branches of HandleWheelAction.
void StepJog(DrovikWin& win, int direction, int steps);
void StepJogAtJogRate(DrovikWin& win, int direction, int steps);
void VelocityJog(DrovikWin& win, int direction, int steps);
void ContinuousJog(DrovikWin& win, int direction, int steps);
void ScaleValue(DrovikWin& win, int steps);
void ChoosePosition(DrovikWin& win, int direction);

// Host button codes and LEDs the behaviour uses.
namespace code {
inline constexpr int kEStop = 1021;
inline constexpr int kCycleStart = 1000;
inline constexpr int kFeedHold = 1001;
inline constexpr int kRewind = 1002;
inline constexpr int kStop = 1003;
inline constexpr int kSpindle = 110;
inline constexpr int kToggleTabScreen = 323;
inline constexpr int kJogModeStep = 204;
inline constexpr int kJogModeContinuous = 205;
inline constexpr int kJogModeMpg = 327;
inline constexpr int kModeChangeBase = 334;  // + axis
inline constexpr int kZeroBase = 1008;       // + axis, X..A
inline constexpr int kGoToZero = 1017;
inline constexpr int kMachineCoordinates = 256;
inline constexpr int kDistToGo = 333;
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

inline constexpr const char* kAxisLetters = "XYZABC";
inline constexpr const char* kJogOffMessage = " Jog OFF. ";

}  // namespace k2t
