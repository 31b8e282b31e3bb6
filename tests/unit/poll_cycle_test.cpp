// The poll cycle: counters, the host-idle sample, the read paths, and what a
// stale report may and may not do.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/fakes.h"

namespace k2t::testing {
namespace {

class PollCycleTest : public PendantTest {
 protected:
  // Velocity mode (JogMode 2) with the wheel turning and EN held.
  void StartVelocityJogWithEnHeld() {
    Start();
    host_.SetAxisMaxVelocitySteps(0, 4000);
    Settle();
    report().Counter(10).Rate(30).En();
    Tick();
    report().Counter(20).Rate(30).En();
    Tick(3);
  }
};

TEST_F(PollCycleTest, ActivityCountdownCycleAndHold) {
  Start();
  Tick();
  EXPECT_EQ(win().ActivityCountdown, 159);
  Tick(159);
  EXPECT_EQ(win().ActivityCountdown, 0);
  Tick();
  EXPECT_EQ(win().ActivityCountdown, 159);
  // While the previous report shows the wheel turning it stays at 159.
  report().Rate(5);
  Tick();           // decodes the turning report
  Tick(3);
  EXPECT_EQ(win().ActivityCountdown, 159);
  report().Rate(0);
  Tick();           // the countdown still saw the turning report
  EXPECT_EQ(win().ActivityCountdown, 159);
  Tick();
  EXPECT_EQ(win().ActivityCountdown, 158);
}

TEST_F(PollCycleTest, DisconnectedTicksStepCountersOnly) {
  Start(false);
  module_.input.PollHoldoff = 3;
  win().OnPollTick();
  win().OnPollTick();
  EXPECT_EQ(win().ActivityCountdown, 158);
  EXPECT_EQ(module_.input.PollHoldoff, 1);
  for (const auto& p : module_.input.press) {
    EXPECT_EQ(p.PressTicks, 2);
    EXPECT_EQ(p.GapTicks, 2);
  }
  EXPECT_TRUE(host_.calls.empty());
  EXPECT_TRUE(host_.reads.empty());
}

TEST_F(PollCycleTest, ReturnToAbsoluteFollowsTheHostOnlyWhenIdle) {
  Start();
  Tick();
  EXPECT_TRUE(win().ReturnToAbsolute);
  host_.SetPlannerBusy(true);
  host_.SetIncrementalMode(true);
  Tick(3);
  EXPECT_TRUE(win().ReturnToAbsolute);
  host_.SetPlannerBusy(false);
  host_.SetMotionQueued(true);
  Tick();
  EXPECT_TRUE(win().ReturnToAbsolute);
  host_.SetMotionQueued(false);
  Tick();
  EXPECT_FALSE(win().ReturnToAbsolute);
  host_.SetIncrementalMode(false);
  Tick();
  EXPECT_TRUE(win().ReturnToAbsolute);
}

TEST_F(PollCycleTest, ReadPaths) {
  Start();
  Settle();
  FakeDevice& d = pendant();
  // Nothing waiting: the previous report is decoded again and a fresh
  // output written; no tick waits for a report that has not arrived.
  Tick();
  const std::size_t written = d.written.size();
  const int reads = d.reads_started;
  TickSilent(3);
  EXPECT_EQ(d.written.size(), written + 3);
  EXPECT_EQ(d.reads_started, reads + 3);
  // A report that arrives after a tick's read is the next tick's.
  d.reports.push_back(ReportBuilder().Counter(2).Bytes());
  TickSilent();
  EXPECT_EQ(win().LastWheelCount, 2);
  // Several waiting: all are taken, the newest decoded.
  d.reports.push_back(ReportBuilder().Counter(3).Bytes());
  d.reports.push_back(ReportBuilder().Counter(4).Bytes());
  TickSilent();
  EXPECT_EQ(win().LastWheelCount, 4);
  EXPECT_TRUE(d.reports.empty());
  // A device that fails in the middle of the drain: its reports of this
  // tick are dropped and the last one counts as stale...
  d.reports.push_back(ReportBuilder().Counter(5).En().Bytes());
  d.fail_after_reads = 1;
  TickSilent();
  EXPECT_EQ(win().LastWheelCount, 4);
  EXPECT_FALSE(win().EnButton);
  EXPECT_TRUE(win().StaleReport);
}

// A removal notice delivered inside a host callback (a host that runs its
// message loop there) waits for the tick to end: the jog the tick starts is
// then ended, and a tick inside the tick does nothing.
TEST_F(PollCycleTest, NoticeDuringATickIsHandledAfterIt) {
  Start();
  host_.SetAxisMaxVelocitySteps(0, 4000);
  host_.leds[15] = true;  // the host's jog mode needs a switch before a wheel jog
  Settle();
  int nested = 0;
  host_.on_call = [&](const std::string& call) {
    if (call != "DoButton 204") return;
    win().OnPollTick();
    ++nested;
    win().HandleDeviceChange(kDeviceRemoval, "/dev/hidraw3");
    EXPECT_TRUE(win().Connected);
  };
  report().Counter(10).Rate(30);
  Tick();
  report().Counter(20).Rate(30);
  Tick();
  EXPECT_EQ(nested, 1);
  EXPECT_FALSE(win().Connected);
  const auto calls = Calls();
  const auto dojog = std::find(calls.begin(), calls.end(), "Code DOJOG");
  ASSERT_NE(dojog, calls.end());
  EXPECT_NE(std::find(dojog, calls.end(), "Code ENDJOG"), calls.end());
  EXPECT_EQ(host_.JogBlock(0).stop, 1);
}

// ...but an E-stop press among them still counts: the cable torn out by
// the pressing hand must not cost the E-stop.
TEST_F(PollCycleTest, EStopPressedJustBeforeTheDeviceFailsIsActedOn) {
  Start();
  Settle();
  FakeDevice& d = pendant();
  d.reports.push_back(ReportBuilder().Counter(5).EStop().Bytes());
  d.fail_after_reads = 1;
  TickSilent();
  const auto calls = Calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "DoButton 1021"), calls.end());
  EXPECT_EQ(win().LastWheelCount, 0);
}

TEST_F(PollCycleTest, InvalidWriteHandleDropsTheOutput) {
  auto d = std::make_shared<FakeDevice>();
  d->path = "/dev/hidraw3";
  d->fail_write_open = true;
  platform_.devices.push_back(d);
  Start(false);
  Tick(3);
  EXPECT_TRUE(d->written.empty());
  EXPECT_EQ(win().LastWheelCount, 0);
  report().Counter(9);
  Tick();
  EXPECT_EQ(win().LastWheelCount, 9);  // still reads and decodes
}

TEST_F(PollCycleTest, OutputReportBytes) {
  Start();
  Updates(3);
  Tick();
  const auto& out = LastOutput();
  ASSERT_EQ(out.size(), 21u);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 0);
  EXPECT_EQ(out[18], 4);     // UpdateSequence after three Update calls
  EXPECT_EQ(out[19], 0x03);  // X, JogMode 2
  EXPECT_EQ(out[20], 0);
}

// A report that showed the wheel turning and EN held when the cable came
// out must not go on driving the machine after a failed re-open.
TEST_F(PollCycleTest, StaleReportDrivesNothing) {
  StartVelocityJogWithEnHeld();
  auto calls = Calls();
  ASSERT_NE(std::find(calls.begin(), calls.end(), "Code DOJOG"), calls.end());
  EXPECT_TRUE(win().wheel.HostJogActive);

  win().HandleDeviceChange(kDeviceRemoval, "/dev/hidraw3");
  calls = Calls();
  EXPECT_EQ(calls, (std::vector<std::string>{"Code ENDJOG"}));
  EXPECT_EQ(host_.JogBlock(0).stop, 1);
  EXPECT_FALSE(win().wheel.HostJogActive);

  pendant().fail_read_open = true;
  win().HandleDeviceChange(kDeviceArrival, "/dev/hidraw7");
  EXPECT_TRUE(win().Connected);
  EXPECT_FALSE(win().read_handle_valid());
  Updates(10);
  TickSilent(20);
  for (const auto& c : Calls()) {
    EXPECT_NE(c, "Code DOJOG");
    EXPECT_EQ(c.rfind("Code G91", 0), std::string::npos) << c;
  }
  EXPECT_FALSE(win().EnButton);
  EXPECT_EQ(WheelRateOf(win().ReportWord0), 0u);
  EXPECT_EQ(win().wheel.WheelSteps, 0);

  // Re-plugged: the pendant's counter has moved on; that is not a turn.
  pendant().fail_read_open = false;
  win().HandleDeviceChange(kDeviceArrival, "/dev/hidraw3");
  report().Counter(200).Rate(0);
  module_.behaviour.JogMode = 1;
  Updates(5);
  Tick(2);
  for (const auto& c : Calls()) EXPECT_EQ(c.rfind("Code G91", 0), std::string::npos) << c;
  EXPECT_EQ(win().LastWheelCount, 200);
}

// Reads failing before the removal notice arrives: the last report no
// longer counts as the pendant's.
TEST_F(PollCycleTest, FailingReadsStopDrivingBeforeTheRemovalNotice) {
  StartVelocityJogWithEnHeld();
  ASSERT_TRUE(win().wheel.HostJogActive);
  Calls();
  pendant().gone = true;
  TickSilent();
  EXPECT_FALSE(win().EnButton);
  EXPECT_EQ(WheelRateOf(win().ReportWord0), 0u);
  EXPECT_EQ(Calls(), (std::vector<std::string>{"Code ENDJOG"}));
  Updates(4);
  TickSilent(3);
  EXPECT_FALSE(win().wheel.HostJogActive);
  for (const auto& c : Calls()) EXPECT_NE(c, "Code DOJOG");
}

// The E-stop bit survives the loss of the link: a pulled cable must never
// read as the E-stop being released.
TEST_F(PollCycleTest, StaleReportKeepsEStopAndModeCode) {
  Start();
  Settle();
  report().EStop().Mode(2).X();
  Tick();
  Calls();
  win().HandleDeviceChange(kDeviceRemoval, "/dev/hidraw3");
  pendant().fail_read_open = true;
  win().HandleDeviceChange(kDeviceArrival, "/dev/hidraw3");
  host_.leds[800] = true;
  TickSilent(5);
  EXPECT_TRUE(Calls().empty());  // no release code
  EXPECT_TRUE(module_.input.EStopSwitch);
  EXPECT_TRUE(module_.input.ModeCode2);
  EXPECT_FALSE(module_.input.XKey);
}

// Press detection, driven tick by tick: P pressed, . released; the expected
// flags after each tick as 1 / 0. The first 14 ticks are released so the
// early double-press window has passed.
struct PressCase {
  const char* name;
  std::string ticks, double_press, long_hold;
};

std::string Rep(char c, int n) { return std::string(static_cast<std::size_t>(n), c); }

TEST(PressDetection, Sequences) {
  const std::string quiet = Rep('.', 14);
  const PressCase cases[] = {
      {"early press counts as double", "P.", "10", "00"},
      {"double 12 ticks after the release tick", quiet + "PP" + Rep('.', 12) + "PP.",
       Rep('0', 28) + "110", Rep('0', 31)},
      {"not 13 ticks after", quiet + "PP" + Rep('.', 13) + "P.", Rep('0', 31), Rep('0', 31)},
      {"long on the 14th pressed tick", quiet + Rep('P', 15) + ".", Rep('0', 30),
       Rep('0', 27) + "110"},
      {"exactly 13 ticks is neither", quiet + Rep('P', 13) + "..P.", Rep('0', 31), Rep('0', 31)},
      {"long then quick press is no double", quiet + Rep('P', 15) + "..P.", Rep('0', 33),
       Rep('0', 27) + "11" + Rep('0', 4)},
      {"double press held is never long", quiet + "P." + Rep('P', 20) + ".",
       Rep('0', 16) + Rep('1', 20) + "0", Rep('0', 37)},
  };
  for (const auto& c : cases) {
    PressDetector p;
    ASSERT_EQ(c.ticks.size(), c.double_press.size()) << c.name;
    ASSERT_EQ(c.ticks.size(), c.long_hold.size()) << c.name;
    for (std::size_t i = 0; i < c.ticks.size(); ++i) {
      StepWrapping(p.PressTicks);
      StepWrapping(p.GapTicks);
      p.Detect(c.ticks[i] == 'P');
      EXPECT_EQ(p.DoublePress, c.double_press[i] == '1') << c.name << " tick " << i + 1;
      EXPECT_EQ(p.LongHold, c.long_hold[i] == '1') << c.name << " tick " << i + 1;
    }
  }
}

TEST(PressDetection, LongHoldSurvivesTheCounterWrap) {
  PressDetector p;
  for (int i = 0; i < 20; ++i) {
    StepWrapping(p.PressTicks);
    StepWrapping(p.GapTicks);
    p.Detect(false);
  }
  for (int i = 0; i < 2000; ++i) {
    StepWrapping(p.PressTicks);
    StepWrapping(p.GapTicks);
    p.Detect(true);
    if (i >= 13) {
      ASSERT_TRUE(p.LongHold) << i;
    }
  }
}

TEST(InputDecoding, ModeCodes) {
  for (std::uint32_t code = 0; code < 8; ++code) {
    InputState in;
    in.Decode(0, code | 0xFFFFFFF8u);
    EXPECT_EQ(in.ModeCode1, code == 1);
    EXPECT_EQ(in.ModeCode2, code == 2);
    EXPECT_EQ(in.ModeCode3, code == 3);
    EXPECT_EQ(in.ModeCode(), code <= 3 ? static_cast<int>(code) : 0);
  }
}

TEST_F(PollCycleTest, RepeatedReportCountsTowardsLongHold) {
  Start();
  Settle();
  report().F1();
  Tick();
  TickSilent(12);
  EXPECT_FALSE(module_.input.press[kInputF1].LongHold);
  TickSilent();
  EXPECT_TRUE(module_.input.press[kInputF1].LongHold);
  EXPECT_EQ(win().ActionMode, 23);
}

}  // namespace
}  // namespace k2t::testing
