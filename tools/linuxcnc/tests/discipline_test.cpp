// The mode discipline: what each intent becomes in each LinuxCNC state.
#include <gtest/gtest.h>

#include "discipline.h"

namespace k2tcnc {
namespace {

Status On(TaskMode mode, Interp interp = Interp::kIdle, bool teleop = false) {
  Status s;
  s.state = TaskState::kOn;
  s.on_epoch = 1;
  s.mode = mode;
  s.interp = interp;
  s.teleop = teleop;
  s.homed = 0b111;
  return s;
}
Status InState(TaskState state) {
  Status s;
  s.state = state;
  return s;
}
Status WithFile(Status s) {
  s.file = "/cfg/part.ngc";
  return s;
}
Status Unhomed(Status s) {
  s.homed = 0b011;
  return s;
}
Status Jogging(Status s) {
  s.jogging = true;
  return s;
}
Status NotIdentity(Status s) {
  s.identity_kins = false;
  return s;
}

Step M(TaskMode mode) { return {Step::kSetMode, mode}; }
Step St(TaskState state) {
  Step s{Step::kSetState};
  s.state = state;
  return s;
}
Step K(Step::Kind kind, int axis = 0, double value = 0, std::string text = {}) {
  Step s{kind};
  s.axis = axis;
  s.value = value;
  s.text = std::move(text);
  return s;
}
Step OfJoint(Step s) {
  s.joint = true;
  return s;
}
Step On(Step::Kind kind, bool on) {
  Step s{kind};
  s.on = on;
  return s;
}
// Asked for while the machine was on (the first time).
Intent I(Intent::Kind kind, int axis = 0, double value = 0, std::string text = {}) {
  return {kind, axis, value, std::move(text), 1};
}
Intent Incr(int axis, double distance, double speed) {
  Intent i = I(Intent::kJogIncr, axis, distance);
  i.speed = speed;
  return i;
}
Step Speed(Step s, double speed) {
  s.speed = speed;
  return s;
}

struct Row {
  const char* name;
  Intent intent;
  Status status;
  Plan::Outcome outcome;
  std::vector<Step> steps;
};

TEST(Discipline, EachIntentInEachState) {
  const std::vector<Row> rows = {
      {"mdi from manual", I(Intent::kMdi, 0, 0, "G0 X1"), On(TaskMode::kManual), Plan::kSend,
       {M(TaskMode::kMdi), K(Step::kMdi, 0, 0, "G0 X1")}},
      {"mdi queues behind mdi", I(Intent::kMdi, 0, 0, "G0 X1"), On(TaskMode::kMdi, Interp::kReading), Plan::kSend,
       {K(Step::kMdi, 0, 0, "G0 X1")}},
      {"mdi in e-stop", I(Intent::kMdi, 0, 0, "G0 X1"), InState(TaskState::kEStop), Plan::kRefuse, {}},
      {"mdi while machine off", I(Intent::kMdi, 0, 0, "G0 X1"), InState(TaskState::kEStopReset), Plan::kRefuse, {}},
      {"mdi while a program runs", I(Intent::kMdi, 0, 0, "G0 X1"), On(TaskMode::kAuto, Interp::kReading),
       Plan::kRefuse, {}},
      {"jog waits for mdi lines", I(Intent::kJog, 0, 2.5), On(TaskMode::kMdi, Interp::kWaiting), Plan::kWait, {}},
      {"jog from mdi", I(Intent::kJog, 0, 2.5), On(TaskMode::kMdi), Plan::kSend,
       {M(TaskMode::kManual), K(Step::kTeleop), K(Step::kJog, 0, 2.5)}},
      {"jog in teleop", I(Intent::kJog, 1, -1), On(TaskMode::kManual, Interp::kIdle, true), Plan::kSend,
       {K(Step::kJog, 1, -1)}},
      {"jog of a missing axis", I(Intent::kJog, 4, 1), On(TaskMode::kManual, Interp::kIdle, true), Plan::kRefuse,
       {}},
      {"jog while a program runs", I(Intent::kJog, 0, 1), On(TaskMode::kAuto, Interp::kWaiting), Plan::kRefuse, {}},
      {"jog in e-stop", I(Intent::kJog, 0, 1), InState(TaskState::kEStop), Plan::kRefuse, {}},
      {"start resumes a pause", I(Intent::kCycleStart), On(TaskMode::kAuto, Interp::kPaused), Plan::kSend,
       {K(Step::kResume)}},
      {"start opens the configured program", I(Intent::kCycleStart), On(TaskMode::kMdi), Plan::kSend,
       {M(TaskMode::kAuto), K(Step::kOpen, 0, 0, "/cfg/k2t.ngc"), K(Step::kRun)}},
      {"start runs the loaded program", I(Intent::kCycleStart), WithFile(On(TaskMode::kAuto)), Plan::kSend,
       {K(Step::kRun)}},
      {"start while running", I(Intent::kCycleStart), On(TaskMode::kAuto, Interp::kReading), Plan::kSend, {}},
      {"start waits for mdi lines", I(Intent::kCycleStart), On(TaskMode::kMdi, Interp::kReading), Plan::kWait, {}},
      {"start in e-stop", I(Intent::kCycleStart), InState(TaskState::kEStop), Plan::kRefuse, {}},
      {"pause a program", I(Intent::kPause), On(TaskMode::kAuto, Interp::kWaiting), Plan::kSend, {K(Step::kPause)}},
      {"pause with nothing running", I(Intent::kPause), On(TaskMode::kManual), Plan::kRefuse, {}},
      {"abort in any state", I(Intent::kAbort), InState(TaskState::kEStop), Plan::kSend, {K(Step::kAbort)}},
      {"e-stop", I(Intent::kEStop), On(TaskMode::kAuto, Interp::kReading), Plan::kSend,
       {St(TaskState::kEStop)}},
      // The status may be old: another display may have reset the E-stop a moment ago.
      {"e-stop when in e-stop", I(Intent::kEStop), InState(TaskState::kEStop), Plan::kSend, {St(TaskState::kEStop)}},
      {"reset", I(Intent::kEStopReset), InState(TaskState::kEStop), Plan::kSend, {St(TaskState::kEStopReset)}},
      {"reset when not in e-stop", I(Intent::kEStopReset), On(TaskMode::kManual), Plan::kSend, {}},
      {"machine on", I(Intent::kMachineOn), InState(TaskState::kEStopReset), Plan::kSend, {St(TaskState::kOn)}},
      {"machine on in e-stop", I(Intent::kMachineOn), InState(TaskState::kEStop), Plan::kRefuse, {}},
      {"spindle on", I(Intent::kSpindleOn, 0, 800), On(TaskMode::kManual), Plan::kSend,
       {K(Step::kSpindleOn, 0, 800)}},
      {"spindle while a program runs", I(Intent::kSpindleOff), On(TaskMode::kAuto, Interp::kReading), Plan::kRefuse,
       {}},
      {"feed override while running", I(Intent::kFeedScale, 0, 1.2), On(TaskMode::kAuto, Interp::kReading),
       Plan::kSend, {K(Step::kFeedScale, 0, 1.2)}},
      // Jogs as a GUI sends them: axis jogs in teleop once homed, else the
      // axis' joint in free mode, on identity kinematics only.
      {"increment, homed", Incr(0, -0.001, 25), On(TaskMode::kMdi), Plan::kSend,
       {M(TaskMode::kManual), K(Step::kTeleop), Speed(K(Step::kJogIncr, 0, -0.001), 25)}},
      {"increment, unhomed", Incr(2, 0.01, 5), Unhomed(On(TaskMode::kManual, Interp::kIdle, true)), Plan::kSend,
       {On(Step::kTeleop, false), Speed(OfJoint(K(Step::kJogIncr, 2, 0.01)), 5)}},
      {"jog, unhomed", I(Intent::kJog, 1, 3), Unhomed(On(TaskMode::kManual)), Plan::kSend, {OfJoint(K(Step::kJog, 1, 3))}},
      {"jog, unhomed, kinematics not identity", I(Intent::kJog, 1, 3), NotIdentity(Unhomed(On(TaskMode::kManual))),
       Plan::kRefuse, {}},
      {"jog, homed, kinematics not identity", I(Intent::kJog, 1, 3), NotIdentity(On(TaskMode::kManual, Interp::kIdle, true)),
       Plan::kSend, {K(Step::kJog, 1, 3)}},
      // LinuxCNC ignores a mode or teleop change while anything jogs.
      {"mode change while an increment moves", I(Intent::kMdi, 0, 0, "G0 X1"), Jogging(On(TaskMode::kManual)),
       Plan::kWait, {}},
      {"teleop change while a joint jogs", Incr(0, 0.001, 5), Jogging(On(TaskMode::kManual)), Plan::kWait, {}},
      {"increment behind an increment", Incr(0, 0.001, 5), Jogging(On(TaskMode::kManual, Interp::kIdle, true)),
       Plan::kSend, {Speed(K(Step::kJogIncr, 0, 0.001), 5)}},
      {"home from mdi", I(Intent::kHome, 2), On(TaskMode::kMdi, Interp::kIdle, true), Plan::kSend,
       {M(TaskMode::kManual), On(Step::kTeleop, false), K(Step::kHome, 2)}},
      {"home, kinematics not identity", I(Intent::kHome, 2), NotIdentity(On(TaskMode::kManual)), Plan::kRefuse, {}},
      {"home of a missing axis", I(Intent::kHome, 3), On(TaskMode::kManual), Plan::kRefuse, {}},
      {"flood on", I(Intent::kFlood, 0, 1), On(TaskMode::kMdi), Plan::kSend, {On(Step::kFlood, true)}},
      {"mist off", I(Intent::kMist, 0, 0), On(TaskMode::kMdi), Plan::kSend, {On(Step::kMist, false)}},
      {"flood in e-stop", I(Intent::kFlood, 0, 1), InState(TaskState::kEStop), Plan::kRefuse, {}},
  };
  for (const Row& row : rows) {
    const Plan plan = PlanIntent(row.intent, row.status, Machine{"/cfg/k2t.ngc"}, {});
    EXPECT_EQ(plan.outcome, row.outcome) << row.name;
    EXPECT_EQ(plan.steps, row.steps) << row.name;
    EXPECT_EQ(plan.outcome != Plan::kSend, !plan.reason.empty()) << row.name;
  }
}

// The jogs the worker sent and did not stop, and the machine-on count a jog
// was asked for under.
TEST(Discipline, OwnJogsAndPremises) {
  struct JogRow {
    const char* name;
    Intent intent;
    Status status;
    OwnJogs own_jogs;
    Plan::Outcome outcome;
    std::vector<Step> steps;
  };
  auto before_on = I(Intent::kJog, 0, 2.5);
  before_on.premise = 0;
  Status on_again = On(TaskMode::kManual, Interp::kIdle, true);
  on_again.on_epoch = 2;
  const std::vector<JogRow> rows = {
      {"stop of a jog sent", I(Intent::kJogStop, 2), On(TaskMode::kManual), {0b100}, Plan::kSend, {K(Step::kJogStop, 2)}},
      {"stop of an axis not jogged", I(Intent::kJogStop, 2), On(TaskMode::kManual), {0b001}, Plan::kSend, {}},
      {"stop once the machine is off", I(Intent::kJogStop, 2), InState(TaskState::kEStopReset), {0b100}, Plan::kSend,
       {}},
      {"jog asked for before the machine was on", before_on, On(TaskMode::kManual, Interp::kIdle, true), {},
       Plan::kRefuse, {}},
      {"jog asked for before the machine was off and on again", I(Intent::kJog, 0, 2.5), on_again, {}, Plan::kRefuse,
       {}},
      // LinuxCNC ignores a mode change while an axis jogs.
      {"mdi while a jog runs", I(Intent::kMdi, 0, 0, "G0 X1"), On(TaskMode::kManual), {0b001}, Plan::kWait, {}},
      {"start while a jog runs", I(Intent::kCycleStart), WithFile(On(TaskMode::kManual)), {0b010}, Plan::kWait, {}},
      {"another axis while a jog runs", I(Intent::kJog, 1, 1), On(TaskMode::kManual, Interp::kIdle, true), {0b001},
       Plan::kSend, {K(Step::kJog, 1, 1)}},
      // A joint jog's stop is a joint's stop, whatever the homing since.
      {"stop of a joint jog", I(Intent::kJogStop, 1), On(TaskMode::kManual, Interp::kIdle, true), {0b010, 0b010},
       Plan::kSend, {OfJoint(K(Step::kJogStop, 1))}},
  };
  for (const JogRow& row : rows) {
    const Plan plan = PlanIntent(row.intent, row.status, Machine{}, row.own_jogs);
    EXPECT_EQ(plan.outcome, row.outcome) << row.name;
    EXPECT_EQ(plan.steps, row.steps) << row.name;
  }
}

TEST(Discipline, StartWithoutAnyProgramIsRefused) {
  EXPECT_EQ(PlanIntent(I(Intent::kCycleStart), On(TaskMode::kManual), Machine{}, {}).outcome, Plan::kRefuse);
}

}  // namespace
}  // namespace k2tcnc
