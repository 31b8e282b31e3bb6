// Axis selection with the X, Y and Z keys, the jog-mode pairs of the mode
// selector, and the ActionMode of each cycle.
#include "behaviour/handlers.h"
#include "plugin/module.h"

namespace k2t {

void HandleAxisKeys(DrovikWin& win) {
  Module& m = win.module();
  BehaviourState& b = m.behaviour;
  const PendantSettings& s = m.settings;
  struct AxisKey {
    bool down;
    int linear, rotary;
    bool include_rotary;
  };
  const AxisKey keys[3] = {
      {m.input.XKey, 0, 3, s.includeAAxis},
      {m.input.YKey, 1, 4, s.includeBAxis},
      {m.input.ZKey, 2, 5, s.includeCAxis},
  };
  for (std::size_t i = 0; i < 3; ++i) {
    const AxisKey& key = keys[i];
    if (!key.down) {
      b.AxisKeyLatch[i] = false;
    } else if (!b.AxisKeyLatch[i]) {
      // Pressing the key of the selected linear axis again alternates to its
      // rotary axis when that one is included.
      win.SelectedAxis = (win.SelectedAxis == key.linear && key.include_rotary) ? key.rotary : key.linear;
      b.AxisKeyLatch[i] = true;
    }
  }
  if (win.SelectedAxis != win.PrevSelectedAxis) {
    if (m.host.MotionQueued()) b.StepJogHold = true;
    for (int axis = 0; axis < kAxisCount; ++axis) m.host.SetAxisJogStop(axis, 1);
    m.host.Code("ENDJOG");
  }
  if (b.StepJogHold && !m.host.MotionQueued()) b.StepJogHold = false;
  win.PrevSelectedAxis = win.SelectedAxis;
}

namespace {

// The first row that applies; 0 when none does (the previous value stays).
int ActionModeFor(const DrovikWin& win, const InputState& in, int jog_mode) {
  const PressDetector& f1 = in.press[kInputF1];
  const PressDetector& f2 = in.press[kInputF2];
  const PressDetector& f3 = in.press[kInputF3];
  const PressDetector& en = in.press[kInputEn];
  if (in.StartHoldKey) return 20;
  if (in.StopRewindKey) return 21;
  if (in.SpindleKey) return 22;
  if (f1.DoublePress) return 26;
  if (f2.DoublePress) return 27;
  if (f3.DoublePress) return 28;
  if (f1.LongHold) return 23;
  if (f2.LongHold) return 24;
  if (f3.LongHold) return 25;
  if (jog_mode == 1 && !en.LongHold && !en.DoublePress) return 1;
  if (jog_mode >= 2 && jog_mode <= 6 && !win.EnButton) return jog_mode;
  if (jog_mode == 1 && en.LongHold) return 12;
  if (jog_mode >= 3 && jog_mode <= 6 && win.EnButton) return jog_mode + 10;
  if (jog_mode == 1 && en.DoublePress) return 17;
  return 0;
}

}  // namespace

void EvaluateMode(DrovikWin& win) {
  Module& m = win.module();
  BehaviourState& b = m.behaviour;
  const int code = m.input.ModeCode();
  for (int k = 1; k <= 3; ++k) {
    bool& rearm = b.ModeRearm[static_cast<std::size_t>(k)];
    if (code == k && rearm) {
      b.JogMode = (b.JogMode == 2 * k - 1) ? 2 * k : 2 * k - 1;
      rearm = false;
    } else if (code != k) {
      rearm = true;
    }
  }
  const int mode = ActionModeFor(win, m.input, b.JogMode);
  if (mode != 0) win.ActionMode = mode;
  if (win.ActionMode != win.PrevActionMode)
    m.host.DoButton(static_cast<std::int16_t>(code::kModeChangeBase + win.SelectedAxis));
  win.PrevActionMode = win.ActionMode;
  RunFunctionKeyFunctions(win);
}

}  // namespace k2t
