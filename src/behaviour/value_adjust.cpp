// The wheel as a value knob: scaling of overrides and rates, and the choice
// of one of the nine positions of a settings table.
#include "behaviour/handlers.h"
#include "common/numeric.h"
#include "common/text.h"
#include "plugin/module.h"

namespace k2t {

namespace {

struct ScaledValue {
  int dro;  // 0: the module's own StepJogPercent
  double upper, lower;
};

ScaledValue ScaledValueFor(int action_mode) {
  switch (action_mode) {
    case 4: return {dro::kJogRatePercent, 100.0, 0.1};
    case 5: return {dro::kFeedOverride, 250.0, 1.0};
    case 6: return {dro::kSpindleOverride, 250.0, 1.0};
    default: return {0, 100.0, 1.0};  // 17
  }
}

void ConvertTexts(const std::array<std::string, 10>& texts, std::array<float, 10>& values) {
  for (std::size_t k = 1; k <= 9; ++k) values[k] = NarrowToFloat(ParseLeadingDouble(texts[k]));
}

// The table a position-choice mode walks: its position field, the DRO it
// writes and the value at each position.
struct PositionTable {
  std::int32_t* position;
  int dro;
  double values[10];
};

PositionTable TableFor(DrovikWin& win) {
  Module& m = win.module();
  const PendantSettings& s = m.settings;
  BehaviourState& b = m.behaviour;
  PositionTable t{};
  auto fill_int = [&t](const std::array<std::int32_t, 10>& table) {
    for (std::size_t k = 1; k <= 9; ++k) t.values[k] = table[k];
  };
  auto fill_float = [&t](const std::array<float, 10>& table) {
    for (std::size_t k = 1; k <= 9; ++k) t.values[k] = table[k];
  };
  switch (win.ActionMode) {
    case 12: t.position = &win.positions.StepSizePos; t.dro = dro::kStepSize; fill_float(b.StepSizeValue); break;
    case 14: t.position = &win.positions.SlowJogPos; t.dro = dro::kJogRatePercent; fill_int(s.slowJogRate); break;
    case 15:
      if (s.useFeedRate) {
        t.position = &win.positions.FeedRatePos; t.dro = dro::kFeedRate; fill_float(b.FeedRateValue);
      } else {
        t.position = &win.positions.FeedOverridePos; t.dro = dro::kFeedOverride; fill_int(s.feedOverride);
      }
      break;
    default:  // 16; both spindle tables share one position
      t.position = &win.positions.SpindlePos;
      if (s.useSpindleSpeed) {
        t.dro = dro::kSpindleSpeed; fill_int(s.spindleSpeed);
      } else {
        t.dro = dro::kSpindleOverride; fill_int(s.spindleOverride);
      }
      break;
  }
  return t;
}

}  // namespace

void ScaleValue(DrovikWin& win, int steps) {
  if (steps == 0) return;
  Module& m = win.module();
  const ScaledValue sv = ScaledValueFor(win.ActionMode);
  auto read = [&] { return sv.dro ? m.host.GetDRO(sv.dro) : m.behaviour.StepJogPercent; };
  auto write = [&](double v) {
    if (sv.dro) m.host.SetDRO(sv.dro, v);
    else m.behaviour.StepJogPercent = v;
  };
  double v = read();
  if (m.behaviour.RawWheelDirection == 0) {
    if (!(v < sv.upper)) return;
    v = (1.0 + steps * 0.005) * v;
    if (v > sv.upper) v = sv.upper;
  } else {
    if (!(v > 0.0)) return;
    v = (1.0 - steps * 0.005) * v;
    if (v < sv.lower) v = sv.lower;
  }
  write(v);
}

void ChoosePosition(DrovikWin& win, int direction) {
  Module& m = win.module();
  const PendantSettings& s = m.settings;
  const bool feed_rates = win.ActionMode == 15 && s.useFeedRate;
  if (win.ActionMode == 12) ConvertTexts(s.stepSize, m.behaviour.StepSizeValue);
  if (feed_rates) ConvertTexts(s.feedRate, m.behaviour.FeedRateValue);
  win.wheel.WheelRate = static_cast<std::int32_t>(WheelRateOf(win.ReportWord0));
  win.wheel.WheelTurning = win.wheel.WheelRate > 0;
  if (win.wheel.WheelRate != 0) m.counters.UpdateHoldoffA = 3;
  if (m.counters.UpdateHoldoffA == 0) return;
  if (win.ActionMode != 12 && (m.host.GetLED(led::kRunning) || m.host.GetLED(led::kPaused))) return;
  if (win.wheel.WheelTurning && !win.wheel.WheelTurningBefore) {
    PositionTable t = TableFor(win);
    std::int32_t& p = *t.position;
    if (p < 1 || p > 9) {
      p = 1;
    } else {
      // The feed-rate table follows the mirrored direction; the others the raw one.
      const int sense = feed_rates ? direction : m.behaviour.RawWheelDirection;
      for (int i = 1; i <= 8; ++i) {
        const int q = sense == 0 ? (p - 1 + i) % 9 + 1 : (p - 1 - i + 18) % 9 + 1;
        if (t.values[q] != 0.0) {
          p = q;
          m.host.SetDRO(t.dro, t.values[q]);
          break;
        }
      }
    }
  }
  win.wheel.WheelTurningBefore = win.wheel.WheelTurning;
}

}  // namespace k2t
