// The wheel as a knob: scaling of the host's rates and overrides and of the
// step-jog percent, and the choice of one position of a nine-entry table.
#include <gtest/gtest.h>

#include "support/scenarios.h"

namespace k2t::testing {
namespace {

class ValueAdjustTest : public ScenarioTest {
 protected:
  void SelectAxis(int axis) {
    win().SelectedAxis = axis;
    win().PrevSelectedAxis = axis;
  }
  // JogMode 3..6 with EN held: ActionMode 13..16.
  void HoldEnInJogMode(int jog_mode) {
    SetJogMode(jog_mode);
    report().En();
    Tick();
    Calls();
  }
  // JogMode 1 with EN held long: ActionMode 12.
  void HoldEnLong() {
    SetJogMode(1);
    report().En();
    Tick(14);
    ASSERT_EQ(win().ActionMode, 12);
    Calls();
  }
  // One turn of the wheel that starts from rest, then rest again.
  void OneTurn(int delta) {
    Turn(delta, 10);
    Rest();
  }
  Log SetDros() { return CallsStarting("SetDRO"); }
};

struct ScaleCase {
  const char* name;
  int jog_mode;
  int dro;
  double start;
  int delta;
  bool written;
  double expected;
};

TEST_F(ValueAdjustTest, ScalingHostValues) {
  const ScaleCase cases[] = {
      {"feed override up", 5, 821, 100.0, 10, true, 105.0},
      {"feed override capped", 5, 821, 248.0, 10, true, 250.0},
      {"feed override at the cap", 5, 821, 250.0, 10, false, 250.0},
      {"feed override above the cap", 5, 821, 300.0, 1, false, 300.0},
      {"feed override floored", 5, 821, 1.04, -10, true, 1.0},
      {"feed override down", 5, 821, 100.0, -20, true, 90.0},
      {"jog rate floored", 4, 3, 0.105, -20, true, 0.1},
      {"jog rate at 0 down", 4, 3, 0.0, -5, false, 0.0},
      {"jog rate negative down", 4, 3, -2.0, -5, false, -2.0},
      {"jog rate at 0 up is written", 4, 3, 0.0, 5, true, 0.0},
      {"jog rate capped", 4, 3, 99.9, 10, true, 100.0},
      {"jog rate at the cap", 4, 3, 100.0, 1, false, 100.0},
      {"spindle override up", 6, 74, 200.0, 20, true, 220.0},
      {"spindle override capped", 6, 74, 249.0, 2, true, 250.0},
      {"spindle override floored", 6, 74, 1.0, -1, true, 1.0},
      {"no change, no steps", 5, 821, 100.0, 0, false, 100.0},
  };
  StartSettled();
  for (const auto& c : cases) {
    SetJogMode(c.jog_mode);
    host_.dros[c.dro] = c.start;
    Tick();
    Calls();
    Turn(c.delta);
    const Log writes = SetDros();
    if (c.written) {
      ASSERT_EQ(writes.size(), 1u) << c.name;
      EXPECT_EQ(writes[0].rfind("SetDRO " + std::to_string(c.dro) + " ", 0), 0u) << c.name;
    } else {
      EXPECT_TRUE(writes.empty()) << c.name;
    }
    EXPECT_DOUBLE_EQ(host_.dros[c.dro], c.expected) << c.name;
  }
}

TEST_F(ValueAdjustTest, ScalingStepJogPercent) {
  const struct {
    double start;
    int delta;
    double expected;
    const char* shown;  // the first 8 display characters
  } cases[] = {
      {50.0, -4, 49.0, "Step 49%"},  {40.0, 10, 42.0, "Step 42%"}, {99.0, 10, 100.0, "Step100%"},
      {100.0, 1, 100.0, "Step100%"}, {1.0, -1, 1.0, "Step  1%"},
  };
  StartSettled();
  SetJogMode(1);
  for (const auto& c : cases) {
    module_.behaviour.StepJogPercent = c.start;
    Quiet();
    TapEn();
    report().En();
    Tick();
    ASSERT_EQ(win().ActionMode, 17);
    Turn(c.delta);
    EXPECT_DOUBLE_EQ(module_.behaviour.StepJogPercent, c.expected) << c.start << " " << c.delta;
    EXPECT_EQ(Display().substr(0, 8), c.shown);
    report().En(false);
    Tick();
  }
  EXPECT_TRUE(SetDros().empty());
}

// Mirroring does not reach the value modes, except the feed-rate table.
TEST_F(ValueAdjustTest, MirroringLeavesTheSenseAlone) {
  StartSettled();
  settings().reverseX = true;
  SelectAxis(0);
  SetJogMode(5);
  host_.dros[821] = 100.0;
  Tick();
  Turn(10);
  EXPECT_DOUBLE_EQ(host_.dros[821], 105.0);
}

TEST_F(ValueAdjustTest, StepSizeChoiceWritesSinglePrecisionValues) {
  StartSettled();
  const char* const sizes[] = {"0.0001", "0.001", "0.01", "0.1", "1", "0.254", "0", "0", "0"};
  for (std::size_t k = 1; k <= 9; ++k) settings().stepSize[k] = sizes[k - 1];
  win().positions.StepSizePos = 6;
  HoldEnLong();
  OneTurn(1);
  EXPECT_EQ(Calls(), (Log{"SetDRO 828 0.0001"}));
  EXPECT_EQ(host_.dros[828], 9.999999747378752e-05);
  EXPECT_EQ(win().positions.StepSizePos, 1);
  OneTurn(-1);
  EXPECT_EQ(host_.dros[828], 0.2540000081062317);
  EXPECT_EQ(win().positions.StepSizePos, 6);
}

// At start-up the host's step size is position 2 while the choice is at 1.
TEST_F(ValueAdjustTest, FirstStepSizeChoiceAfterStartUp) {
  const struct {
    int delta;
    double expected;
  } cases[] = {{1, static_cast<double>(0.001f)}, {-1, static_cast<double>(0.254f)}};
  for (const auto& c : cases) {
    Restart();
    Start();
    EXPECT_EQ(host_.dros[828], 0.001);
    Settle();
    HoldEnLong();
    OneTurn(c.delta);
    EXPECT_EQ(host_.dros[828], c.expected) << c.delta;
  }
}

struct TableCase {
  const char* name;
  int jog_mode;  // with EN held
  bool use_feed_rate, use_spindle_speed;
  int start_position;
  int delta;
  const char* write;  // nullptr: nothing written
  int position;
};

TEST_F(ValueAdjustTest, PositionChoice) {
  const TableCase cases[] = {
      {"jog rate up", 4, false, false, 3, 1, "SetDRO 3 10", 4},
      {"jog rate down", 4, false, false, 3, -1, "SetDRO 3 2", 2},
      {"jog rate down wraps over the zeros", 4, false, false, 1, -1, "SetDRO 3 100", 7},
      {"jog rate up wraps", 4, false, false, 7, 1, "SetDRO 3 1", 1},
      {"position 0 only resets", 4, false, false, 0, 1, nullptr, 1},
      {"position 10 only resets", 4, false, false, 10, -1, nullptr, 1},
      {"feed override up", 5, false, false, 1, 1, "SetDRO 821 80", 2},
      {"feed rate up", 5, true, false, 1, 1, "SetDRO 818 200", 2},
      {"feed rate down", 5, true, false, 1, -1, "SetDRO 818 1500", 9},
      {"spindle override", 6, false, false, 2, 1, "SetDRO 74 150", 3},
      {"spindle speed", 6, false, true, 2, 1, "SetDRO 817 3000", 3},
  };
  StartSettled();
  settings().slowJogRate = {0, 1, 2, 5, 10, 20, 50, 100, 0, 0};
  settings().feedOverride = {0, 50, 80, 100, 0, 0, 0, 0, 0, 0};
  settings().feedRate = {"", "100", "200", "300", "0", "0", "0", "0", "0", "1500"};
  settings().spindleOverride = {0, 50, 100, 150, 0, 0, 0, 0, 0, 0};
  settings().spindleSpeed = {0, 1000, 2000, 3000, 0, 0, 0, 0, 0, 0};
  for (const auto& c : cases) {
    settings().useFeedRate = c.use_feed_rate;
    settings().useSpindleSpeed = c.use_spindle_speed;
    std::int32_t* position = c.jog_mode == 4   ? &win().positions.SlowJogPos
                             : c.jog_mode == 6 ? &win().positions.SpindlePos
                             : c.use_feed_rate ? &win().positions.FeedRatePos
                                               : &win().positions.FeedOverridePos;
    *position = c.start_position;
    HoldEnInJogMode(c.jog_mode);
    OneTurn(c.delta);
    EXPECT_EQ(SetDros(), c.write ? Log{c.write} : Log{}) << c.name;
    EXPECT_EQ(*position, c.position) << c.name;
    report().En(false);
    Updates(5);
    Tick();
    Calls();
  }
}

TEST_F(ValueAdjustTest, AllZeroButTheCurrentDoesNothing) {
  StartSettled();
  settings().feedOverride = {0, 0, 0, 90, 0, 0, 0, 0, 0, 0};
  win().positions.FeedOverridePos = 3;
  HoldEnInJogMode(5);
  OneTurn(1);
  OneTurn(-1);
  EXPECT_TRUE(SetDros().empty());
  EXPECT_EQ(win().positions.FeedOverridePos, 3);
}

TEST_F(ValueAdjustTest, OnePositionPerTurn) {
  StartSettled();
  settings().slowJogRate = {0, 1, 2, 5, 10, 20, 50, 100, 0, 0};
  HoldEnInJogMode(4);
  for (int i = 0; i < 40; ++i) Turn(5, 30);
  EXPECT_EQ(SetDros(), (Log{"SetDRO 3 2"}));
  Rest();
  Turn(5, 30);
  EXPECT_EQ(SetDros(), (Log{"SetDRO 3 5"}));
}

// The wheel must come to rest while its hold-off runs: a rest seen only
// after the hold-off has run out does not count.
TEST_F(ValueAdjustTest, RestAfterTheHoldOffDoesNotCount) {
  StartSettled();
  settings().slowJogRate = {0, 1, 2, 5, 10, 20, 50, 100, 0, 0};
  HoldEnInJogMode(4);
  Turn(1, 10);
  EXPECT_EQ(SetDros(), (Log{"SetDRO 3 2"}));
  Updates(3);
  Rest();
  Turn(1, 10);
  EXPECT_TRUE(SetDros().empty());
  Rest();
  Turn(1, 10);
  EXPECT_EQ(SetDros(), (Log{"SetDRO 3 5"}));
}

TEST_F(ValueAdjustTest, SpindleTablesShareOnePosition) {
  StartSettled();
  settings().spindleOverride = {0, 50, 100, 150, 200, 0, 0, 0, 0, 0};
  settings().spindleSpeed = {0, 1000, 2000, 3000, 4000, 0, 0, 0, 0, 0};
  HoldEnInJogMode(6);
  OneTurn(1);
  EXPECT_EQ(SetDros(), (Log{"SetDRO 74 100"}));
  settings().useSpindleSpeed = true;
  OneTurn(1);
  EXPECT_EQ(SetDros(), (Log{"SetDRO 817 3000"}));
  settings().useSpindleSpeed = false;
  OneTurn(1);
  EXPECT_EQ(SetDros(), (Log{"SetDRO 74 200"}));
}

// Only the feed-rate table follows the mirrored direction.
TEST_F(ValueAdjustTest, FeedRateTableFollowsMirroring) {
  const struct {
    const char* name;
    int jog_mode;
    bool use_feed_rate;
    int axis;
    const char* write;
  } cases[] = {
      {"feed rates, X mirrored", 5, true, 0, "SetDRO 818 100"},
      {"feed rates, Y not mirrored", 5, true, 1, "SetDRO 818 300"},
      {"feed overrides, X mirrored", 5, false, 0, "SetDRO 821 100"},
      {"jog rates, X mirrored", 4, false, 0, "SetDRO 3 5"},
  };
  StartSettled();
  settings().reverseX = true;
  settings().feedRate = {"", "100", "200", "300", "0", "0", "0", "0", "0", "0"};
  settings().feedOverride = {0, 50, 80, 100, 0, 0, 0, 0, 0, 0};
  settings().slowJogRate = {0, 1, 2, 5, 10, 20, 50, 100, 0, 0};
  for (const auto& c : cases) {
    settings().useFeedRate = c.use_feed_rate;
    SelectAxis(c.axis);
    win().positions.FeedRatePos = 2;
    win().positions.FeedOverridePos = 2;
    win().positions.SlowJogPos = 2;
    HoldEnInJogMode(c.jog_mode);
    OneTurn(1);
    EXPECT_EQ(SetDros(), (Log{c.write})) << c.name;
    report().En(false);
    Updates(5);
    Tick();
    Calls();
  }
}

TEST_F(ValueAdjustTest, RunningOrPausedIgnoresTheChoiceExceptStepSize) {
  StartSettled();
  settings().slowJogRate = {0, 1, 2, 5, 10, 20, 50, 100, 0, 0};
  for (int led : {804, 805}) {
    host_.leds[led] = true;
    HoldEnInJogMode(4);
    OneTurn(1);
    EXPECT_TRUE(SetDros().empty()) << led;
    report().En(false);
    Updates(5);
    Quiet();
    HoldEnLong();
    OneTurn(1);
    EXPECT_EQ(SetDros().size(), 1u) << led;
    report().En(false);
    Updates(5);
    Quiet();
    host_.leds[led] = false;
  }
}

TEST_F(ValueAdjustTest, TablesParseWithADotUnderACommaLocale) {
  K2T_WITH_COMMA_LOCALE(comma);
  StartSettled();
  settings().stepSize = {"", "0,5", "0.254", "0", "0", "0", "0", "0", "0", "1.5"};
  HoldEnLong();
  OneTurn(1);
  EXPECT_EQ(host_.dros[828], 0.2540000081062317);  // "0,5" reads as 0 and is skipped
  OneTurn(1);
  EXPECT_EQ(host_.dros[828], 1.5);
  OneTurn(1);
  EXPECT_EQ(host_.dros[828], 0.2540000081062317);
}

}  // namespace
}  // namespace k2t::testing
