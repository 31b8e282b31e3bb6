// The E-stop switch, the EN-confirmed buttons, the STOP/REWND screen
// functions, the function-key jogs and the function-key functions.
#include "behaviour/handlers.h"
#include "common/text.h"
#include "config/function_catalogue.h"
#include "plugin/module.h"

namespace k2t {

namespace {

constexpr int kStartHoldMode = 20;
constexpr int kStopRewindMode = 21;
constexpr int kSpindleMode = 22;
constexpr int kFirstLongHoldMode = 23;  // 23, 24, 25: F1, F2, F3 long-held

void HandleConfirm(DrovikWin& win, int mode, bool& latch, void (*action)(Module&)) {
  if (win.ActionMode != mode) return;  // the latch keeps its value meanwhile
  if (!win.EnButton) {
    latch = false;
  } else if (!latch) {
    latch = true;
    action(win.module());
  }
}

void StartOrPause(Module& m) {
  m.host.DoButton(m.host.GetLED(led::kRunning) ? code::kFeedHold : code::kCycleStart);
  m.behaviour.ProgramActedSinceStop = true;
}

void StopOrRewind(Module& m) {
  m.host.DoButton(code::kStop);
  if (m.behaviour.ProgramActedSinceStop) {
    m.behaviour.ProgramActedSinceStop = false;
  } else {
    m.host.DoButton(code::kRewind);
    m.input.PollHoldoff = 100;
    // The rewind blocks the screen functions, including the one this very
    // press of STOP/REWND armed before EN came.
    m.behaviour.StopRewindArmed = false;
  }
}

void ToggleSpindle(Module& m) { m.host.DoButton(code::kSpindle); }

// Next non-zero screen selection after the current slot, in the order 1, 2, 3.
void CycleScreen(DrovikWin& win) {
  const PendantSettings& s = win.module().settings;
  int order[2];
  switch (win.positions.ScreenSlot) {
    case 1: order[0] = 2; order[1] = 3; break;
    case 2: order[0] = 3; order[1] = 1; break;
    case 3: order[0] = 1; order[1] = 2; break;
    default: win.positions.ScreenSlot = 1; return;
  }
  for (int slot : order) {
    const int code = ScreenCodeAt(s.screenSelection[static_cast<std::size_t>(slot)]);
    if (code != 0) {
      win.positions.ScreenSlot = slot;
      win.module().host.DoButton(static_cast<std::int16_t>(code));
      return;
    }
  }
}

void HandleStopRewindScreens(DrovikWin& win) {
  Module& m = win.module();
  BehaviourState& b = m.behaviour;
  const Host& host = m.host;
  if (m.input.StopRewindKey && !b.StopRewindArmed && !host.GetLED(led::kRunning) &&
      !host.GetLED(led::kPaused) && !host.GetLED(led::kLed806) && host.GetDRO(dro::kStopRewindGate) == 0.0 &&
      m.input.PollHoldoff == 0 && !host.MotionQueued()) {
    m.counters.UpdateTicksA = 0;
    b.StopRewindArmed = true;
  }
  if (!m.input.StopRewindKey && b.StopRewindArmed) {
    b.StopRewindArmed = false;
    const std::int32_t held = m.counters.UpdateTicksA;
    if (held < 3) {
      host.DoButton(code::kToggleTabScreen);
    } else if (held < 20) {
      CycleScreen(win);
    }
  }
}

struct FunctionJogCodes {
  std::int16_t start_x, start_y, start_z;  // 0: nothing for that axis
  std::int16_t stop_first, stop_second;    // 0: none
};

// F1 jogs Z+ whatever the axis; F2 and F3 jog X or Y in + and - direction.
constexpr FunctionJogCodes kFunctionJogs[3] = {
    {code::kJogZPlus, code::kJogZPlus, code::kJogZPlus, code::kJogStopZ, 0},
    {code::kJogXPlus, code::kJogYPlus, 0, code::kJogStopX, code::kJogStopY},
    {code::kJogXMinus, code::kJogYMinus, 0, code::kJogStopX, code::kJogStopY},
};

void HandleFunctionJogs(DrovikWin& win) {
  Module& m = win.module();
  BehaviourState& b = m.behaviour;
  JogModeMemo& memo = b.HostJogModeMemo;
  for (int key = 0; key < 3; ++key) {
    const bool double_press = m.input.press[static_cast<std::size_t>(key)].DoublePress;
    bool& latch = b.FunctionJogLatch[static_cast<std::size_t>(key)];
    const FunctionJogCodes& codes = kFunctionJogs[key];
    if (double_press && !latch) {
      if (!memo.taken) {
        if (m.host.GetLED(led::kJogMode14)) memo.was14 = true;
        else if (m.host.GetLED(led::kJogMode15)) memo.was15 = true;
        else if (m.host.GetLED(led::kJogMode57)) memo.was57 = true;
        memo.taken = true;
      }
      if (!memo.was14 && !memo.sent204) {
        m.host.DoButton(code::kJogModeStep);
        memo.sent204 = true;
      }
      m.counters.UpdateTicksB = 0;
      const int axis = key == 0 ? 2 : win.SelectedAxis;
      const std::int16_t start = axis == 0 ? codes.start_x : axis == 1 ? codes.start_y
                                 : axis == 2 ? codes.start_z : 0;
      if (start != 0) m.host.DoButton(start);
      latch = true;
    } else if (!double_press && latch) {
      m.host.DoButton(codes.stop_first);
      if (codes.stop_second != 0) m.host.DoButton(codes.stop_second);
      latch = false;
    }
  }
}

void RestoreJogMode(Module& m) {
  const auto& press = m.input.press;
  if (press[kInputF1].DoublePress || press[kInputF2].DoublePress || press[kInputF3].DoublePress)
    m.counters.UpdateTicksB = 0;
  // At 15 or later, once: a host that calls Update twice between two polls
  // may step past 15, and must not be left in the function-key jog mode.
  JogModeMemo& memo = m.behaviour.HostJogModeMemo;
  if (m.counters.UpdateTicksB < 15 || !memo.taken) return;
  if (memo.was14) m.host.DoButton(code::kJogModeStep);
  else if (memo.was15) m.host.DoButton(code::kJogModeContinuous);
  else if (memo.was57) m.host.DoButton(code::kJogModeMpg);
  memo = JogModeMemo{};
}

void CoordinatesCycle(const Host& host) {
  const double dro = host.GetDRO(dro::kCoordinateCycle);
  if (dro == 1.0) {
    host.SetDRO(dro::kCoordinateCycle, 2.0);
  } else if (dro == 2.0) {
    host.SetDRO(dro::kCoordinateCycle, 3.0);
  } else if (dro == 3.0) {
    host.SetDRO(dro::kCoordinateCycle, 4.0);
  } else if (dro == 4.0 && !host.GetLED(led::kMachineCoordinates) && !host.GetLED(led::kDistToGo)) {
    host.DoButton(code::kMachineCoordinates);
  } else if (host.GetLED(led::kMachineCoordinates)) {
    host.DoButton(code::kMachineCoordinates);
    host.DoButton(code::kDistToGo);
  } else if (host.GetLED(led::kDistToGo)) {
    host.DoButton(code::kDistToGo);
    host.SetDRO(dro::kCoordinateCycle, 1.0);
  }
}

void DefaultFunction(DrovikWin& win, int key) {
  const Host& host = win.module().host;
  switch (key) {
    case 1:  // Zero the selected axis; B and C have no zero button
      if (win.SelectedAxis >= 0 && win.SelectedAxis <= 3)
        host.DoButton(static_cast<std::int16_t>(code::kZeroBase + win.SelectedAxis));
      break;
    case 2: host.DoButton(code::kGoToZero); break;
    case 3: CoordinatesCycle(host); break;
  }
}

void DispatchFunction(DrovikWin& win, int key, std::int32_t code) {
  Module& m = win.module();
  const PendantSettings& s = m.settings;
  static constexpr const char* kOemMessages[5] = {
      "", " OEM Function #1 executed.", "OEM Function #2 executed.", "OEM Function #3 executed.",
      "OEM Function #4 executed."};
  static constexpr const char* kMacroMessages[5] = {
      "", " Custom Macro #1 executed.", " Custom Macro #2 executed.", " Custom Macro #3 executed.",
      " Custom Macro #4 executed."};
  if (code == 0) {
    DefaultFunction(win, key);
  } else if ((code >= 1 && code <= 799) || code >= 900) {
    m.host.DoButton(static_cast<std::int16_t>(code));
  } else if (code >= 813 && code <= 816) {
    const int n = code - 812;
    m.host.DoButton(s.oemButtonCode[static_cast<std::size_t>(n)]);
    m.host.ShowHostMessage(kOemMessages[n]);
  } else if (code >= 817 && code <= 820) {
    const int n = code - 816;
    TextBuffer<16> text;
    text.Push('M').AppendInt(s.macroNumber[static_cast<std::size_t>(n)]);
    m.host.Code(text.c_str());
    m.host.ShowHostMessage(kMacroMessages[n]);
  }
  // Other codes of 800..899 (the separators among them) do nothing.
}

}  // namespace

void HandleEStop(DrovikWin& win) {
  Module& m = win.module();
  BehaviourState& b = m.behaviour;
  const bool active = m.input.EStopSwitch;
  // The latches are set before the host hears the code: a host that runs
  // its message loop inside DoButton may tick again, and that tick must see
  // this code as sent (a second 1021 would toggle the host out of E-stop).
  if (active && (!b.EStopSentLatch || !m.host.GetLED(led::kEStop))) {
    b.EStopSentLatch = true;
    b.EStopReleasedLatch = false;
    m.host.DoButton(code::kEStop);
  } else if ((!active || b.EStopReleasedLatch) && b.EStopSentLatch) {
    b.EStopSentLatch = false;
    b.EStopReleasedLatch = true;
    m.host.DoButton(code::kEStop);
  }
}

void RunFunctionKeyFunctions(DrovikWin& win) {
  Module& m = win.module();
  for (int key = 1; key <= 3; ++key) {
    bool& latch = m.behaviour.FunctionActionLatch[static_cast<std::size_t>(key - 1)];
    if (win.ActionMode != kFirstLongHoldMode + key - 1) {
      latch = false;
      continue;
    }
    const std::int32_t code =
        FunctionKeyCodeAt(m.settings.functionKeyAction[static_cast<std::size_t>(key - 1)]);
    m.behaviour.FunctionKeyCode[static_cast<std::size_t>(key)] = code;
    if (win.EnButton && !latch) {
      latch = true;
      DispatchFunction(win, key, code);
    }
  }
}

void HandleConfirmAndJog(DrovikWin& win) {
  BehaviourState& b = win.module().behaviour;
  HandleConfirm(win, kStartHoldMode, b.StartHoldEnLatch, StartOrPause);
  HandleConfirm(win, kStopRewindMode, b.StopRewindEnLatch, StopOrRewind);
  HandleConfirm(win, kSpindleMode, b.SpindleEnLatch, ToggleSpindle);
  HandleFunctionJogs(win);
  RestoreJogMode(win.module());
  HandleStopRewindScreens(win);
}

void DrovikWin::StopLinkMotion() {
  Module& m = module_;
  if (wheel.HostJogActive) {
    m.host.SetAxisJogStop(SelectedAxis, 1);
    m.host.Code("ENDJOG");
    EndWheelJog();
  }
  // A function-key jog runs on the host until its stop codes arrive, which
  // the pendant can no longer trigger.
  for (int key = 0; key < 3; ++key) {
    bool& latch = m.behaviour.FunctionJogLatch[static_cast<std::size_t>(key)];
    if (!latch) continue;
    m.host.DoButton(kFunctionJogs[key].stop_first);
    if (kFunctionJogs[key].stop_second != 0) m.host.DoButton(kFunctionJogs[key].stop_second);
    latch = false;
  }
}

}  // namespace k2t
