// The mode discipline: what each intent becomes in each LinuxCNC state.
#include <gtest/gtest.h>

#include "discipline.h"

namespace k2tcnc {
namespace {

Status On(TaskMode mode, Interp interp = Interp::kIdle, bool teleop = false) {
  Status s;
  s.state = TaskState::kOn;
  s.mode = mode;
  s.interp = interp;
  s.teleop = teleop;
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
Intent I(Intent::Kind kind, int axis = 0, double value = 0, std::string text = {}) {
  return {kind, axis, value, std::move(text)};
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
      {"jog stop in manual", I(Intent::kJogStop, 2), On(TaskMode::kManual), Plan::kSend, {K(Step::kJogStop, 2)}},
      {"jog stop with no jog possible", I(Intent::kJogStop, 2), On(TaskMode::kMdi), Plan::kSend, {}},
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
      {"e-stop when in e-stop", I(Intent::kEStop), InState(TaskState::kEStop), Plan::kSend, {}},
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
  };
  for (const Row& row : rows) {
    const Plan plan = PlanIntent(row.intent, row.status, "/cfg/k2t.ngc");
    EXPECT_EQ(plan.outcome, row.outcome) << row.name;
    EXPECT_EQ(plan.steps, row.steps) << row.name;
    EXPECT_EQ(plan.outcome == Plan::kRefuse, !plan.reason.empty()) << row.name;
  }
}

TEST(Discipline, StartWithoutAnyProgramIsRefused) {
  EXPECT_EQ(PlanIntent(I(Intent::kCycleStart), On(TaskMode::kManual), "").outcome, Plan::kRefuse);
}

}  // namespace
}  // namespace k2tcnc
