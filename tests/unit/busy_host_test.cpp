// A host whose callback runs its message loop (a message box, a wait for a
// move) makes the timer tick inside a tick. The pendant's E-stop is still
// heard there, nothing else is done there, and nothing moves after it.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/fakes.h"

namespace k2t::testing {
namespace {

bool StartsMotion(const std::string& call) {
  return call.rfind("Code G91G1", 0) == 0 || call == "Code DOJOG" || call == "DoButton 1000" ||
         (call.rfind("DoButton 30", 0) == 0 || call.rfind("DoButton 31", 0) == 0);
}

struct BusyCase {
  const char* name;
  int jog_mode;         // 1 step moves, 2 velocity jog
  const char* busy_in;  // the first host call (by prefix) inside which the host pumps
  bool estop;           // the pendant's E-stop is pressed while the host is busy
  int detents;          // the wheel turns this far while the host is busy
  bool estop_first = false;  // ... or already before, and the host is busy in its 1021
};

class BusyHostTest : public PendantTest, public ::testing::WithParamInterface<BusyCase> {};

TEST_P(BusyHostTest, OnlyTheEStopActsAndNothingMovesAfterIt) {
  const BusyCase& c = GetParam();
  Start();
  host_.SetJogUnitFactor(0.001);
  host_.SetAxisMaxVelocity(0, 2.0);
  host_.SetAxisMaxVelocitySteps(0, 4000);
  host_.leds[15] = true;  // a velocity jog switches the host's jog mode first
  Settle();
  module_.behaviour.JogMode = c.jog_mode;
  FakeDevice& d = pendant();
  bool busy = false;
  std::vector<std::string> during_busy;
  int reads_in_second_nest = -1;
  host_.on_call = [&](const std::string& call) {
    if (call == "DoButton 1021") {
      host_.leds[800] = !host_.leds[800];  // a host that toggles on the code
      // Its message loop runs again: a tick nested in the nested tick.
      const int reads = d.reads_started;
      win().OnPollTick();
      reads_in_second_nest = d.reads_started - reads;
    }
    if (busy || call.rfind(c.busy_in, 0) != 0 || !during_busy.empty()) return;
    busy = true;
    // The pendant reports only on change: this report is the last it sends.
    ReportBuilder now = report();
    now.Counter((now.bytes[1] + c.detents) & 0xFF).EStop(c.estop);
    d.Send(now.Bytes());
    report() = now;
    const std::size_t before = host_.calls.size();
    win().OnPollTick();
    during_busy.assign(host_.calls.begin() + static_cast<long>(before), host_.calls.end());
    during_busy.push_back("(end)");
  };
  report().Counter(10).Rate(30).EStop(c.estop_first);
  Tick();
  for (int i = 0; i < 4 && !busy; ++i) {
    report().Counter(report().bytes[1] + 10).Rate(30);
    Tick();
  }
  ASSERT_TRUE(busy) << c.name;
  const std::vector<std::string> nested(during_busy.begin(), std::find(during_busy.begin(), during_busy.end(), "(end)"));
  if (c.estop && !c.estop_first) {
    ASSERT_FALSE(nested.empty()) << c.name;
    EXPECT_EQ(nested.front(), "DoButton 1021") << c.name;
    EXPECT_EQ(reads_in_second_nest, 0) << c.name;
  } else {
    EXPECT_TRUE(nested.empty()) << c.name;
  }
  for (const auto& call : nested) EXPECT_FALSE(StartsMotion(call)) << c.name << ": " << call;

  // The rest of the interrupted tick and the ticks after it: no second 1021
  // (the host would leave E-stop), no burst of the busy detents, and after
  // an E-stop nothing that moves.
  auto calls = Calls();
  const auto estop = std::find(calls.begin(), calls.end(), "DoButton 1021");
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "DoButton 1021"), c.estop ? 1 : 0) << c.name;
  if (c.estop && !c.estop_first) {
    for (auto it = estop; it != calls.end(); ++it) EXPECT_FALSE(StartsMotion(*it)) << c.name << ": " << *it;
    EXPECT_EQ(host_.JogBlock(0).active, 0) << c.name;
    EXPECT_FALSE(win().wheel.HostJogActive) << c.name;
  }
  report().Rate(0);
  Updates(4);
  TickSilent(10);
  calls = Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "DoButton 1021"), 0) << c.name;
  for (const auto& call : calls) EXPECT_EQ(call.rfind("Code G91G1", 0), std::string::npos) << c.name << ": " << call;
  EXPECT_EQ(win().LastWheelCount, report().bytes[1]) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BusyHostTest,
    ::testing::Values(BusyCase{"estop_during_a_step_move", 1, "Code G91G1", true, 5},
                      BusyCase{"estop_as_a_velocity_jog_starts", 2, "DoButton 204", true, 0},
                      BusyCase{"wheel_turned_during_a_step_move", 1, "Code G91G1", false, 50},
                      BusyCase{"host_busy_in_the_estop_code_itself", 2, "DoButton 1021", true, 0, true}),
    [](const auto& info) { return std::string(info.param.name); });

// Re-initialised or stopped while a wheel jog runs: the jog ends in the
// records it was started in, and no tick can start another meanwhile.
TEST(BusyHostLifetime, ReInitAndStopEndTheJogFirst) {
  for (const bool reinit : {true, false}) {
    FakePlatform platform;
    FakeHost host;
    Module module(platform);
    module.InitControl(host.motion(), host.setup(), host.planner(), nullptr);
    host.Install(module.host);
    module.SetProName("");
    module.PostInitControl();
    module.window()->wheel.HostJogActive = true;
    host.TakeCalls();
    int timers_when_jog_ended = -1;
    host.on_call = [&](const std::string& call) {
      if (call == "Code ENDJOG") timers_when_jog_ended = platform.timers_running;
    };
    std::vector<unsigned char> motion(K2T_MOTION_RECORD_SIZE), setup(K2T_SETUP_RECORD_SIZE),
        planner(K2T_PLANNER_RECORD_SIZE);
    if (reinit) module.InitControl(motion.data(), setup.data(), planner.data(), nullptr);
    else module.StopPlug();
    EXPECT_EQ(host.calls, std::vector<std::string>{"Code ENDJOG"}) << reinit;
    EXPECT_EQ(host.JogBlock(0).stop, 1) << reinit;  // the old records
    EXPECT_EQ(timers_when_jog_ended, 0) << reinit;
    EXPECT_EQ(motion[K2T_MOTION_AXIS_JOG + K2T_AXIS_JOG_STOP], 0) << reinit;
  }
}

}  // namespace
}  // namespace k2t::testing
