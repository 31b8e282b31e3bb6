// The handwheel counter and step jogging: steps and direction from two
// counter bytes, mirroring, the G-code texts, settling after a reversal, and
// the feed-override save and restore.
#include <gtest/gtest.h>

#include "support/scenarios.h"

namespace k2t::testing {
namespace {

class HandwheelTest : public ScenarioTest {
 protected:
  // Step jogging (JogMode 1) on X with 0.01 per step at 60 units/min.
  void StartStepJog() {
    StartSettled();
    SetJogMode(1);
    host_.SetJogUnitFactor(0.01);
    for (int axis = 0; axis < 6; ++axis) host_.SetAxisMaxVelocity(axis, 2.0);
    host_.dros[818] = 500.0;
    host_.dros[821] = 80.0;
    Tick();
    Calls();
  }
  // Puts the counter where a case starts without a jog, and lets every
  // hold-off run out.
  void PlaceCounter(int count) {
    host_.SetJogInhibit(true);
    report().Counter(count).Rate(0);
    Tick();
    host_.SetJogInhibit(false);
    Updates(5);
    Tick();
    Calls();
  }
  void SelectAxis(int axis) {
    win().SelectedAxis = axis;
    win().PrevSelectedAxis = axis;
  }
  Log Codes() { return CallsStarting("Code"); }
};

struct CountCase {
  int from, to;
  const char* text;  // nullptr: no jog
};

TEST_F(HandwheelTest, CounterChangesToSteps) {
  const CountCase cases[] = {
      {250, 5, "G91G1 F60.0000 X 0.1100"},   {5, 250, "G91G1 F60.0000 X -0.1100"},
      {10, 137, "G91G1 F60.0000 X 1.2700"},  {137, 10, "G91G1 F60.0000 X -1.2700"},
      {0, 255, "G91G1 F60.0000 X -0.0100"},  {255, 0, "G91G1 F60.0000 X 0.0100"},
      {0, 129, "G91G1 F60.0000 X -1.2700"},  {129, 0, "G91G1 F60.0000 X 1.2700"},
      {100, 101, "G91G1 F60.0000 X 0.0100"}, {10, 138, nullptr},
      {138, 10, nullptr},                    {77, 77, nullptr},
  };
  StartStepJog();
  for (const auto& c : cases) {
    PlaceCounter(c.from);
    report().Counter(c.to).Rate(10);
    Tick();
    const Log expected = c.text ? Log{std::string("Code ") + c.text, "Code G90"} : Log{};
    EXPECT_EQ(Codes(), expected) << c.from << " -> " << c.to;
  }
}

// Half a turn between two reports says nothing about the sense: no steps,
// and the direction stays, so the next step in the old sense is no reversal.
TEST_F(HandwheelTest, HalfTurnIsDropped) {
  StartStepJog();
  Turn(1);
  EXPECT_EQ(Codes(), (Log{"Code G91G1 F60.0000 X 0.0100", "Code G90"}));
  Turn(-128);
  EXPECT_TRUE(Codes().empty());
  Turn(128);
  EXPECT_TRUE(Codes().empty());
  Turn(2);
  EXPECT_EQ(Codes(), (Log{"Code G91G1 F60.0000 X 0.0200", "Code G90"}));
}

struct MirrorCase {
  int axis;
  bool reverse_x, reverse_y, reverse_z;
  int delta;
  const char* text;
};

TEST_F(HandwheelTest, Mirroring) {
  const MirrorCase cases[] = {
      {0, true, false, false, 3, "G91G1 F60.0000 X -0.0300"},
      {0, true, false, false, -3, "G91G1 F60.0000 X 0.0300"},
      {0, false, true, true, 3, "G91G1 F60.0000 X 0.0300"},
      {1, false, true, false, 3, "G91G1 F60.0000 Y -0.0300"},
      {1, true, false, true, 3, "G91G1 F60.0000 Y 0.0300"},
      {2, false, false, true, 3, "G91G1 F60.0000 Z -0.0300"},
      {3, true, true, true, 3, "G91G1 F60.0000 A 0.0300"},
      {4, true, true, true, 3, "G91G1 F60.0000 B 0.0300"},
      {5, true, true, true, -3, "G91G1 F60.0000 C -0.0300"},
  };
  StartStepJog();
  for (const auto& c : cases) {
    settings().reverseX = c.reverse_x;
    settings().reverseY = c.reverse_y;
    settings().reverseZ = c.reverse_z;
    SelectAxis(c.axis);
    Updates(5);
    Tick();
    Calls();
    Turn(c.delta);
    EXPECT_EQ(Codes(), (Log{std::string("Code ") + c.text, "Code G90"})) << c.text;
  }
}

TEST_F(HandwheelTest, StepJogSavesForcesAndRestoresTheFeed) {
  StartStepJog();
  module_.behaviour.StepJogPercent = 25.0;
  host_.SetAxisMaxVelocity(0, 5.0);
  Turn(3);
  EXPECT_EQ(Calls(), (Log{"SetDRO 821 100", "Code G91G1 F75.0000 X 0.0300", "Code G90"}));
  Updates(2);
  Turn(1);  // renews the hold-off; the saved values stay
  EXPECT_EQ(Calls(), (Log{"Code G91G1 F75.0000 X 0.0100", "Code G90"}));
  Updates(2);
  Rest();
  EXPECT_TRUE(Calls().empty());
  Updates(1);
  Rest();
  EXPECT_EQ(Calls(), (Log{"SetDRO 818 500", "SetDRO 821 80"}));
  Rest(3);
  EXPECT_TRUE(Calls().empty());
}

TEST_F(HandwheelTest, NoG90InIncrementalMode) {
  StartStepJog();
  host_.SetIncrementalMode(true);
  Tick();
  Calls();
  Turn(3);
  EXPECT_EQ(Codes(), (Log{"Code G91G1 F60.0000 X 0.0300"}));
}

TEST_F(HandwheelTest, Dro22At20SavesAndForcesButSendsNothing) {
  StartStepJog();
  host_.dros[22] = 20.0;
  Turn(3);
  EXPECT_EQ(Calls(), (Log{"SetDRO 821 100"}));
  Updates(2);
  Rest();
  EXPECT_TRUE(Calls().empty());
  Updates(1);
  Rest();
  EXPECT_EQ(Calls(), (Log{"SetDRO 818 500", "SetDRO 821 80"}));
  host_.dros[22] = 19.99;
  Turn(3);
  EXPECT_EQ(Calls(), (Log{"SetDRO 821 100", "Code G91G1 F60.0000 X 0.0300", "Code G90"}));
}

// A feed override changed while the saved values are held (here by the
// wheel in ActionMode 5) is overwritten by the restore.
TEST_F(HandwheelTest, RestoreOverwritesAnOverrideChangedMeanwhile) {
  StartStepJog();
  Turn(3);
  EXPECT_EQ(Calls(), (Log{"SetDRO 821 100", "Code G91G1 F60.0000 X 0.0300", "Code G90"}));
  SetJogMode(5);
  Turn(10);
  EXPECT_EQ(Calls(), (Log{"DoButton 334", "SetDRO 821 105"}));
  Updates(3);
  Rest();
  EXPECT_EQ(Calls(), (Log{"SetDRO 818 500", "SetDRO 821 80"}));
}

TEST_F(HandwheelTest, ReversalSettlesForFourUpdates) {
  StartStepJog();
  Turn(1);
  EXPECT_EQ(Codes().size(), 2u);
  Turn(-1);  // reversed while active
  EXPECT_TRUE(Codes().empty());
  for (int updates = 1; updates <= 3; ++updates) {
    Updates(1);
    Turn(-1);
    EXPECT_TRUE(Codes().empty()) << updates;
  }
  Updates(1);
  Turn(-1);
  EXPECT_EQ(Codes(), (Log{"Code G91G1 F60.0000 X -0.0100", "Code G90"}));
}

TEST_F(HandwheelTest, ReversalAfterAQuietWheelActsAtOnce) {
  const struct {
    int updates;
    bool at_once;
  } cases[] = {{3, false}, {4, true}, {10, true}};
  StartStepJog();
  for (const auto& c : cases) {
    Updates(10);
    Turn(1);
    Calls();
    Updates(c.updates);
    Turn(-1);
    EXPECT_EQ(!Codes().empty(), c.at_once) << c.updates;
    Updates(10);
    Turn(-1);
    Calls();
  }
}

TEST_F(HandwheelTest, WhatKeepsAStepJogBack) {
  const struct {
    const char* name;
    std::vector<int> leds;
    bool queued;
    bool inhibit;
    bool sent;
  } cases[] = {
      {"running", {804}, false, false, false},
      {"paused", {805}, false, false, false},
      {"running with 806", {804, 806}, false, false, true},
      {"paused with 806, queued", {805, 806}, true, false, false},
      {"queued alone", {}, true, false, true},
      {"806 alone", {806}, false, false, true},
      {"jog inhibit", {}, false, true, false},
  };
  StartStepJog();
  for (const auto& c : cases) {
    for (int led : c.leds) host_.leds[led] = true;
    host_.SetMotionQueued(c.queued);
    host_.SetJogInhibit(c.inhibit);
    Turn(1);
    const Log codes = Codes();
    EXPECT_EQ(!codes.empty() && codes[0].rfind("Code G91G1", 0) == 0, c.sent) << c.name;
    for (int led : c.leds) host_.leds[led] = false;
    host_.SetMotionQueued(false);
    host_.SetJogInhibit(false);
    Updates(5);
    Tick();
    Calls();
  }
}

TEST_F(HandwheelTest, JogOffMessage) {
  StartStepJog();
  host_.leds[83] = false;
  Turn(2);
  EXPECT_TRUE(Codes().empty());
  EXPECT_EQ(host_.MessageText(), " Jog OFF. ");
}

TEST_F(HandwheelTest, HeldButtonsRestTheWheel) {
  StartStepJog();
  report().StartHold();
  Tick();
  Calls();
  Turn(5);
  Turn(5);
  EXPECT_TRUE(Codes().empty());
}

// A reversal while motion is queued holds the jog texts back; G90 still goes.
TEST_F(HandwheelTest, ReversalWithMotionQueuedHolds) {
  StartStepJog();
  Turn(1);
  Calls();
  host_.SetMotionQueued(true);
  Updates(5);
  Turn(-1);
  EXPECT_EQ(Codes(), (Log{"Code G90"}));
  EXPECT_TRUE(module_.behaviour.StepJogHold);
  host_.SetMotionQueued(false);
  Turn(-1);
  EXPECT_EQ(Codes(), (Log{"Code G91G1 F60.0000 X -0.0100", "Code G90"}));
}

struct RotatedCase {
  int axis;
  int delta;
  const char* text;
};

TEST_F(HandwheelTest, RotatedSteps) {
  const RotatedCase cases[] = {
      {0, 2, "Code G91G1 X0.1732 Y-0.1000 "},
      {1, 2, "Code G91G1 X0.1000 Y0.1732 "},
      {0, -2, "Code G91G1 X-0.1732 Y0.1000 "},
  };
  StartStepJog();
  host_.SetJogUnitFactor(0.1);
  host_.SetRotationAngle(30.0);
  for (const auto& c : cases) {
    SelectAxis(c.axis);
    Updates(5);
    Tick();
    Calls();
    Turn(c.delta);
    EXPECT_EQ(Calls(), (Log{c.text, "Code G90"})) << c.text;  // no feed saved
  }
  // Z is never rotated.
  SelectAxis(2);
  Updates(5);
  Tick();
  Calls();
  Turn(2);
  EXPECT_EQ(Calls(), (Log{"SetDRO 821 100", "Code G91G1 F60.0000 Z 0.2000", "Code G90"}));
}

TEST_F(HandwheelTest, RotatedStepHeldBack) {
  StartStepJog();
  host_.SetJogUnitFactor(0.1);
  host_.SetRotationAngle(30.0);
  host_.dros[22] = 25.0;
  Turn(2);
  EXPECT_TRUE(Calls().empty());
  host_.dros[22] = 0.0;
  module_.behaviour.StepJogHold = true;
  host_.SetMotionQueued(true);
  Turn(2);
  EXPECT_EQ(Codes(), (Log{"Code G90"}));
}

class JogRateStepTest : public HandwheelTest {
 protected:
  // ActionMode 13: JogMode 3 with EN held.
  void StartJogRateStep() {
    StartStepJog();
    SetJogMode(3);
    host_.dros[3] = 33.3;
    report().En();
    Tick();
    Calls();
  }
};

// The feed is held in single precision: 33.3 % of 120 shows as 39.959999.
TEST_F(JogRateStepTest, FeedInSinglePrecision) {
  StartJogRateStep();
  ASSERT_EQ(win().ActionMode, 13);
  Turn(3);
  EXPECT_EQ(Calls(), (Log{"SetDRO 821 100", "Code G91G1 F39.959999 X 0.0300", "Code G90"}));
  // No settling: a reversal goes at once; the hold does not apply; DRO 22
  // is not read.
  module_.behaviour.StepJogHold = true;
  host_.SetMotionQueued(true);
  host_.dros[22] = 50.0;
  Turn(-1);
  EXPECT_EQ(Calls(), (Log{"Code G91G1 F39.959999 X -0.0100", "Code G90"}));
}

// Both steps are narrowed: 7.5 % of 12.34 x 60 narrowed once would show
// 55.529999.
TEST_F(JogRateStepTest, FeedNarrowedAtBothSteps) {
  StartJogRateStep();
  host_.SetAxisMaxVelocity(0, 12.34);
  host_.dros[3] = 7.5;
  Turn(3);
  EXPECT_EQ(Codes(), (Log{"Code G91G1 F55.530003 X 0.0300", "Code G90"}));
}

TEST_F(JogRateStepTest, RotatedIsSentDespiteTheHold) {
  StartJogRateStep();
  host_.SetJogUnitFactor(0.1);
  host_.SetRotationAngle(30.0);
  module_.behaviour.StepJogHold = true;
  host_.SetMotionQueued(true);
  Turn(2);
  EXPECT_EQ(Calls(), (Log{"Code G91G1 X0.1732 Y-0.1000 ", "Code G90"}));
}

TEST_F(JogRateStepTest, HeldBackByRunningPausedOrJogOff) {
  StartJogRateStep();
  for (int led : {804, 805}) {
    host_.leds[led] = true;
    Turn(2);
    EXPECT_TRUE(Calls().empty()) << led;
    host_.leds[led] = false;
  }
  host_.leds[83] = false;
  Turn(2);
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(host_.MessageText(), " Jog OFF. ");
}

// Every jog text keeps its decimal point under a comma locale.
TEST_F(HandwheelTest, TextsUnderACommaLocale) {
  K2T_WITH_COMMA_LOCALE(comma);
  StartStepJog();
  Turn(3);
  EXPECT_EQ(Codes(), (Log{"Code G91G1 F60.0000 X 0.0300", "Code G90"}));
  host_.SetJogUnitFactor(0.1);
  host_.SetRotationAngle(30.0);
  Updates(5);
  Turn(2);
  EXPECT_EQ(Codes(), (Log{"Code G91G1 X0.1732 Y-0.1000 ", "Code G90"}));
  host_.SetRotationAngle(0.0);
  host_.SetJogUnitFactor(0.01);
  SetJogMode(3);
  host_.dros[3] = 33.3;
  report().En();
  Tick();
  Calls();
  Turn(3);
  EXPECT_EQ(Codes(), (Log{"Code G91G1 F39.959999 X 0.0300", "Code G90"}));
}

}  // namespace
}  // namespace k2t::testing
