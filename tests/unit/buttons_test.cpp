// The EN-confirmed buttons, the STOP/REWND screen functions, function-key
// jogs and function-key functions, as the host sees them: calls in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "support/scenarios.h"

namespace k2t::testing {
namespace {

Log Without(Log log, const std::string& entry) {
  log.erase(std::remove(log.begin(), log.end(), entry), log.end());
  return log;
}

class ButtonsTest : public ScenarioTest {
 protected:
  // START/HOLD held, EN pressed; EN released first, so the latch re-arms.
  void StartHoldWithEn() {
    report().StartHold();
    Tick();
    report().En();
    Tick();
    report().En(false);
    Tick();
    report().StartHold(false);
    Tick();
  }
  // EN held first, then STOP/REWND; EN released first.
  void StopRewindWithEn() {
    report().En();
    Tick();
    report().StopRewind();
    Tick();
    report().En(false);
    Tick();
    report().StopRewind(false);
    Tick();
  }
  // STOP/REWND alone, held for the given number of host Update calls.
  void StopRewindHeld(int updates) {
    report().StopRewind();
    Tick();
    Updates(updates);
    Tick();
    report().StopRewind(false);
    Tick();
  }
  // Long hold of an F key, EN pressed once, the key released.
  void RunFunction(int key) {
    LongHoldF(key);
    TapEn();
    ReleaseF(key);
    Quiet();
  }
  void ClearMessage() { host_.planner_[K2T_PLANNER_MESSAGE_TEXT] = 0; }
};

TEST_F(ButtonsTest, StartHoldHeldEnTwiceActsTwice) {
  const struct {
    bool running;
    const char* code;
  } cases[] = {{false, "DoButton 1000"}, {true, "DoButton 1001"}};
  StartSettled();
  for (const auto& c : cases) {
    host_.leds[804] = c.running;
    report().StartHold();
    Tick();
    TapEn();
    TapEn();
    report().StartHold(false);
    Tick();
    EXPECT_EQ(Calls(), (Log{"DoButton 334", c.code, c.code, "DoButton 334"})) << c.running;
    Quiet();
  }
}

TEST_F(ButtonsTest, SpindleWithEn) {
  StartSettled();
  report().Spindle();
  Tick();
  TapEn();
  report().Spindle(false);
  Tick();
  EXPECT_EQ(Calls(), (Log{"DoButton 334", "DoButton 110", "DoButton 334"}));
}

TEST_F(ButtonsTest, LongHeldF1EnTwiceActsOnce) {
  StartSettled();
  LongHoldF(1);
  TapEn();
  TapEn();
  Tick(20);
  ReleaseF(1);
  EXPECT_EQ(Calls(), (Log{"DoButton 334", "DoButton 1008", "DoButton 334"}));
  // A new hold may run it again.
  Quiet();
  RunFunction(1);
  EXPECT_EQ(Without(Calls(), "DoButton 334"), (Log{"DoButton 1008"}));
}

TEST_F(ButtonsTest, EnFirstThenStartHoldActsOnTheFirstCycle) {
  StartSettled();
  report().En();
  Tick(3);
  EXPECT_TRUE(Calls().empty());
  report().StartHold();
  Tick();
  EXPECT_EQ(Calls(), (Log{"DoButton 334", "DoButton 1000"}));
}

// Releasing START/HOLD before EN leaves its latch set: the next hold does
// nothing until EN is seen up during it.
TEST_F(ButtonsTest, LatchLeftSetBlocksTheNextHold) {
  StartSettled();
  SetJogMode(3);
  Quiet();
  report().StartHold();
  Tick();
  report().En();
  Tick();
  report().StartHold(false);  // EN still down
  Tick();
  report().En(false);
  Tick();
  EXPECT_EQ(CallsStarting("DoButton 100"), (Log{"DoButton 1000"}));
  report().En();
  Tick();
  report().StartHold();
  Tick(5);
  EXPECT_TRUE(CallsStarting("DoButton 100").empty());
  report().En(false);
  Tick();
  EXPECT_TRUE(CallsStarting("DoButton 100").empty());
  report().En();
  Tick();
  EXPECT_EQ(CallsStarting("DoButton 100"), (Log{"DoButton 1000"}));
}

TEST_F(ButtonsTest, StopRewindWithEnRewindsUnlessAStartCameBetween) {
  StartSettled();
  StopRewindWithEn();
  EXPECT_EQ(CallsStarting("DoButton 100"), (Log{"DoButton 1003", "DoButton 1002"}));
  Tick(100);
  StopRewindWithEn();
  EXPECT_EQ(CallsStarting("DoButton 100"), (Log{"DoButton 1003", "DoButton 1002"}));
  Tick(100);
  StartHoldWithEn();
  host_.leds[804] = true;  // the program runs
  StopRewindWithEn();
  EXPECT_EQ(CallsStarting("DoButton 100"), (Log{"DoButton 1000", "DoButton 1003"}));
  host_.leds[804] = false;
  StopRewindWithEn();
  EXPECT_EQ(CallsStarting("DoButton 100"), (Log{"DoButton 1003", "DoButton 1002"}));
}

// Each rewind blocks the STOP/REWND screen functions for 100 poll ticks.
TEST_F(ButtonsTest, RewindBlocksTheScreenFunctionsFor100Ticks) {
  StartSettled();
  report().En();
  Tick();
  report().StopRewind();
  Tick();  // the rewind: tick 0 of the block
  report().StopRewind(false).En(false);
  Tick();     // 1
  Tick(97);   // 98
  EXPECT_EQ(Without(Calls(), "DoButton 334"), (Log{"DoButton 1003", "DoButton 1002"}));
  report().StopRewind();
  Tick();  // 99: still blocked
  report().StopRewind(false);
  Tick();  // 100
  EXPECT_TRUE(Without(Calls(), "DoButton 334").empty());
  report().StopRewind();
  Tick();  // 101: the block is over
  report().StopRewind(false);
  Tick();
  EXPECT_EQ(Calls(), (Log{"DoButton 334", "DoButton 334", "DoButton 323"}));
}

// STOP/REWND held first (arming the screen function), then EN: the rewind
// that follows also cancels what the press armed, so letting go changes no
// screen.
TEST_F(ButtonsTest, RewindCancelsTheScreenFunctionItsPressArmed) {
  StartSettled();
  report().StopRewind();
  Tick();
  report().En();
  Tick();
  report().En(false).StopRewind(false);
  Tick(3);
  EXPECT_EQ(Without(Calls(), "DoButton 334"), (Log{"DoButton 1003", "DoButton 1002"}));
}

// The jog-mode restore fires at the first poll with UpdateTicksB at 15 or
// beyond (a host may call Update twice between two polls), and once only.
TEST_F(ButtonsTest, JogModeRestoreAtFifteenOrLaterOnce) {
  const struct {
    int updates;
    Log restore;
  } cases[] = {{14, {}}, {15, {"DoButton 205"}}, {16, {"DoButton 205"}}, {300, {"DoButton 205"}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.updates);
    Restart();
    StartSettled();
    host_.leds[15] = true;
    DoublePressF(2);
    ReleaseF(2);
    Calls();
    Updates(c.updates);
    Tick();
    EXPECT_EQ(Calls(), c.restore);
    Updates(20);
    Tick(3);
    EXPECT_EQ(Calls(), c.restore.empty() ? Log{"DoButton 205"} : Log{});
  }
}

struct HoldCase {
  int updates;
  Log after_release;
};

class StopRewindHoldTest : public ButtonsTest, public ::testing::WithParamInterface<HoldCase> {};

TEST_P(StopRewindHoldTest, DurationInUpdateTicks) {
  StartSettled();
  StopRewindHeld(GetParam().updates);
  EXPECT_EQ(Without(Calls(), "DoButton 334"), GetParam().after_release);
}

INSTANTIATE_TEST_SUITE_P(Durations, StopRewindHoldTest,
                         ::testing::Values(HoldCase{0, {"DoButton 323"}}, HoldCase{2, {"DoButton 323"}},
                                           HoldCase{3, {"DoButton 2"}}, HoldCase{19, {"DoButton 2"}},
                                           HoldCase{20, {}}, HoldCase{1500, {}}));

TEST_F(ButtonsTest, StopRewindDoesNotArm) {
  const struct {
    const char* name;
    int led;
    double dro816;
    bool queued;
  } cases[] = {
      {"running", 804, 0.0, false},
      {"paused", 805, 0.0, false},
      {"LED 806", 806, 0.0, false},
      {"DRO 816 set", 0, 1.0, false},
      {"motion queued", 0, 0.0, true},
  };
  StartSettled();
  for (const auto& c : cases) {
    if (c.led) host_.leds[c.led] = true;
    host_.dros[816] = c.dro816;
    host_.SetMotionQueued(c.queued);
    for (int updates : {0, 5}) {
      StopRewindHeld(updates);
      EXPECT_TRUE(Without(Calls(), "DoButton 334").empty()) << c.name << " " << updates;
    }
    if (c.led) host_.leds[c.led] = false;
    host_.dros[816] = 0.0;
    host_.SetMotionQueued(false);
  }
}

// The hold is timed from the cycle in which arming first succeeds.
TEST_F(ButtonsTest, ArmingIsRetriedWhileHeld) {
  StartSettled();
  host_.leds[805] = true;
  report().StopRewind();
  Tick();
  Updates(25);
  Tick();
  host_.leds[805] = false;
  Tick();
  Updates(1);
  report().StopRewind(false);
  Tick();
  EXPECT_EQ(Without(Calls(), "DoButton 334"), (Log{"DoButton 323"}));
}

struct ScreenCase {
  const char* name;
  int selections[3];
  int slot;
  Log codes[3];  // sent by three screen cycles in turn
  int final_slot;
};

TEST_F(ButtonsTest, ScreenCycle) {
  const ScreenCase cases[] = {
      {"1, 0, 3", {1, 0, 3}, 1, {{"DoButton 3"}, {"DoButton 1"}, {"DoButton 3"}}, 3},
      {"1, 2, 3", {1, 2, 3}, 1, {{"DoButton 2"}, {"DoButton 3"}, {"DoButton 1"}}, 1},
      {"mapped codes", {4, 5, 6}, 1, {{"DoButton 6"}, {"DoButton 5"}, {"DoButton 7"}}, 1},
      {"none", {0, 0, 0}, 2, {{}, {}, {}}, 2},
      {"only the current one", {1, 0, 0}, 1, {{}, {}, {}}, 1},
      {"slot out of range", {1, 2, 3}, 7, {{}, {"DoButton 2"}, {"DoButton 3"}}, 3},
      {"selections out of range", {9, -1, 3}, 1, {{"DoButton 3"}, {}, {}}, 3},
  };
  StartSettled();
  for (const auto& c : cases) {
    for (std::size_t n = 1; n <= 3; ++n)
      settings().screenSelection[n] = static_cast<std::int16_t>(c.selections[n - 1]);
    win().positions.ScreenSlot = c.slot;
    for (const Log& codes : c.codes) {
      StopRewindHeld(5);
      EXPECT_EQ(Without(Calls(), "DoButton 334"), codes) << c.name;
    }
    EXPECT_EQ(win().positions.ScreenSlot, c.final_slot) << c.name;
  }
}

struct JogCase {
  const char* name;
  int key;
  int axis;
  std::vector<int> leds;
  Log start, stop, restore;
};

TEST_F(ButtonsTest, FunctionKeyJogs) {
  const JogCase cases[] = {
      {"F2 on X", 2, 0, {}, {"DoButton 334", "DoButton 204", "DoButton 307"},
       {"DoButton 334", "DoButton 334", "DoButton 335"}, {}},
      {"F2 on Y", 2, 1, {}, {"DoButton 335", "DoButton 204", "DoButton 309"},
       {"DoButton 335", "DoButton 334", "DoButton 335"}, {}},
      {"F2 on Z", 2, 2, {}, {"DoButton 336", "DoButton 204"},
       {"DoButton 336", "DoButton 334", "DoButton 335"}, {}},
      {"F2 on A", 2, 3, {}, {"DoButton 337", "DoButton 204"},
       {"DoButton 337", "DoButton 334", "DoButton 335"}, {}},
      {"F3 on X", 3, 0, {}, {"DoButton 334", "DoButton 204", "DoButton 308"},
       {"DoButton 334", "DoButton 334", "DoButton 335"}, {}},
      {"F3 on Y", 3, 1, {}, {"DoButton 335", "DoButton 204", "DoButton 310"},
       {"DoButton 335", "DoButton 334", "DoButton 335"}, {}},
      {"F3 on C", 3, 5, {}, {"DoButton 339", "DoButton 204"},
       {"DoButton 339", "DoButton 334", "DoButton 335"}, {}},
      {"F1 on X", 1, 0, {}, {"DoButton 334", "DoButton 204", "DoButton 311"},
       {"DoButton 334", "DoButton 336"}, {}},
      {"F1 on B", 1, 4, {}, {"DoButton 338", "DoButton 204", "DoButton 311"},
       {"DoButton 338", "DoButton 336"}, {}},
      {"LED 14", 2, 0, {14}, {"DoButton 334", "DoButton 307"},
       {"DoButton 334", "DoButton 334", "DoButton 335"}, {"DoButton 204"}},
      {"LED 14 and 15", 2, 0, {14, 15}, {"DoButton 334", "DoButton 307"},
       {"DoButton 334", "DoButton 334", "DoButton 335"}, {"DoButton 204"}},
      {"LED 15", 2, 0, {15}, {"DoButton 334", "DoButton 204", "DoButton 307"},
       {"DoButton 334", "DoButton 334", "DoButton 335"}, {"DoButton 205"}},
      {"LED 57", 2, 0, {57}, {"DoButton 334", "DoButton 204", "DoButton 307"},
       {"DoButton 334", "DoButton 334", "DoButton 335"}, {"DoButton 327"}},
  };
  StartSettled();
  for (const auto& c : cases) {
    for (int led : c.leds) host_.leds[led] = true;
    win().SelectedAxis = c.axis;
    win().PrevSelectedAxis = c.axis;
    DoublePressF(c.key);
    EXPECT_EQ(Calls(), c.start) << c.name;
    Tick(30);  // held
    EXPECT_TRUE(Calls().empty()) << c.name;
    ReleaseF(c.key);
    EXPECT_EQ(Calls(), c.stop) << c.name;
    Updates(14);
    Tick();
    EXPECT_TRUE(Calls().empty()) << c.name;
    Updates(1);
    Tick();
    EXPECT_EQ(Calls(), c.restore) << c.name;
    for (int led : c.leds) host_.leds[led] = false;
    Quiet();
    Updates(20);
    Calls();
  }
}

// The host's jog mode is sampled once per sequence of jogs, and restored 15
// Update ticks after the last one ended.
TEST_F(ButtonsTest, JogSequenceSamplesAndRestoresOnce) {
  StartSettled();
  host_.leds[15] = true;
  DoublePressF(2);
  ReleaseF(2);
  EXPECT_EQ(Calls(), (Log{"DoButton 334", "DoButton 204", "DoButton 307", "DoButton 334", "DoButton 334",
                          "DoButton 335"}));
  Quiet();
  Updates(10);
  host_.leds[15] = false;
  DoublePressF(3);
  Updates(10);
  Tick();  // still held: the restore waits
  ReleaseF(3);
  EXPECT_EQ(Calls(), (Log{"DoButton 334", "DoButton 308", "DoButton 334", "DoButton 334", "DoButton 335"}));
  Updates(15);
  Tick();
  EXPECT_EQ(Calls(), (Log{"DoButton 205"}));
  Updates(15);
  Tick(3);
  EXPECT_TRUE(Calls().empty());
}

struct DispatchCase {
  int position;
  Log calls;
  const char* message;
};

TEST_F(ButtonsTest, FunctionDispatchIsTheSameForEveryKey) {
  const DispatchCase cases[] = {
      {2, {"DoButton 301"}, " OEM Function #1 executed."},
      {3, {"DoButton 302"}, "OEM Function #2 executed."},
      {4, {"DoButton 303"}, "OEM Function #3 executed."},
      {5, {"DoButton 304"}, "OEM Function #4 executed."},
      {6, {"Code M101"}, " Custom Macro #1 executed."},
      {7, {"Code M102"}, " Custom Macro #2 executed."},
      {8, {"Code M103"}, " Custom Macro #3 executed."},
      {9, {"Code M1004"}, " Custom Macro #4 executed."},
      {11, {"DoButton 1"}, ""},
      {18, {"DoButton 323"}, ""},
      {26, {"DoButton 1029"}, ""},
      {31, {"DoButton 256"}, ""},
      {64, {"DoButton 138"}, ""},
      {1, {}, ""},
      {10, {}, ""},
      {62, {}, ""},
  };
  StartSettled();
  settings().oemButtonCode = {0, 301, 302, 303, 304};
  settings().macroNumber = {0, 101, 102, 103, 1004};
  for (int key = 1; key <= 3; ++key) {
    for (const auto& c : cases) {
      settings().functionKeyAction[static_cast<std::size_t>(key - 1)] = static_cast<std::int16_t>(c.position);
      ClearMessage();
      RunFunction(key);
      EXPECT_EQ(Without(Calls(), "DoButton 334"), c.calls) << "F" << key << " position " << c.position;
      EXPECT_EQ(host_.MessageText(), c.message) << "F" << key << " position " << c.position;
    }
  }
}

// A separator shows its key's label while held; EN does nothing.
TEST_F(ButtonsTest, SeparatorDoesNothing) {
  StartSettled();
  settings().functionKeyAction[0] = 1;
  settings().functionKeyLabel[1] = "Nothing here";
  LongHoldF(1);
  EXPECT_EQ(Display(), "Nothing here    ");
  EXPECT_EQ(module_.behaviour.FunctionKeyCode[1], 899);
  TapEn();
  ReleaseF(1);
  EXPECT_EQ(Calls(), (Log{"DoButton 334", "DoButton 334"}));
}

TEST_F(ButtonsTest, DefaultFunctions) {
  const struct {
    int key;
    int axis;
    Log calls;
  } cases[] = {
      {1, 0, {"DoButton 1008"}}, {1, 1, {"DoButton 1009"}}, {1, 2, {"DoButton 1010"}},
      {1, 3, {"DoButton 1011"}}, {1, 4, {}},                {1, 5, {}},
      {2, 0, {"DoButton 1017"}}, {2, 4, {"DoButton 1017"}},
  };
  StartSettled();
  for (const auto& c : cases) {
    win().SelectedAxis = c.axis;
    win().PrevSelectedAxis = c.axis;
    RunFunction(c.key);
    const std::string change = "DoButton " + std::to_string(334 + c.axis);
    EXPECT_EQ(Without(Calls(), change), c.calls) << "F" << c.key << " axis " << c.axis;
  }
}

// Positions outside the function list act as "NONE": the key's own default.
TEST_F(ButtonsTest, FunctionPositionOutsideTheList) {
  StartSettled();
  for (int position : {-1, 66, 32767, -32768}) {
    settings().functionKeyAction[1] = static_cast<std::int16_t>(position);
    LongHoldF(2);
    EXPECT_EQ(Display().substr(0, 8), "GoToZero") << position;
    TapEn();
    ReleaseF(2);
    Quiet();
    EXPECT_EQ(Without(Calls(), "DoButton 334"), (Log{"DoButton 1017"})) << position;
  }
}

TEST_F(ButtonsTest, CoordinatesCycle) {
  const struct {
    std::vector<int> leds;
    Log calls;
  } runs[] = {
      {{}, {"DoButton 256"}},
      {{16}, {"DoButton 256", "DoButton 333"}},
      {{163}, {"DoButton 333", "SetDRO 46 1"}},
      {{}, {"SetDRO 46 2"}},
      {{}, {"SetDRO 46 3"}},
      {{}, {"SetDRO 46 4"}},
      {{16, 163}, {"DoButton 256", "DoButton 333"}},
      {{}, {"DoButton 256"}},
  };
  StartSettled();
  host_.dros[46] = 4.0;
  for (std::size_t i = 0; i < std::size(runs); ++i) {
    host_.leds[16] = false;
    host_.leds[163] = false;
    for (int led : runs[i].leds) host_.leds[led] = true;
    RunFunction(3);
    EXPECT_EQ(Without(Calls(), "DoButton 334"), runs[i].calls) << "run " << i;
  }
  // Another value with both LEDs dark does nothing.
  host_.dros[46] = 7.0;
  RunFunction(3);
  EXPECT_EQ(Without(Calls(), "DoButton 334"), Log{});
}

}  // namespace
}  // namespace k2t::testing
