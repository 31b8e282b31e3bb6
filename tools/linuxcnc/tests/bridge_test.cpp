// The mapping of the module's callbacks onto LinuxCNC intents, the E-stop
// latch and the values the bridge serves while LinuxCNC's status lags,
// against a fake command channel and a clock the test moves.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <sstream>
#include <vector>

#include "bridge.h"
#include "display_lines.h"
#include "safety.h"
#include "k2t/plugin.h"

namespace k2tcnc {
namespace {

struct FakeChannel final : CommandSink {
  std::vector<Intent> sent;
  void Push(Intent intent) override { sent.push_back(std::move(intent)); }
  std::vector<Intent> Take() { return std::exchange(sent, {}); }
};

// Intents compared as text: "jog X at 5.0000/s", "MDI \"G90\"".
std::vector<std::string> Texts(const std::vector<Intent>& intents) {
  std::vector<std::string> out;
  for (const Intent& i : intents) out.push_back(Describe(i));
  return out;
}

class BridgeTest : public ::testing::Test {
 protected:
  BridgeTest()
      : motion_(K2T_MOTION_RECORD_SIZE), setup_(K2T_SETUP_RECORD_SIZE), planner_(K2T_PLANNER_RECORD_SIZE) {
    config_.max_velocity = {10, 10, 5, 0, 0, 0};
    config_.max_acceleration = {100, 100, 50, 0, 0, 0};
    config_.steps_per_unit = 1000;
    config_.spindle_speed = 1000;
    config_.jog_rate = 50;
    config_.home = {10, 20, 30, std::nullopt, std::nullopt, std::nullopt};
    config_.safe_z = 50;
    bridge_ = std::make_unique<Bridge>(config_, channel_, Records{motion_.data(), setup_.data(), planner_.data()},
                                       [this] { return now_; }, [this](const std::string& s) { log_.push_back(s); });
    status_.state = TaskState::kOn;
    Apply();
  }
  void Apply() { bridge_->SetStatus(status_); }
  std::vector<std::string> Sent() { return Texts(channel_.Take()); }

  void WriteJogBlock(int axis, std::int32_t velocity, std::int32_t direction, std::uint8_t active, std::uint8_t stop) {
    const std::size_t base = K2T_MOTION_AXIS_JOG + static_cast<std::size_t>(axis) * K2T_MOTION_AXIS_JOG_STRIDE;
    std::memcpy(motion_.data() + base + K2T_AXIS_JOG_VELOCITY, &velocity, 4);
    std::memcpy(motion_.data() + base + K2T_AXIS_JOG_DIRECTION, &direction, 4);
    motion_[base + K2T_AXIS_JOG_ACTIVE] = active;
    motion_[base + K2T_AXIS_JOG_STOP] = stop;
  }
  template <class T>
  T Field(const std::vector<unsigned char>& record, std::size_t offset) {
    T v{};
    std::memcpy(&v, record.data() + offset, sizeof v);
    return v;
  }

  BridgeConfig config_;
  FakeChannel channel_;
  std::vector<unsigned char> motion_, setup_, planner_;
  double now_ = 100;
  std::vector<std::string> log_;
  Status status_;
  std::unique_ptr<Bridge> bridge_;
};

TEST_F(BridgeTest, ButtonsBecomeIntents) {
  struct Row {
    int code;
    bool spindle_on;
    double speed;
    bool incremental;
    std::vector<std::string> expected;
  };
  const std::vector<Row> rows = {
      {1000, false, 0, false, {"cycle start"}},
      {1001, false, 0, false, {"pause"}},
      {1003, false, 0, false, {"stop"}},
      {110, false, 0, false, {"spindle on at 1000.0000"}},     // no S in effect: the INI's speed
      {110, false, 2500, false, {"spindle on at 2500.0000"}},  // the S in effect
      {110, true, 2500, false, {"spindle off"}},
      {307, false, 0, false, {"jog X at 5.0000/s"}},  // max velocity x jog rate 50 %
      {308, false, 0, false, {"jog X at -5.0000/s"}},
      {309, false, 0, false, {"jog Y at 5.0000/s"}},
      {310, false, 0, false, {"jog Y at -5.0000/s"}},
      {311, false, 0, false, {"jog Z at 2.5000/s"}},
      {1008, false, 0, false, {"MDI \"G10 L20 P0 X0\""}},
      {1010, false, 0, false, {"MDI \"G10 L20 P0 Z0\""}},
      {1011, false, 0, false, {"MDI \"G10 L20 P0 A0\""}},
      {1017, false, 0, false, {"MDI \"G90 G0 X0 Y0\""}},
      {1017, false, 0, true, {"MDI \"G90 G0 X0 Y0\"", "MDI \"G91\""}},  // distance mode as it was
      {1007, false, 0, false, {"MDI \"G10 L20 P0 X0 Y0 Z0\""}},  // the axes this machine has
      {113, false, 0, false, {"flood on"}},
      {114, false, 0, false, {"mist on"}},
      {1022, false, 0, false, {"home X"}},
      {1024, false, 0, false, {"home Z"}},
      // Z first, then the rest, in machine coordinates.
      {138, false, 0, true,
       {"MDI \"G90 G53 G0 Z30.0000\"", "MDI \"G91\"", "MDI \"G90 G53 G0 X10.0000 Y20.0000\"", "MDI \"G91\""}},
      {104, false, 0, false, {"MDI \"G90 G53 G0 Z50.0000\""}},
      // The bridge's own state, or nothing LinuxCNC could do.
      {1002, false, 0, false, {}}, {204, false, 0, false, {}}, {256, false, 0, false, {}},
      {323, false, 0, false, {}},  {3, false, 0, false, {}},   {4242, false, 0, false, {}},
  };
  for (const Row& row : rows) {
    status_.spindle_on = row.spindle_on;
    status_.speed = row.speed;
    status_.incremental = row.incremental;
    Apply();
    now_ += 10;  // past every hold
    bridge_->DoButton(row.code);
    EXPECT_EQ(Sent(), row.expected) << "code " << row.code;
    bridge_->StopJogs();
    channel_.Take();
  }
}

TEST_F(BridgeTest, UnknownCodesAreLoggedOnce) {
  bridge_->DoButton(4242);
  bridge_->DoButton(4242);
  EXPECT_EQ(bridge_->GetDRO(9999), 0.0);
  EXPECT_FALSE(bridge_->GetLED(9999));
  bridge_->GetDRO(9999);
  bridge_->GetLED(9999);
  EXPECT_EQ(log_.size(), 3u);
}

// What LinuxCNC cannot do is said on every press, not sent.
TEST_F(BridgeTest, FunctionsThisMachineCannotDoAreSaid) {
  config_.safe_z.reset();
  config_.home[1].reset();  // Y on a gantry's two joints
  Bridge bridge(config_, channel_, Records{motion_.data(), setup_.data(), planner_.data()}, [this] { return now_; },
                [this](const std::string& s) { log_.push_back(s); });
  bridge.SetStatus(status_);
  for (const int code : {104, 104, 138}) bridge.DoButton(code);
  EXPECT_TRUE(Sent().empty());
  ASSERT_EQ(log_.size(), 3u);
  EXPECT_NE(log_[0].find("[K2T]SAFE_Z"), std::string::npos) << log_[0];
  EXPECT_NE(log_[2].find("axis Y"), std::string::npos) << log_[2];
}

// The worker knows what it sent; the bridge forwards every stop, even when
// its own record is gone or older than the jog. LinuxCNC's status lags a
// machine on, and the module starts a function-key jog without looking.
TEST_F(BridgeTest, JogStopsAlwaysReachTheWorker) {
  struct Event {
    const char* what;  // a button code, "DOJOG", or a state LinuxCNC's status shows: "reset", "on"
    std::vector<std::string> expected;
    unsigned premise;  // of the jog sent, if any
  };
  const std::vector<Event> events = {
      {"reset", {}, 0},
      {"307", {"jog X at 5.0000/s"}, 0},  // machine on queued, not yet in the status
      {"reset", {}, 0},
      {"on", {}, 0},
      {"334", {"jog stop X"}, 0},  // the key released
      {"335", {"jog stop Y"}, 0},  // a mode change stops every axis
      {"DOJOG", {"jog X at 2.0000/s"}, 1},
      {"DOJOG", {}, 0},             // the same speed under the same machine on
      {"reset", {}, 0},
      {"on", {}, 0},
      {"DOJOG", {"jog X at 2.0000/s"}, 2},  // switched on again since: asked again
      {"1003", {"stop"}, 0},
      {"334", {"jog stop X"}, 0},
  };
  status_.on_epoch = 0;
  for (const Event& e : events) {
    const std::string what = e.what;
    if (what == "reset" || what == "on") {
      status_.state = what == "on" ? TaskState::kOn : TaskState::kEStopReset;
      if (what == "on") ++status_.on_epoch;
      Apply();
      bridge_->Tick();
    } else if (what == "DOJOG") {
      WriteJogBlock(0, 2000, 0, 1, 0);  // the module writes the block on each DOJOG
      bridge_->Code("DOJOG");
    } else {
      bridge_->DoButton(std::stoi(what));
    }
    const std::vector<Intent> sent = channel_.Take();
    EXPECT_EQ(Texts(sent), e.expected) << what;
    if (!sent.empty() && sent[0].kind == Intent::kJog) {
      EXPECT_EQ(sent[0].premise, e.premise) << what;
    }
  }
}

TEST_F(BridgeTest, WheelJogFollowsTheJogBlocks) {
  struct Step {
    const char* code;
    int axis;
    std::int32_t velocity, direction;
    std::uint8_t active, stop;
    std::vector<std::string> expected;
  };
  const std::vector<Step> steps = {
      {"DOJOG", 0, 2000, 0, 1, 0, {"jog X at 2.0000/s"}},  // steps per second / steps per unit
      {"DOJOG", 0, 2000, 0, 1, 0, {}},                     // the same speed is not sent again
      {"DOJOG", 0, 4000, 1, 1, 0, {"jog X at -4.0000/s"}}, // direction 1 is negative
      {"DOJOG", 0, 90000, 1, 1, 0, {"jog X at -10.0000/s"}},  // capped at the axis' maximum
      {"ENDJOG", 0, 90000, 1, 1, 1, {"jog stop X"}},
      {"ENDJOG", 0, 90000, 1, 1, 1, {"jog stop X"}},  // forwarded: the worker knows whether it jogs
      {"DOJOG", 1, 1000, 0, 0, 0, {}},  // a block that is not active
      {"DOJOG", 3, 1000, 0, 1, 0, {}},  // A is not on this machine
  };
  for (const Step& s : steps) {
    WriteJogBlock(s.axis, s.velocity, s.direction, s.active, s.stop);
    bridge_->Code(s.code);
    EXPECT_EQ(Sent(), s.expected) << s.code << " axis " << s.axis << " velocity " << s.velocity;
  }
}

TEST_F(BridgeTest, AStoppedJogBlockDoesNotStartAgain) {
  WriteJogBlock(0, 2000, 0, 1, 0);
  bridge_->Code("DOJOG");
  bridge_->DoButton(334);   // the pendant changed mode: X stops
  WriteJogBlock(1, 3000, 0, 1, 0);
  bridge_->Code("DOJOG");  // now Y: X's block is still marked active by the module
  EXPECT_EQ(Sent(), (std::vector<std::string>{"jog X at 2.0000/s", "jog stop X", "jog Y at 3.0000/s"}));
}

// Step jogs become LinuxCNC increments at the module's feed (capped at the
// axis' maximum); the rotated form moves both axes along its line; the G90
// that follows has nothing to undo. Other texts are MDI.
TEST_F(BridgeTest, StepJogsBecomeIncrements) {
  struct Row {
    const char* text;
    double feed;  // the F in effect
    std::vector<std::string> expected;
  };
  const std::vector<Row> rows = {
      {"G91G1 F60.0000 X 0.0050", 0, {"increment X +0.0050 at 1.0000/s"}},
      {"G91G1 F1500.000000 Y -0.0100", 0, {"increment Y -0.0100 at 10.0000/s"}},  // 25/s capped at 10/s
      {"G90", 0, {}},
      {"G91G1 X0.3000 Y-0.4000 ", 600, {"increment X +0.3000 at 6.0000/s", "increment Y -0.4000 at 8.0000/s"}},
      // Y's share would pass its 10/s: both slow down, along the same line.
      {"G91G1 X0.3000 Y-0.4000 ", 1200, {"increment X +0.3000 at 7.5000/s", "increment Y -0.4000 at 10.0000/s"}},
      {"G91G1 X0.3000 Y0.4000 ", 0, {"increment X +0.3000 at 3.0000/s", "increment Y +0.4000 at 4.0000/s"}},  // jog rate
      {"G91G1 X0.0000 Y0.4000 ", 600, {"increment Y +0.4000 at 10.0000/s"}},
      {"G91G1 F60.0000 Q 0.0050", 0, {}},  // not understood: nothing moves
      {"G91G1 F-60.0000 X 0.0050", 0, {}},
      {"M101", 0, {"MDI \"M101\""}},
  };
  for (const Row& row : rows) {
    status_.feed = row.feed;
    Apply();
    bridge_->Code(row.text);
    bridge_->EndModuleCall();
    EXPECT_EQ(Sent(), row.expected) << row.text;
  }
}

// The module forces the feed override to 100 % around its step jogs and puts
// it back with the feed afterwards; neither reaches LinuxCNC, whose jogs
// ignore the override. Every other override write does.
TEST_F(BridgeTest, TheStepJogOverrideCycleStaysWithTheModule) {
  struct Call {
    const char* what;  // one module call: "o<v>" feed override, "f<v>" feed, "s" a step jog, "g" G90
    std::vector<std::string> expected;
  };
  const std::vector<Call> calls = {
      {"o100 s g", {"increment X +0.0010 at 1.0000/s"}},
      {"s g", {"increment X +0.0010 at 1.0000/s"}},
      {"f30 o120", {}},                                 // the restore
      {"o100", {"feed override 100.0000 %"}},          // the wheel at exactly 100 %
      {"o100 g", {}},                                   // a step held back: only its G90 came
      {"f30 o120", {}},
      {"f250", {"MDI \"F250.0000\""}},
      {"f30", {}},                                      // the F in effect already
      {"o90", {"feed override 90.0000 %"}},
  };
  status_.feed = 30;
  status_.feed_scale = 1.2;
  Apply();
  for (const Call& call : calls) {
    std::istringstream words(call.what);
    for (std::string w; words >> w;) {
      if (w[0] == 'o') bridge_->SetDRO(821, std::stod(w.substr(1)));
      if (w[0] == 'f') bridge_->SetDRO(818, std::stod(w.substr(1)));
      if (w == "s") bridge_->Code("G91G1 F60.0000 X 0.0010");
      if (w == "g") bridge_->Code("G90");
    }
    bridge_->EndModuleCall();
    EXPECT_EQ(Sent(), call.expected) << call.what;
    now_ += 1;
  }
}

// 1021 toggles; LED 800 is the commanded latch and follows LinuxCNC only
// after half a second without a 1021, power comes on after a quiet 150 ms,
// and both only once the module has polled the pendant four times since.
TEST_F(BridgeTest, EStopLatch) {
  struct Event {
    double t;
    // "1021"; "polls": the module's 25 ms polls since the event before;
    // "tick": a refresh that is no poll; or a LinuxCNC state: "estop", "reset", "on"
    const char* what;
    bool led;  // LED 800 afterwards
    std::vector<std::string> expected;
    int pendant = -1;  // the pendant's E-stop (for HAL) afterwards, 1 or 0; -1: not looked at
  };
  struct Case {
    const char* name;
    TaskState start;
    std::vector<Event> events;
  };
  const std::vector<Case> cases = {
      {"switch pressed and released while LinuxCNC is in E-stop",
       TaskState::kEStop,
       {{0.000, "tick", true, {}, 0},                 // LinuxCNC's E-stop is not the pendant's
        {0.000, "1021", false, {"E-stop reset"}, 0},  // press: the latch resets first ...
        {0.025, "1021", true, {"E-stop"}, 1},         // ... and the module's repeat asserts again
        {0.200, "polls", true, {}, 1},                // no power while the switch is down
        {2.000, "1021", false, {"E-stop reset"}, 0},  // release
        {2.100, "polls", false, {}},                  // four polls, 100 ms
        {2.100, "reset", false, {}},
        {2.150, "polls", false, {"machine on"}},
        {2.200, "on", false, {}},
        {3.000, "polls", false, {}}}},
      {"a stalled loop does not power on before the pendant was polled",
       TaskState::kEStop,
       {{0.000, "1021", false, {"E-stop reset"}},  // press; LinuxCNC does not follow yet
        {0.500, "tick", false, {}},                // the first refresh after a stall
        {0.500, "1021", true, {"E-stop"}},         // the first poll finds the latch dark: the switch is still down
        {1.000, "polls", true, {}}}},
      {"nor before the 150 ms are over",
       TaskState::kEStop,
       {{0.000, "1021", false, {"E-stop reset"}},
        {0.125, "polls", false, {}},
        {0.150, "polls", false, {"machine on"}}}},
      {"E-stop while on: the LED lights before LinuxCNC follows",
       TaskState::kOn,
       {{0.000, "1021", true, {"E-stop"}, 1},
        {0.300, "polls", true, {}},   // status still says on
        {0.600, "polls", false, {}},  // LinuxCNC never followed: the module will send again
        {0.625, "1021", true, {"E-stop"}},
        {0.700, "estop", true, {}},
        {5.000, "tick", true, {}}}},
      {"a reset and re-press within 150 ms never powers on",
       TaskState::kOn,
       {{0.000, "1021", true, {"E-stop"}},
        {0.100, "estop", true, {}},
        {1.000, "1021", false, {"E-stop reset"}},
        {1.100, "1021", true, {"E-stop"}},
        {2.000, "polls", true, {}}}},
      {"the LED follows LinuxCNC when the pendant is quiet",
       TaskState::kOn,
       {{0.000, "tick", false, {}, 0}, {1.000, "estop", true, {}, 0}, {2.000, "reset", false, {}, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BridgeTest::SetUp();
    status_ = Status{};
    status_.state = c.start;
    bridge_ = std::make_unique<Bridge>(config_, channel_, Records{motion_.data(), setup_.data(), planner_.data()},
                                       [this] { return now_; }, nullptr);
    Apply();
    const double t0 = now_;
    double before = 0;
    for (const Event& e : c.events) {
      const std::string what = e.what;
      for (int i = 1; what == "polls" && before + 0.025 * i <= e.t + 1e-9; ++i) {
        now_ = t0 + before + 0.025 * i;
        bridge_->ModulePoll();
        bridge_->Tick();
      }
      now_ = t0 + (before = e.t);
      if (what == "1021") bridge_->DoButton(1021);
      else if (what == "estop") status_.state = TaskState::kEStop;
      else if (what == "reset") status_.state = TaskState::kEStopReset;
      else if (what == "on") status_.state = TaskState::kOn;
      Apply();
      bridge_->Tick();
      EXPECT_EQ(Sent(), e.expected) << "at " << e.t << " " << what;
      EXPECT_EQ(bridge_->GetLED(800), e.led) << "at " << e.t << " " << what;
      if (e.pendant >= 0) {
        EXPECT_EQ(bridge_->PendantEStop(), e.pendant == 1) << "at " << e.t << " " << what;
      }
    }
    now_ += 100;
  }
}

// DROs the module sets read back as set until LinuxCNC's status follows.
TEST_F(BridgeTest, SetValuesAreServedWhileTheStatusLags) {
  struct Row {
    int code;
    double value;
    std::vector<std::string> expected;
    double live;  // what LinuxCNC's status says, per the row's DRO
  };
  const std::vector<Row> rows = {
      {821, 120, {"feed override 120.0000 %"}, 100},
      {74, 80, {"spindle override 80.0000 %"}, 100},
      {818, 250, {"MDI \"F250.0000\""}, 30},
      {817, 1500, {"MDI \"S1500.0000\""}, 0},
  };
  status_.feed_scale = 1.0;
  status_.spindle_scale = 1.0;
  status_.feed = 30;
  status_.speed = 0;
  Apply();
  for (const Row& row : rows) {
    bridge_->SetDRO(row.code, row.value);
    EXPECT_EQ(Sent(), row.expected) << row.code;
    now_ += 0.1;
    EXPECT_DOUBLE_EQ(bridge_->GetDRO(row.code), row.value) << row.code;
    now_ += Bridge::kValueHold;
    EXPECT_DOUBLE_EQ(bridge_->GetDRO(row.code), row.live) << row.code;
  }
  // F and S go through MDI, which a running program refuses.
  status_.mode = TaskMode::kAuto;
  status_.interp = Interp::kReading;
  Apply();
  bridge_->SetDRO(818, 100);
  bridge_->SetDRO(817, 100);
  EXPECT_TRUE(Sent().empty());
}

TEST_F(BridgeTest, LedsFromLinuxCncStatus) {
  struct Row {
    TaskState state;
    TaskMode mode;
    Interp interp;
    bool running, paused, jog_enabled;  // LEDs 804, 805, 83
  };
  const std::vector<Row> rows = {
      {TaskState::kOn, TaskMode::kManual, Interp::kIdle, false, false, true},
      {TaskState::kOn, TaskMode::kMdi, Interp::kReading, false, false, true},  // a step's MDI move still runs
      {TaskState::kOn, TaskMode::kAuto, Interp::kReading, true, false, false},
      {TaskState::kOn, TaskMode::kAuto, Interp::kWaiting, true, false, false},
      {TaskState::kOn, TaskMode::kAuto, Interp::kPaused, false, true, false},
      {TaskState::kOn, TaskMode::kAuto, Interp::kIdle, false, false, true},
      {TaskState::kEStopReset, TaskMode::kManual, Interp::kIdle, false, false, false},
  };
  for (const Row& r : rows) {
    status_.state = r.state;
    status_.mode = r.mode;
    status_.interp = r.interp;
    Apply();
    EXPECT_EQ(bridge_->GetLED(804), r.running);
    EXPECT_EQ(bridge_->GetLED(805), r.paused);
    EXPECT_EQ(bridge_->GetLED(83), r.jog_enabled);
    EXPECT_FALSE(bridge_->GetLED(806));
  }
}

TEST_F(BridgeTest, BridgeStateIsConsistent) {
  // Jog mode: one of 14/15/57 lit, following 204/205/327.
  const std::vector<std::pair<int, int>> modes = {{205, 15}, {327, 57}, {204, 14}};
  for (const auto& [code, led] : modes) {
    bridge_->DoButton(code);
    for (int l : {14, 15, 57}) EXPECT_EQ(bridge_->GetLED(l), l == led) << code;
  }
  // Coordinates shown: work, machine (256 toggles LED 16), distance to go (333, LED 163).
  status_.work[0] = 1;
  status_.machine[0] = 11;
  status_.to_go[0] = 0.5;
  Apply();
  EXPECT_EQ(bridge_->GetDRO(800), 1);
  bridge_->DoButton(256);
  EXPECT_TRUE(bridge_->GetLED(16));
  EXPECT_EQ(bridge_->GetDRO(800), 11);
  bridge_->DoButton(333);
  EXPECT_EQ(bridge_->GetDRO(800), 0.5);
  // Jog rate, step size and coordinate cycle are the bridge's; 22 and 816 read 0.
  bridge_->SetDRO(3, 20);
  bridge_->SetDRO(828, 0.01);
  bridge_->SetDRO(46, 3);
  bridge_->SetDRO(816, 7);
  EXPECT_EQ(bridge_->GetDRO(3), 20);
  EXPECT_EQ(bridge_->GetDRO(828), 0.01);
  EXPECT_EQ(bridge_->GetDRO(46), 3);
  EXPECT_EQ(bridge_->GetDRO(816), 0);
  EXPECT_TRUE(Sent().empty());
  bridge_->DoButton(307);  // the jog rate drives the function-key jog
  EXPECT_EQ(Sent(), (std::vector<std::string>{"jog X at 2.0000/s"}));
}

TEST_F(BridgeTest, RecordFieldsFromStatusAndIni) {
  status_.state = TaskState::kEStop;
  status_.mode = TaskMode::kMdi;
  status_.interp = Interp::kReading;
  status_.inpos = false;
  status_.incremental = true;
  status_.rotation = 30;
  Apply();
  bridge_->SetDRO(828, 0.01);
  bridge_->FillRecords();
  EXPECT_NE(Field<std::int32_t>(motion_, K2T_MOTION_QUEUE_HEAD), Field<std::int32_t>(motion_, K2T_MOTION_QUEUE_TAIL));
  EXPECT_NE(Field<std::int32_t>(planner_, K2T_PLANNER_QUEUE_HEAD),
            Field<std::int32_t>(planner_, K2T_PLANNER_QUEUE_TAIL));
  EXPECT_EQ(Field<std::int32_t>(planner_, K2T_PLANNER_BUSY), 1);
  EXPECT_EQ(motion_[K2T_MOTION_JOG_INHIBIT], 1);
  EXPECT_EQ(Field<std::int32_t>(setup_, K2T_SETUP_INCREMENTAL_MODE), 1);
  EXPECT_EQ(Field<double>(setup_, K2T_SETUP_ROTATION_ANGLE), 30);
  EXPECT_EQ(Field<double>(planner_, K2T_PLANNER_JOG_UNIT_FACTOR), 0.01);
  EXPECT_EQ(Field<double>(planner_, K2T_PLANNER_AXIS_MAX_VELOCITY + 8 * 2), 5);
  EXPECT_EQ(Field<std::int32_t>(planner_, K2T_PLANNER_AXIS_MAX_VELOCITY_STEPS + 4 * 2), 5000);
  EXPECT_EQ(Field<std::int32_t>(planner_, K2T_PLANNER_AXIS_ACCELERATION_STEPS + 4 * 0), 100000);

  status_ = Status{};
  status_.state = TaskState::kOn;
  status_.inpos = false;  // a joint jog in MANUAL mode: no motion queued for the module
  Apply();
  bridge_->FillRecords();
  EXPECT_EQ(Field<std::int32_t>(motion_, K2T_MOTION_QUEUE_HEAD), Field<std::int32_t>(motion_, K2T_MOTION_QUEUE_TAIL));
  EXPECT_EQ(Field<std::int32_t>(planner_, K2T_PLANNER_BUSY), 0);
  EXPECT_EQ(motion_[K2T_MOTION_JOG_INHIBIT], 0);

  // Beyond 32 bits (the configuration refuses it): the largest count, not a wrapped one.
  config_.max_velocity[0] = 1e6;
  config_.steps_per_unit = 1e7;
  Bridge big(config_, channel_, Records{motion_.data(), setup_.data(), planner_.data()}, [this] { return now_; },
             nullptr);
  big.SetStatus(status_);
  big.FillRecords();
  EXPECT_EQ(Field<std::int32_t>(planner_, K2T_PLANNER_AXIS_MAX_VELOCITY_STEPS), INT32_MAX);
}

// The module takes axis speeds and accelerations as 32-bit step counts.
TEST(Config, StepCountsMustFitThirtyTwoBits) {
  struct Row {
    const char* steps_per_unit;
    const char* velocity;
    const char* acceleration;
    const char* error;  // a part of the message, empty when accepted
  };
  const std::vector<Row> rows = {
      {"1000", "50", "500", ""},
      {"1e7", "214.7", "0", ""},  // 2147000000
      {"1e7", "214.75", "0", "[AXIS_Y]MAX_VELOCITY times [K2T]STEPS_PER_UNIT"},
      {"1e7", "1e6", "0", "[AXIS_Y]MAX_VELOCITY times [K2T]STEPS_PER_UNIT"},
      {"1000", "50", "1e9", "[AXIS_Y]MAX_ACCELERATION times [K2T]STEPS_PER_UNIT"},
  };
  for (const Row& row : rows) {
    const IniLookup ini = [&](const std::string& section, const std::string& key) -> std::optional<std::string> {
      if (section == "K2T" && key == "STEPS_PER_UNIT") return row.steps_per_unit;
      if (section == "AXIS_Y" && key == "MAX_VELOCITY") return row.velocity;
      if (section == "AXIS_Y" && key == "MAX_ACCELERATION") return row.acceleration;
      return std::nullopt;
    };
    BridgeConfig config;
    std::string error;
    const bool ok = LoadConfig(ini, "/cfg", config, error);
    EXPECT_EQ(ok, *row.error == '\0') << row.velocity << " " << error;
    EXPECT_NE(error.find(row.error), std::string::npos) << error;
  }
}

// The HAL pins for the E-stop chain: a pendant pressed, or lost after it
// was there, is not ok.
TEST(PendantSafety, EStopOkFollowsThePendant) {
  struct Tick {
    bool present, estop;
    bool estop_ok, connected;
  };
  const std::vector<Tick> ticks = {
      {false, false, true, false},  // never plugged in: a GUI alone runs the machine
      {true, false, true, true},
      {true, true, false, true},
      {true, false, true, true},
      {false, false, false, false},  // pulled out
      {true, false, true, true},     // back
  };
  PendantSafety safety;
  for (std::size_t i = 0; i < ticks.size(); ++i) {
    const SafetyPins pins = safety.Update(ticks[i].present, ticks[i].estop);
    EXPECT_EQ(pins.estop_ok, ticks[i].estop_ok) << i;
    EXPECT_EQ(pins.connected, ticks[i].connected) << i;
  }
}

TEST(DisplayLines, AFewLinesASecondAndAlwaysTheLast) {
  struct Row {
    const char* name;
    std::vector<std::pair<double, const char*>> changes;  // when, to what
    std::vector<std::string> expected;
  };
  const std::vector<Row> rows = {
      {"a jog changes the display every poll",
       {{0.000, "X +0.0010"}, {0.025, "X +0.0020"}, {0.050, "X +0.0030"}, {0.075, "X +0.0040"}},
       {"display \"X +0.0010\"", "display \"X +0.0040\""}},
      {"a blinking display is said once",
       {{0.0, " E-STOP  E-STOP "}, {0.5, "                "}, {1.0, " E-STOP  E-STOP "}, {1.5, "                "}},
       {"display \" E-STOP  E-STOP \"", "display \"                \""}},
      {"a text held back that is no longer shown is not said",
       {{0.0, "A"}, {0.3, "B"}, {0.4, "C"}, {0.45, "B"}},
       {"display \"A\"", "display \"B\""}},
  };
  for (const Row& row : rows) {
    std::vector<std::string> said;
    DisplayLines lines([&said](const std::string& s) { said.push_back(s); });
    for (const auto& [t, text] : row.changes) {
      lines.Tick(t);
      lines.Changed(text, t);
    }
    for (double t = 1.0; t < 3.0; t += 0.1) lines.Tick(row.changes.back().first + t);
    EXPECT_EQ(said, row.expected) << row.name;
  }
}

// The joint each axis is on (for joint jogs and homing) and its home.
TEST(Config, JointsOfTheAxes) {
  struct Row {
    const char* kinematics;
    const char* coordinates;
    std::array<int, kAxes> joints;
  };
  const std::vector<Row> rows = {
      {"trivkins coordinates=XYZ", "", {0, 1, 2, -1, -1, -1}},
      {"trivkins coordinates=XYYZ kinstype=BOTH", "X Y Y Z", {0, -1, 3, -1, -1, -1}},  // a gantry's Y
      {"trivkins", "X Z", {0, -1, 1, -1, -1, -1}},                                      // a lathe
      {"trivkins", "", {0, 1, 2, 3, 4, 5}},
  };
  for (const Row& row : rows) {
    const IniLookup ini = [&](const std::string& section, const std::string& key) -> std::optional<std::string> {
      if (section == "KINS" && key == "KINEMATICS") return row.kinematics;
      if (section == "TRAJ" && key == "COORDINATES" && *row.coordinates) return row.coordinates;
      if (section == "JOINT_1" && key == "HOME") return "-5";
      return std::nullopt;
    };
    BridgeConfig config;
    std::string error;
    ASSERT_TRUE(LoadConfig(ini, "/cfg", config, error)) << error;
    EXPECT_EQ(config.joint_of_axis, row.joints) << row.kinematics;
    for (std::size_t a = 0; a < kAxes; ++a) {
      EXPECT_EQ(config.home[a].has_value(), row.joints[a] >= 0) << row.kinematics << " axis " << a;
      if (row.joints[a] == 1) {
        EXPECT_EQ(*config.home[a], -5) << row.kinematics;
      }
    }
  }
}

TEST_F(BridgeTest, MessagesAreShownOncePerChange) {
  bridge_->Message(" Jog OFF. ");
  bridge_->Message(" Jog OFF. ");
  bridge_->Message("");
  EXPECT_EQ(Sent(), (std::vector<std::string>{"message \" Jog OFF. \""}));
}

}  // namespace
}  // namespace k2tcnc
