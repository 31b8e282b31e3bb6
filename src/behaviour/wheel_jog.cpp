// Velocity and continuous handwheel modes: the wheel drives the host's own
// jog through the selected axis' jog block and "DOJOG" / "ENDJOG".
#include <algorithm>
#include <cmath>

#include "behaviour/handlers.h"
#include "common/numeric.h"
#include "config/function_catalogue.h"
#include "plugin/module.h"

namespace k2t {

namespace {

// Oldest to newest entry of the rate history, in hundredths (0.18 .. 1.82);
// they add up to 10. Whole rates times whole weights sum exactly, so a
// steady rate r weighs exactly 10 r: with binary fractions a steady 40 came
// to just under 400 and never reached full speed.
constexpr int kRateWeightHundredths[10] = {18, 36, 55, 73, 91, 109, 127, 145, 164, 182};

// True when neither of the last two reports brought a step.
bool WheelStopped(DrovikWin& win, int steps) {
  win.wheel.StepHistoryIndex = (win.wheel.StepHistoryIndex + 1) % 2;
  win.wheel.StepHistory[static_cast<std::size_t>(win.wheel.StepHistoryIndex)] = steps;
  win.wheel.RateSum = win.wheel.StepHistory[0] + win.wheel.StepHistory[1];
  return win.wheel.RateSum == 0.0;
}

bool PausedWithoutLed806(const Host& host) {
  return (host.GetLED(led::kRunning) || host.GetLED(led::kPaused)) && !host.GetLED(led::kLed806);
}

}  // namespace

void DrovikWin::StartHostJog(double velocity, int direction) {
  Host& host = module_.host;
  // An E-stop was taken inside this tick: nothing starts, and nothing here
  // may say that a jog runs.
  if (host.MotionHeld()) return;
  // A speed that comes from a value the host garbled starts nothing, and
  // ends a jog already running rather than keep it at an older speed.
  if (!std::isfinite(velocity)) {
    if (wheel.HostJogActive) StopHostJog();
    return;
  }
  if (!wheel.HostJogActive) {
    if (host.GetLED(led::kJogMode15)) {
      host.DoButton(code::kJogModeStep);
      wheel.JogModeSwitched = true;
    } else {
      wheel.JogModeSwitched = false;
    }
    wheel.HostJogActive = true;
  }
  // The host ran its message loop inside that button and an E-stop was
  // taken there: the jog does not start, and the jog mode goes back.
  if (host.MotionHeld()) {
    EndWheelJog();
    return;
  }
  AxisJogBlock block;
  block.direction = direction;
  block.acceleration = host.AxisAccelerationSteps(SelectedAxis);
  block.max_velocity = host.AxisMaxVelocitySteps(SelectedAxis);
  // Never beyond the axis' own limit, whatever the jog rate DRO says.
  const double limit = std::fabs(static_cast<double>(block.max_velocity));
  block.velocity = TruncToInt32(std::clamp(velocity, -limit, limit));
  block.stop = 0;
  block.active = 1;
  host.WriteAxisJog(SelectedAxis, block);
  host.Code("DOJOG");
}

void DrovikWin::StopHostJog() {
  module_.host.SetAxisJogStop(SelectedAxis, 1);
  module_.host.Code("ENDJOG");
}

void DrovikWin::EndWheelJog() {
  wheel.HostJogActive = false;
  if (wheel.JogModeSwitched) {
    module_.host.DoButton(code::kJogModeContinuous);
    wheel.JogModeSwitched = false;
  }
}

void VelocityJog(DrovikWin& win, int direction, int steps) {
  Module& m = win.module();
  const Host& host = m.host;
  UpdateCounters& c = m.counters;
  const PendantSettings& s = m.settings;
  const std::int32_t sensitivity = VelocitySensitivityAt(s.velocityIndex);
  m.behaviour.SlowDownDivisor = SlowDownDivisorAt(s.slowDownIndex);
  win.wheel.WheelRate = static_cast<std::int32_t>(WheelRateOf(win.ReportWord0));
  if (direction != win.wheel.VelocityJogDirection && c.UpdateHoldoffA != 0) {
    win.StopHostJog();
    win.wheel.RateHistory.fill(0.0);
    c.UpdateTicksC = 0;
    win.wheel.VelocityJogDirection = direction;
    return;
  }
  if (c.UpdateTicksC < 3) return;
  if (win.wheel.WheelRate != 0) {
    c.UpdateHoldoffA = 3;
    if (!host.GetLED(led::kJogEnabled)) {
      host.ShowHostMessage(kJogOffMessage);
      return;
    }
  }
  if (c.UpdateHoldoffA == 0) {
    win.EndWheelJog();
    win.wheel.RateHistory.fill(0.0);
    return;
  }
  if (WheelStopped(win, steps)) {
    win.StopHostJog();
    return;
  }
  if (PausedWithoutLed806(host)) return;
  for (std::size_t i = 0; i + 1 < win.wheel.RateHistory.size(); ++i) win.wheel.RateHistory[i] = win.wheel.RateHistory[i + 1];
  win.wheel.RateHistory[9] = win.wheel.WheelRate;
  double weighted = 0.0;
  for (std::size_t i = 0; i < win.wheel.RateHistory.size(); ++i)
    weighted += win.wheel.RateHistory[i] * kRateWeightHundredths[i];
  weighted /= 100.0;
  win.wheel.RateSum = weighted;
  double fraction = weighted / 400.0 * 3.0 / sensitivity;
  if (win.EnButton) fraction = fraction / m.behaviour.SlowDownDivisor;
  if (fraction > 1.0) fraction = 1.0;
  win.wheel.SpeedFraction = fraction;
  const double velocity = host.AxisMaxVelocitySteps(win.SelectedAxis) * fraction;
  if (win.wheel.WheelRate != 0) win.StartHostJog(velocity, direction);
  else win.StopHostJog();
  win.wheel.VelocityJogDirection = direction;
}

void ContinuousJog(DrovikWin& win, int direction, int steps) {
  Module& m = win.module();
  const Host& host = m.host;
  UpdateCounters& c = m.counters;
  win.wheel.WheelRate = static_cast<std::int32_t>(WheelRateOf(win.ReportWord0));
  if (direction != win.wheel.VelocityJogDirection && c.UpdateHoldoffA != 0) {
    win.StopHostJog();
    c.UpdateTicksC = 0;
    win.wheel.DelayCount = 0;
    win.wheel.VelocityJogDirection = direction;
    return;
  }
  if (c.UpdateTicksC < 3) return;
  if (win.wheel.WheelRate != 0) {
    c.UpdateHoldoffA = 3;
    // Saturating: a huge delay setting must not make the count overflow.
    win.wheel.DelayCount = win.wheel.DelayCount > INT32_MAX - steps ? INT32_MAX : win.wheel.DelayCount + steps;
    if (!host.GetLED(led::kJogEnabled)) {
      host.ShowHostMessage(kJogOffMessage);
      return;
    }
  }
  if (c.UpdateHoldoffA == 0) {
    win.wheel.DelayCount = 0;
    win.EndWheelJog();
    return;
  }
  if (win.wheel.DelayCount < m.settings.delaySteps) return;
  if (win.wheel.DelayCount > 30000) win.wheel.DelayCount = 400;
  if (WheelStopped(win, steps)) {
    win.StopHostJog();
    return;
  }
  if (PausedWithoutLed806(host)) return;
  const double velocity = host.GetDRO(dro::kJogRatePercent) * host.AxisMaxVelocitySteps(win.SelectedAxis) / 100.0;
  if (win.wheel.WheelRate != 0) win.StartHostJog(velocity, direction);
  else win.StopHostJog();
  win.wheel.VelocityJogDirection = direction;
}

}  // namespace k2t
