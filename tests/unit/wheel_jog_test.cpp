// Velocity and continuous wheel modes: what is written into the selected
// axis' jog block before each "DOJOG", and how a wheel jog ends.
#include <gtest/gtest.h>

#include "support/scenarios.h"

namespace k2t::testing {
namespace {

constexpr std::int32_t kMaxSteps = 10000;

class WheelJogTest : public ScenarioTest {
 protected:
  void StartWheelJog(int jog_mode) {
    Restart();
    StartSettled();
    SetJogMode(jog_mode);
    for (int axis = 0; axis < 6; ++axis) {
      host_.SetAxisMaxVelocitySteps(axis, kMaxSteps);
      host_.SetAxisAccelerationSteps(axis, 700 + axis);
    }
    settings().velocityIndex = 0;  // sensitivity 3
    settings().slowDownIndex = 0;  // divisor 2
    settings().delaySteps = 0;
    host_.dros[3] = 50.0;
    Tick();
    Calls();
  }
  // The wheel at rest until its hold-off has run out and the jog has ended.
  void RestUntilEnded() {
    Rest(2);
    Updates(3);
    Rest();
  }
  AxisJogBlock Block(int axis = 0) const { return host_.JogBlock(axis); }
};

TEST_F(WheelJogTest, VelocityFollowsTheWeightedRate) {
  StartWheelJog(2);
  Turn(1, 20);
  EXPECT_EQ(Calls(), (Log{"Code DOJOG"}));
  // A cleared history: the newest weight alone, 1.82 / 10 of the steady speed.
  EXPECT_NEAR(Block().velocity, kMaxSteps * 0.5 * 0.182, 1.0);
  for (int i = 0; i < 9; ++i) Turn(1, 20);
  EXPECT_EQ(win().wheel.SpeedFraction, 0.5);
  const AxisJogBlock b = Block();
  EXPECT_EQ(b.velocity, kMaxSteps / 2);
  EXPECT_EQ(b.max_velocity, kMaxSteps);
  EXPECT_EQ(b.acceleration, 700);
  EXPECT_EQ(b.direction, 0);
  EXPECT_EQ(b.stop, 0);
  EXPECT_EQ(b.active, 1);
  EXPECT_EQ(Calls(), Log(9, "Code DOJOG"));
}

// The block of the selected axis is written, and no other.
TEST_F(WheelJogTest, WritesTheSelectedAxisBlock) {
  for (int mode : {2, 3}) {
    StartWheelJog(mode);
    win().SelectedAxis = 4;
    Tick();
    Calls();
    host_.SetAxisMaxVelocitySteps(4, 2000);
    ClearJogStops();
    Turn(1, 40);
    EXPECT_EQ(Calls(), (Log{"Code DOJOG"})) << mode;
    const AxisJogBlock b = Block(4);
    EXPECT_EQ(b.max_velocity, 2000) << mode;
    EXPECT_EQ(b.acceleration, 704) << mode;
    EXPECT_EQ(b.active, 1) << mode;
    // 2000 x 0.182 (one report at 40), or DRO 3 = 50 % of 2000.
    EXPECT_NEAR(b.velocity, mode == 2 ? 364 : 1000, 1) << mode;
    for (int axis : {0, 1, 2, 3, 5}) EXPECT_EQ(Block(axis).active, 0) << mode << " axis " << axis;
    Rest();
    EXPECT_EQ(Calls(), (Log{"Code ENDJOG"})) << mode;
    EXPECT_EQ(StoppedAxes(), 1) << mode;
    EXPECT_EQ(Block(4).stop, 1) << mode;
  }
}

struct VelocityCase {
  const char* name;
  int velocity_index;
  int slow_down_index;
  int rate;
  bool en;
  std::int32_t velocity;  // after ten reports at that rate
  double tolerance;
};

TEST_F(WheelJogTest, SteadyRates) {
  const VelocityCase cases[] = {
      {"rate 20", 0, 0, 20, false, 5000, 0},
      {"rate 20, EN, divisor 2", 0, 0, 20, true, 2500, 0},
      {"rate 20, EN, divisor 4", 0, 2, 20, true, 1250, 0},
      {"rate 40", 0, 0, 40, false, kMaxSteps, 0},
      {"rate 41", 0, 0, 41, false, kMaxSteps, 0},
      {"rate 255", 0, 0, 255, false, kMaxSteps, 0},
      {"rate 10", 0, 0, 10, false, 2500, 0},
      {"sensitivity 25", 9, 0, 20, false, 600, 1},
      {"sensitivity 5", 2, 0, 20, false, 3000, 1},
      {"velocity index outside: 5", -1, 0, 20, false, 3000, 1},
      {"velocity index outside, high", 10, 0, 20, false, 3000, 1},
      {"slow-down index outside: 4", 0, 3, 20, true, 1250, 0},
      {"slow-down index -1", 0, -1, 20, true, 1250, 0},
  };
  StartWheelJog(2);
  for (const auto& c : cases) {
    settings().velocityIndex = static_cast<std::int16_t>(c.velocity_index);
    settings().slowDownIndex = static_cast<std::int16_t>(c.slow_down_index);
    report().En(c.en);
    for (int i = 0; i < 10; ++i) Turn(1, c.rate);
    EXPECT_NEAR(Block().velocity, c.velocity, c.tolerance) << c.name;
    report().En(false);
    RestUntilEnded();
    Calls();
  }
}

TEST_F(WheelJogTest, QuietWheelEndsTheJogAndClearsTheHistory) {
  StartWheelJog(2);
  for (int i = 0; i < 10; ++i) Turn(1, 20);
  Calls();
  Rest();
  EXPECT_EQ(Calls(), (Log{"Code ENDJOG"}));
  EXPECT_EQ(Block().stop, 1);
  Rest();
  EXPECT_EQ(Calls(), (Log{"Code ENDJOG"}));
  Updates(3);
  Rest();
  EXPECT_TRUE(Calls().empty());
  EXPECT_FALSE(win().wheel.HostJogActive);
  Rest(5);
  EXPECT_TRUE(Calls().empty());
  // A new turn starts low again.
  Turn(1, 20);
  EXPECT_EQ(Calls(), (Log{"Code DOJOG"}));
  EXPECT_NEAR(Block().velocity, kMaxSteps * 0.5 * 0.182, 1.0);
}

// A reversal while the wheel is active stops the axis at once and blocks
// the wheel for three Update calls.
TEST_F(WheelJogTest, ReversalStopsAndSettles) {
  for (int mode : {2, 3}) {
    StartWheelJog(mode);
    for (int i = 0; i < 3; ++i) Turn(2, 20);
    Calls();
    ClearJogStops();
    Turn(-2, 20);
    EXPECT_EQ(Calls(), (Log{"Code ENDJOG"})) << mode;
    EXPECT_EQ(Block().stop, 1) << mode;
    Updates(2);
    Turn(-2, 20);
    EXPECT_TRUE(Calls().empty()) << mode;
    Updates(1);
    Turn(-2, 20);
    EXPECT_EQ(Calls(), (Log{"Code DOJOG"})) << mode;
    EXPECT_EQ(Block().direction, 1) << mode;
    EXPECT_EQ(Block().stop, 0) << mode;
    if (mode == 2) {
      // The reversal cleared the rate history: a low start again.
      EXPECT_NEAR(Block().velocity, kMaxSteps * 0.5 * 0.182, 1.0);
    }
  }
}

TEST_F(WheelJogTest, ContinuousStartsAfterDelaySteps) {
  StartWheelJog(3);
  settings().delaySteps = 25;
  Turn(24);
  EXPECT_TRUE(Calls().empty());
  Turn(1);
  EXPECT_EQ(Calls(), (Log{"Code DOJOG"}));
  EXPECT_EQ(Block().velocity, 5000);  // DRO 3 = 50 %
  host_.dros[3] = 12.5;
  Turn(5);
  EXPECT_EQ(Calls(), (Log{"Code DOJOG"}));
  EXPECT_EQ(Block().velocity, 1250);
  Rest();
  EXPECT_EQ(Calls(), (Log{"Code ENDJOG"}));
  Rest();
  EXPECT_EQ(Calls(), (Log{"Code ENDJOG"}));
  Updates(3);
  Rest();
  EXPECT_TRUE(Calls().empty());
  // The next turn must cover the delay again.
  Turn(24);
  EXPECT_TRUE(Calls().empty());
  Turn(1);
  EXPECT_EQ(Calls(), (Log{"Code DOJOG"}));
}

TEST_F(WheelJogTest, ContinuousWithoutDelayMovesAtOnce) {
  StartWheelJog(3);
  Turn(1);
  EXPECT_EQ(Calls(), (Log{"Code DOJOG"}));
  EXPECT_EQ(Block().velocity, 5000);
}

// A count above 30000 goes back to 400: with a delay of 500 the jog pauses
// until 100 more steps have come.
TEST_F(WheelJogTest, DelayCountAbove30000GoesBackTo400) {
  StartWheelJog(3);
  settings().delaySteps = 500;
  int dojogs = 0;
  for (int i = 0; i < 237; ++i) {  // 237 x 127 = 30099 steps
    Turn(127);
    for (const auto& c : Calls()) dojogs += c == "Code DOJOG" ? 1 : 0;
  }
  EXPECT_EQ(dojogs, 237 - 3);  // from the fourth report on (508 steps)
  EXPECT_EQ(win().wheel.DelayCount, 400);
  Turn(1);
  Turn(98);
  EXPECT_TRUE(Calls().empty());
  Turn(1);
  EXPECT_EQ(Calls(), (Log{"Code DOJOG"}));
}

TEST_F(WheelJogTest, JogModeSwitchAroundAWheelJog) {
  const struct {
    int mode;
    bool led15;
    Log first, end;
  } cases[] = {
      {2, true, {"DoButton 204", "Code DOJOG"}, {"DoButton 205"}},
      {2, false, {"Code DOJOG"}, {}},
      {3, true, {"DoButton 204", "Code DOJOG"}, {"DoButton 205"}},
      {3, false, {"Code DOJOG"}, {}},
  };
  for (const auto& c : cases) {
    StartWheelJog(c.mode);
    host_.leds[15] = c.led15;
    Turn(1, 20);
    EXPECT_EQ(Calls(), c.first) << c.mode << c.led15;
    Turn(1, 20);
    EXPECT_EQ(Calls(), (Log{"Code DOJOG"})) << c.mode << c.led15;
    Rest(2);
    EXPECT_EQ(Calls(), (Log{"Code ENDJOG", "Code ENDJOG"})) << c.mode << c.led15;
    Updates(3);
    Rest();
    EXPECT_EQ(Calls(), c.end) << c.mode << c.led15;
    host_.leds[15] = false;
  }
}

TEST_F(WheelJogTest, UnplugDuringAVelocityJog) {
  StartWheelJog(2);
  host_.leds[15] = true;
  for (int i = 0; i < 5; ++i) Turn(1, 30);
  Calls();
  ClearJogStops();
  win().HandleDeviceChange(kDeviceRemoval, "/DEV/HIDRAW3");
  EXPECT_EQ(Calls(), (Log{"Code ENDJOG", "DoButton 205"}));
  EXPECT_EQ(Block().stop, 1);
  TickSilent(10);
  Updates(5);
  TickSilent(10);
  EXPECT_TRUE(Calls().empty());
  // Back again: the counter moved meanwhile, which is no turn.
  win().HandleDeviceChange(kDeviceArrival, "/dev/hidraw3");
  report().Counter(counter() + 90).Rate(0);
  Tick(3);
  EXPECT_TRUE(CallsStarting("Code DOJOG").empty());
  Turn(1, 20);
  EXPECT_EQ(Calls(), (Log{"DoButton 204", "Code DOJOG"}));
}

TEST_F(WheelJogTest, StopPlugDuringAVelocityJog) {
  StartWheelJog(2);
  host_.leds[15] = true;
  for (int i = 0; i < 5; ++i) Turn(1, 30);
  Calls();
  ClearJogStops();
  module_.StopPlug();
  EXPECT_EQ(Calls(), (Log{"Code ENDJOG", "DoButton 205"}));
  EXPECT_EQ(Block().stop, 1);
  module_.StopPlug();
  EXPECT_TRUE(Calls().empty());
}

TEST_F(WheelJogTest, JogInhibitEndsTheJogWithoutTouchingTheBlock) {
  StartWheelJog(2);
  host_.leds[15] = true;
  for (int i = 0; i < 5; ++i) Turn(1, 30);
  Calls();
  ClearJogStops();
  host_.SetJogInhibit(true);
  Turn(1, 30);
  EXPECT_EQ(Calls(), (Log{"DoButton 205"}));
  EXPECT_EQ(Block().stop, 0);
  EXPECT_FALSE(win().wheel.HostJogActive);
  Turn(1, 30);
  EXPECT_TRUE(Calls().empty());
}

TEST_F(WheelJogTest, JogOffWritesNothingToTheBlock) {
  for (int mode : {2, 3}) {
    StartWheelJog(mode);
    host_.leds[83] = false;
    Turn(3, 20);
    EXPECT_TRUE(Calls().empty()) << mode;
    EXPECT_EQ(host_.MessageText(), " Jog OFF. ") << mode;
    EXPECT_EQ(Block().active, 0) << mode;
    host_.leds[83] = true;
  }
}

TEST_F(WheelJogTest, RunningOrPausedWithout806IgnoresTheTick) {
  const struct {
    std::vector<int> leds;
    bool moves;
  } cases[] = {{{804}, false}, {{805}, false}, {{804, 806}, true}, {{806}, true}};
  for (int mode : {2, 3}) {
    for (const auto& c : cases) {
      StartWheelJog(mode);
      for (int led : c.leds) host_.leds[led] = true;
      Turn(1, 20);
      EXPECT_EQ(Calls(), c.moves ? Log{"Code DOJOG"} : Log{}) << mode;
      for (int led : c.leds) host_.leds[led] = false;
    }
  }
}

// Leaving the mode does not end the jog; a later quiet tick in the mode does.
TEST_F(WheelJogTest, LeavingTheModeKeepsTheJogUntilAQuietTick) {
  StartWheelJog(2);
  host_.leds[15] = true;
  Turn(1, 20);
  Calls();
  SetJogMode(1);
  Rest();
  EXPECT_EQ(Calls(), (Log{"DoButton 334"}));
  EXPECT_TRUE(win().wheel.HostJogActive);
  Updates(5);
  SetJogMode(2);
  Rest();
  EXPECT_EQ(Calls(), (Log{"DoButton 334", "DoButton 205"}));
  EXPECT_FALSE(win().wheel.HostJogActive);
}

}  // namespace
}  // namespace k2t::testing
