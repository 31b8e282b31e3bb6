// The handwheel: counter decoding, the dispatch on ActionMode, the settling
// after a reversal, and step jogging by incremental G-code moves.
#include "behaviour/handlers.h"
#include "common/numeric.h"
#include "common/text.h"
#include "plugin/module.h"

#include <cmath>

namespace k2t {

namespace {

constexpr double kDegreesToRadians = 0.017453293;
using GcodeText = TextBuffer<1024>;  // room for two numbers of any magnitude

double JogDistance(const Host& host, int direction, int steps) {
  const double distance = steps * host.JogUnitFactor();
  return direction == 1 ? -distance : distance;
}

void SaveAndForceFeed(DrovikWin& win) {
  Module& m = win.module();
  if (!win.wheel.OverridesSaved) {
    win.wheel.SavedFeedRate = m.host.GetDRO(dro::kFeedRate);
    win.wheel.SavedFeedOverride = m.host.GetDRO(dro::kFeedOverride);
    m.host.SetDRO(dro::kFeedOverride, 100.0);
    win.wheel.OverridesSaved = true;
  }
  m.counters.UpdateHoldoffB = 3;
}

bool FeedTooHigh(const Host& host) { return !(host.GetDRO(dro::kStepJogGate) < 20.0); }

// X or Y under a coordinate rotation: the move is turned into the rotated
// frame and sent without a feed word, so the host's current feed applies.
void RotatedStep(DrovikWin& win, int direction, int steps, bool at_jog_rate) {
  Module& m = win.module();
  const double theta = m.host.RotationAngle() * kDegreesToRadians;
  const double distance = JogDistance(m.host, direction, steps);
  const double x0 = win.SelectedAxis == 0 ? distance : 0.0;
  const double y0 = win.SelectedAxis == 1 ? distance : 0.0;
  const double x = x0 * std::cos(theta) - y0 * std::sin(-theta);
  const double y = x0 * std::sin(-theta) + y0 * std::cos(theta);
  if (!at_jog_rate && FeedTooHigh(m.host)) return;
  if (!std::isfinite(x) || !std::isfinite(y)) return;  // an angle or factor the host garbled
  GcodeText text;
  text.Append("G91G1 X").AppendFixed(x, 0, 4).Append(" Y").AppendFixed(y, 0, 4).Push(' ');
  if (at_jog_rate || !m.behaviour.StepJogHold) m.host.Code(text.c_str());
  if (win.ReturnToAbsolute) m.host.Code("G90");
}

bool RotatedAxis(DrovikWin& win) {
  return win.module().host.RotationAngle() != 0.0 && (win.SelectedAxis == 0 || win.SelectedAxis == 1);
}

bool RunningOrPaused(const Host& host) { return host.GetLED(led::kRunning) || host.GetLED(led::kPaused); }

}  // namespace

void DrovikWin::ProcessHandwheel() {
  Module& m = module_;
  BehaviourState& b = m.behaviour;
  const std::int32_t count = static_cast<std::int32_t>(WheelCounterOf(ReportWord0));
  const std::int32_t d = count - LastWheelCount;
  int raw = -1;
  if (d >= 1 && d <= 127) {
    wheel.WheelSteps = d;
    raw = 0;
  } else if (d <= -129) {  // wrapped forward past 255
    wheel.WheelSteps = 256 + d;
    raw = 0;
  } else if (d >= -127 && d <= -1) {
    wheel.WheelSteps = -d;
    raw = 1;
  } else if (d >= 129) {  // wrapped backward past 0
    wheel.WheelSteps = 256 - d;
    raw = 1;
  } else {
    // No change, or exactly half a turn between two reports, whose sense
    // cannot be known: no steps rather than a guess or a repeated move.
    wheel.WheelSteps = 0;
  }
  if (raw >= 0) {
    b.RawWheelDirection = static_cast<std::uint8_t>(raw);
    const PendantSettings& s = m.settings;
    const bool mirrored = (SelectedAxis == 0 && s.reverseX) || (SelectedAxis == 1 && s.reverseY) ||
                          (SelectedAxis == 2 && s.reverseZ);
    wheel.WheelDirection = mirrored ? 1 - raw : raw;
  }
  LastWheelCount = count;
  if (wheel.WheelDirection != b.LastWheelDirection && m.host.MotionQueued()) b.StepJogHold = true;
  b.LastWheelDirection = wheel.WheelDirection;

  HandleWheelAction(wheel.WheelDirection, wheel.WheelSteps);

  if (wheel.OverridesSaved && m.counters.UpdateHoldoffB == 0) {
    m.host.SetDRO(dro::kFeedRate, wheel.SavedFeedRate);
    m.host.SetDRO(dro::kFeedOverride, wheel.SavedFeedOverride);
    wheel.OverridesSaved = false;
  }
}

void DrovikWin::HandleWheelAction(int direction, int steps) {
  if (module_.host.JogInhibit() != 0) {
    EndWheelJog();
    return;
  }
  switch (ActionMode) {
    case 1: StepJog(*this, direction, steps); break;
    case 2: VelocityJog(*this, direction, steps); break;
    case 3: ContinuousJog(*this, direction, steps); break;
    case 4:
    case 5:
    case 6:
    case 17: ScaleValue(*this, steps); break;
    case 12:
    case 14:
    case 15:
    case 16: ChoosePosition(*this, direction); break;
    case 13: StepJogAtJogRate(*this, direction, steps); break;
    default: break;  // a held button or function key: the wheel rests
  }
}

void StepJog(DrovikWin& win, int direction, int steps) {
  Module& m = win.module();
  const Host& host = m.host;
  UpdateCounters& c = m.counters;
  if (direction != win.wheel.StepJogDirection && c.UpdateHoldoffA != 0) {
    c.UpdateTicksC = 0;
    win.wheel.StepJogDirection = direction;
    return;
  }
  if (c.UpdateTicksC < 4) return;
  win.wheel.StepJogDirection = direction;
  if (steps == 0) return;
  c.UpdateHoldoffA = 4;
  if (RunningOrPaused(host) && !host.GetLED(led::kLed806)) return;
  if (RunningOrPaused(host) && host.MotionQueued()) return;
  if (!host.GetLED(led::kJogEnabled)) {
    host.ShowHostMessage(kJogOffMessage);
    return;
  }
  if (RotatedAxis(win)) {
    RotatedStep(win, direction, steps, false);
    return;
  }
  SaveAndForceFeed(win);
  if (FeedTooHigh(host)) return;
  const double distance = JogDistance(host, direction, steps);
  const double feed = 60.0 * host.AxisMaxVelocity(win.SelectedAxis) * m.behaviour.StepJogPercent / 100.0;
  // A move whose feed or distance is not a number is not a move to send.
  if (!std::isfinite(feed) || !std::isfinite(distance)) return;
  GcodeText text;
  text.Append("G91G1 F").AppendFixed(feed, 0, 4).Push(' ').Push(kAxisLetters[win.SelectedAxis]).Push(' ');
  text.AppendFixed(distance, 0, 4);
  if (!m.behaviour.StepJogHold) host.Code(text.c_str());
  if (win.ReturnToAbsolute) host.Code("G90");
}

void StepJogAtJogRate(DrovikWin& win, int direction, int steps) {
  Module& m = win.module();
  const Host& host = m.host;
  if (steps == 0 || host.GetLED(led::kRunning) || host.GetLED(led::kPaused)) return;
  if (!host.GetLED(led::kJogEnabled)) {
    host.ShowHostMessage(kJogOffMessage);
    return;
  }
  if (RotatedAxis(win)) {
    RotatedStep(win, direction, steps, true);
    return;
  }
  SaveAndForceFeed(win);
  // The feed is held in single precision at both steps, as the host's own
  // jog-rate arithmetic does.
  float feed = NarrowToFloat(host.AxisMaxVelocity(win.SelectedAxis) * 60.0);
  feed = NarrowToFloat(host.GetDRO(dro::kJogRatePercent) * feed / 100.0);
  const double distance = JogDistance(host, direction, steps);
  if (!std::isfinite(feed) || !std::isfinite(distance)) return;
  GcodeText text;
  text.Append("G91G1 F").AppendFixed(feed, 0, 6).Push(' ').Push(kAxisLetters[win.SelectedAxis]).Push(' ');
  text.AppendFixed(distance, 0, 4);
  host.Code(text.c_str());
  if (win.ReturnToAbsolute) host.Code("G90");
}

}  // namespace k2t
