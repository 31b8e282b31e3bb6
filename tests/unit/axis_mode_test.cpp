// Axis keys, the mode selector's jog-mode pairs and the ActionMode of each
// cycle, with the codes the host sees when they change.
#include <gtest/gtest.h>

#include "behaviour/handlers.h"
#include "support/scenarios.h"

namespace k2t::testing {
namespace {

class AxisModeTest : public ScenarioTest {
 protected:
  void PressAxisKey(char key) {
    SetAxisKey(key, true);
    Tick();
    SetAxisKey(key, false);
    Tick();
  }
  void SetAxisKey(char key, bool on) {
    if (key == 'X') report().X(on);
    if (key == 'Y') report().Y(on);
    if (key == 'Z') report().Z(on);
  }
  void SelectAxis(int axis) {
    win().SelectedAxis = axis;
    win().PrevSelectedAxis = axis;
  }
  // A mode code arriving for one tick and going away again.
  void ModeCodeArrives(int code) {
    report().Mode(code);
    Tick();
    report().Mode(0);
    Tick();
  }
};

TEST_F(AxisModeTest, FirstCycleCountsAsAnAxisChange) {
  Start();
  Tick();
  EXPECT_EQ(Calls(), (Log{"Code ENDJOG"}));
  EXPECT_EQ(StoppedAxes(), 6);
  ClearJogStops();
  Tick(3);
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(StoppedAxes(), 0);
}

struct AxisKeyCase {
  const char* name;
  int start;
  const char* keys;  // pressed together in one cycle
  bool include_a, include_b, include_c;
  int expected;
};

TEST_F(AxisModeTest, AxisKeys) {
  const AxisKeyCase cases[] = {
      {"X again goes to A", 0, "X", true, false, false, 3},
      {"X from A goes back", 3, "X", true, false, false, 0},
      {"X again without A stays", 0, "X", false, true, true, 0},
      {"Y from A is Y, never B", 3, "Y", true, true, true, 1},
      {"Y again goes to B", 1, "Y", false, true, false, 4},
      {"Y from B goes back", 4, "Y", false, true, false, 1},
      {"Z again goes to C", 2, "Z", false, false, true, 5},
      {"Z again without C stays", 2, "Z", true, true, false, 2},
      {"X from C", 5, "X", true, true, true, 0},
      {"an excluded rotary axis stays until a key", 3, "", false, false, false, 3},
      {"two keys: the last one's choice", 0, "XY", true, true, true, 1},
      {"two keys from X with A", 0, "XZ", true, false, false, 2},
  };
  StartSettled();
  for (const auto& c : cases) {
    settings().includeAAxis = c.include_a;
    settings().includeBAxis = c.include_b;
    settings().includeCAxis = c.include_c;
    SelectAxis(c.start);
    for (const char* k = c.keys; *k; ++k) SetAxisKey(*k, true);
    Tick();
    EXPECT_EQ(win().SelectedAxis, c.expected) << c.name;
    Tick(3);  // a held key acts once
    EXPECT_EQ(win().SelectedAxis, c.expected) << c.name << " (held)";
    report().X(false).Y(false).Z(false);
    Tick();
  }
}

TEST_F(AxisModeTest, XPressedFourTimes) {
  const struct {
    bool include_a;
    int after[4];
    int stopped_axes;  // raised in each press's cycle
  } cases[] = {
      {true, {3, 0, 3, 0}, 6},
      {false, {0, 0, 0, 0}, 0},
  };
  StartSettled();
  for (const auto& c : cases) {
    settings().includeAAxis = c.include_a;
    SelectAxis(0);
    for (int press = 0; press < 4; ++press) {
      ClearJogStops();
      PressAxisKey('X');
      EXPECT_EQ(win().SelectedAxis, c.after[press]) << c.include_a << " press " << press;
      EXPECT_EQ(StoppedAxes(), c.stopped_axes) << c.include_a << " press " << press;
      EXPECT_EQ(Calls(), c.stopped_axes ? Log{"Code ENDJOG"} : Log{}) << c.include_a << " press " << press;
    }
  }
}

// An axis change while motion is queued holds step jogging back until a
// cycle finds the queue empty; the change itself stops the axes either way.
TEST_F(AxisModeTest, AxisChangeWithMotionQueued) {
  StartSettled();
  SetJogMode(1);
  host_.SetJogUnitFactor(0.01);
  host_.SetAxisMaxVelocity(1, 2.0);
  host_.SetMotionQueued(true);
  ClearJogStops();
  report().Y();
  Tick();
  EXPECT_EQ(Calls(), (Log{"Code ENDJOG", "DoButton 335"}));  // the axis first, then ActionMode 2 -> 1 on Y
  EXPECT_EQ(StoppedAxes(), 6);
  EXPECT_TRUE(module_.behaviour.StepJogHold);
  report().Y(false);
  Updates(5);
  Turn(1);
  EXPECT_EQ(CallsStarting("Code"), (Log{"Code G90"}));  // the jog text is held back
  Tick(3);
  EXPECT_TRUE(module_.behaviour.StepJogHold);
  host_.SetMotionQueued(false);
  Tick();
  EXPECT_FALSE(module_.behaviour.StepJogHold);
  Calls();
  Updates(5);
  Turn(1);
  EXPECT_EQ(CallsStarting("Code"), (Log{"Code G91G1 F60.0000 Y 0.0100", "Code G90"}));
}

TEST_F(AxisModeTest, AxisChangeWithEmptyQueueDoesNotHold) {
  StartSettled();
  ClearJogStops();
  report().Z();
  Tick();
  EXPECT_EQ(Calls(), (Log{"Code ENDJOG"}));
  EXPECT_EQ(StoppedAxes(), 6);
  EXPECT_FALSE(module_.behaviour.StepJogHold);
}

struct ModeCodeCase {
  int start;
  int code;
  int after_first;
  int after_second;
};

TEST_F(AxisModeTest, ModeCodesToggleTheirPairs) {
  const ModeCodeCase cases[] = {
      {2, 1, 1, 2}, {1, 1, 2, 1}, {4, 1, 1, 2}, {6, 1, 1, 2}, {2, 2, 3, 4}, {3, 2, 4, 3},
      {1, 2, 3, 4}, {5, 3, 6, 5}, {6, 3, 5, 6}, {4, 3, 5, 6}, {3, 0, 3, 3}, {3, 4, 3, 3},
      {3, 5, 3, 3}, {3, 7, 3, 3},
  };
  StartSettled();
  for (const auto& c : cases) {
    SetJogMode(c.start);
    ModeCodeArrives(c.code);
    EXPECT_EQ(module_.behaviour.JogMode, c.after_first) << c.start << " code " << c.code;
    ModeCodeArrives(c.code);
    EXPECT_EQ(module_.behaviour.JogMode, c.after_second) << c.start << " code " << c.code;
  }
}

TEST_F(AxisModeTest, OneTogglePerArrival) {
  StartSettled();
  report().Mode(1);
  Tick(30);
  EXPECT_EQ(module_.behaviour.JogMode, 1);
  report().Mode(2);  // straight from one code to another
  Tick(5);
  EXPECT_EQ(module_.behaviour.JogMode, 3);
  report().Mode(1);
  Tick();
  EXPECT_EQ(module_.behaviour.JogMode, 1);
}

TEST_F(AxisModeTest, CodePresentAtStartUpDoesNotToggle) {
  report().Mode(1);
  Start();
  Tick(20);
  EXPECT_EQ(module_.behaviour.JogMode, 2);
  EXPECT_EQ(win().ActionMode, 2);
  ModeCodeArrives(0);
  ModeCodeArrives(1);
  EXPECT_EQ(module_.behaviour.JogMode, 1);
}

TEST_F(AxisModeTest, EnInJogModes3To6SwitchesAtOnce) {
  const struct {
    int jog_mode;
    int axis;
    int held_mode;
    const char* change_code;
  } cases[] = {
      {3, 0, 13, "DoButton 334"},
      {3, 1, 13, "DoButton 335"},
      {4, 2, 14, "DoButton 336"},
      {5, 3, 15, "DoButton 337"},
      {6, 5, 16, "DoButton 339"},
  };
  StartSettled();
  for (const auto& c : cases) {
    SetJogMode(c.jog_mode);
    SelectAxis(c.axis);
    Quiet();
    EXPECT_EQ(win().ActionMode, c.jog_mode);
    Calls();
    report().En();
    Tick();
    EXPECT_EQ(win().ActionMode, c.held_mode) << c.jog_mode;
    EXPECT_EQ(Calls(), (Log{c.change_code})) << c.jog_mode;
    Tick(20);  // held on: no further change
    EXPECT_EQ(win().ActionMode, c.held_mode) << c.jog_mode;
    EXPECT_TRUE(Calls().empty()) << c.jog_mode;
    report().En(false);
    Tick();
    EXPECT_EQ(win().ActionMode, c.jog_mode);
    EXPECT_EQ(Calls(), (Log{c.change_code})) << c.jog_mode;
  }
}

TEST_F(AxisModeTest, EnGesturesInJogMode1) {
  StartSettled();
  SetJogMode(1);
  Tick();
  EXPECT_EQ(win().ActionMode, 1);
  Calls();
  // A short press leaves it alone.
  TapEn();
  EXPECT_EQ(win().ActionMode, 1);
  Quiet();
  EXPECT_TRUE(Calls().empty());
  // A long hold: 12 from the 14th pressed tick.
  report().En();
  Tick(13);
  EXPECT_EQ(win().ActionMode, 1);
  Tick();
  EXPECT_EQ(win().ActionMode, 12);
  EXPECT_EQ(Calls(), (Log{"DoButton 334"}));
  report().En(false);
  Tick();
  EXPECT_EQ(win().ActionMode, 1);
  Quiet();
  // A double press: 17 while the second press is held.
  TapEn();
  report().En();
  Tick();
  EXPECT_EQ(win().ActionMode, 17);
  Tick(30);
  EXPECT_EQ(win().ActionMode, 17);
  report().En(false);
  Tick();
  EXPECT_EQ(win().ActionMode, 1);
}

// JogMode 2 with EN down names no ActionMode: the previous one stays.
TEST_F(AxisModeTest, JogMode2ReachedWithEnHeldKeepsTheOldMode) {
  StartSettled();
  SetJogMode(1);
  report().En();
  Tick(14);
  ASSERT_EQ(win().ActionMode, 12);
  Calls();
  report().Mode(1);
  Tick();
  EXPECT_EQ(module_.behaviour.JogMode, 2);
  EXPECT_EQ(win().ActionMode, 12);
  Tick(5);
  EXPECT_EQ(win().ActionMode, 12);
  EXPECT_TRUE(Calls().empty());
  report().En(false);
  Tick();
  EXPECT_EQ(win().ActionMode, 2);
  EXPECT_EQ(Calls(), (Log{"DoButton 334"}));
}

// The rows of the ActionMode table, first match wins, on decoded states set
// directly.
struct RowCase {
  const char* name;
  int jog_mode;
  const char* inputs;  // S start/hold, R stop/rewind, P spindle, 1d 1l .. 3d 3l, E en, Ed El
  int previous;
  int expected;
};

TEST_F(AxisModeTest, ActionModeRows) {
  const RowCase cases[] = {
      {"start/hold outranks all", 1, "S R P 1d 2d 1l El", 1, 20},
      {"stop/rewind", 1, "R P 1d 3l", 1, 21},
      {"spindle", 3, "P 1d 2d 3d E", 3, 22},
      {"F1 double", 2, "1d 2d 3d 1l", 2, 26},
      {"F1 double and F2 long", 2, "1d 2l", 2, 26},
      {"F2 double", 2, "2d 3d 1l", 2, 27},
      {"F3 double", 2, "3d 1l", 2, 28},
      {"F1 long", 1, "1l 2l 3l E El", 1, 23},
      {"F2 long", 1, "2l 3l", 1, 24},
      {"F3 long", 4, "3l E", 4, 25},
      {"jog mode 1", 1, "", 2, 1},
      {"jog mode 1, EN level alone", 1, "E", 2, 1},
      {"jog mode 1, EN long", 1, "E El", 1, 12},
      {"jog mode 1, EN double", 1, "E Ed", 1, 17},
      {"jog mode 2", 2, "", 1, 2},
      {"jog mode 2, EN down keeps", 2, "E", 12, 12},
      {"jog mode 2, EN down keeps 17", 2, "E Ed", 17, 17},
      {"jog mode 3", 3, "", 13, 3},
      {"jog mode 3, EN", 3, "E", 3, 13},
      {"jog mode 4, EN", 4, "E", 4, 14},
      {"jog mode 5, EN", 5, "E", 5, 15},
      {"jog mode 6, EN", 6, "E", 6, 16},
      {"jog mode 6", 6, "", 16, 6},
  };
  StartSettled();
  for (const auto& c : cases) {
    InputState& in = module_.input;
    in = InputState{};
    const std::string inputs = c.inputs;
    auto has = [&](const char* token) {
      return (" " + inputs + " ").find(std::string(" ") + token + " ") != std::string::npos;
    };
    in.StartHoldKey = has("S");
    in.StopRewindKey = has("R");
    in.SpindleKey = has("P");
    for (int k = 0; k < 3; ++k) {
      const std::string key = std::to_string(k + 1);
      in.press[static_cast<std::size_t>(k)].DoublePress = has((key + "d").c_str());
      in.press[static_cast<std::size_t>(k)].LongHold = has((key + "l").c_str());
    }
    in.press[kInputEn].DoublePress = has("Ed");
    in.press[kInputEn].LongHold = has("El");
    win().EnButton = has("E");
    SetJogMode(c.jog_mode);
    win().ActionMode = c.previous;
    win().PrevActionMode = c.previous;
    Calls();
    EvaluateMode(win());
    EXPECT_EQ(win().ActionMode, c.expected) << c.name;
    const Log changes = CallsStarting("DoButton 33");
    EXPECT_EQ(changes, c.expected != c.previous ? Log{"DoButton 334"} : Log{}) << c.name;
  }
}

// Driven by the keys: buttons outrank function keys, a double press outranks
// a long hold.
TEST_F(AxisModeTest, HeldTogether) {
  StartSettled();
  report().StartHold().F1();
  Tick(20);
  EXPECT_EQ(win().ActionMode, 20);
  report().StartHold(false);
  Tick();
  EXPECT_EQ(win().ActionMode, 23);  // F1 held long meanwhile
  report().F1(false);
  Quiet();
  report().F2();
  Tick(14);
  EXPECT_EQ(win().ActionMode, 24);
  DoublePressF(1);
  EXPECT_EQ(win().ActionMode, 26);
}

}  // namespace
}  // namespace k2t::testing
