// The pendant's behaviour, run once per decoded poll tick in this order:
// E-stop, axis keys, mode evaluation (ending with the function-key
// functions), confirm-and-jog, handwheel. Each sees what the earlier set.
#pragma once

#include "plugin/host_codes.h"

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

inline constexpr const char* kJogOffMessage = " Jog OFF. ";

}  // namespace k2t
