#include "discipline.h"

namespace k2tcnc {

namespace {

Plan Send(std::vector<Step> steps) { return {Plan::kSend, std::move(steps), {}}; }
Plan Refuse(std::string reason) { return {Plan::kRefuse, {}, std::move(reason)}; }
Plan Wait(std::string reason) { return {Plan::kWait, {}, std::move(reason)}; }

Step Mode(TaskMode mode) { return {Step::kSetMode, mode}; }
Step State(TaskState state) {
  Step s{Step::kSetState};
  s.state = state;
  return s;
}
Step Simple(Step::Kind kind) { return {kind}; }
Step WithAxis(Step::Kind kind, int axis, double value = 0) {
  Step s{kind};
  s.axis = axis;
  s.value = value;
  return s;
}
Step WithValue(Step::Kind kind, double value) {
  Step s{kind};
  s.value = value;
  return s;
}
Step WithText(Step::Kind kind, std::string text) {
  Step s{kind};
  s.text = std::move(text);
  return s;
}

// A mode change is refused while the interpreter works (an MDI line or a
// program) and ignored while an axis jogs, so it waits for both to end; a
// running program refuses everything else. Returns false with `plan` set
// when the intent cannot go on now.
bool EnterMode(const Status& s, TaskMode mode, unsigned own_jogs, std::vector<Step>& steps, Plan& plan) {
  if (s.ProgramRunning()) {
    plan = Refuse("a program is running");
    return false;
  }
  if (s.mode == mode) return true;
  if (s.interp != Interp::kIdle) {
    plan = Wait("MDI lines are running");
    return false;
  }
  if (own_jogs != 0) {
    plan = Wait("a jog is running");
    return false;
  }
  steps.push_back(Mode(mode));
  return true;
}

bool RequireOn(const Status& s, Plan& plan) {
  if (s.state == TaskState::kOn) return true;
  plan = Refuse(s.state == TaskState::kEStop ? "the machine is in E-stop" : "the machine is off");
  return false;
}

}  // namespace

bool Immediate(Intent::Kind kind) {
  switch (kind) {
    case Intent::kEStop:
    case Intent::kAbort:
    case Intent::kPause:
    case Intent::kJogStop:
    case Intent::kSpindleOff:
    case Intent::kFeedScale:
    case Intent::kSpindleScale:
    case Intent::kDisplay: return true;
    default: return false;
  }
}

Plan PlanIntent(const Intent& intent, const Status& s, const std::string& program, unsigned own_jogs) {
  std::vector<Step> steps;
  Plan plan;
  switch (intent.kind) {
    case Intent::kEStop:
      // Always: the status may be old (another display reset the E-stop a
      // moment ago), and LinuxCNC takes an E-stop in E-stop.
      return Send({State(TaskState::kEStop)});
    case Intent::kEStopReset:
      if (s.state != TaskState::kEStop) return Send({});
      return Send({State(TaskState::kEStopReset)});
    case Intent::kMachineOn:
      if (s.state == TaskState::kOn) return Send({});
      if (s.state == TaskState::kEStop) return Refuse("the machine is in E-stop");
      return Send({State(TaskState::kOn)});
    case Intent::kAbort: return Send({Simple(Step::kAbort)});
    case Intent::kFeedScale: return Send({WithValue(Step::kFeedScale, intent.value)});
    case Intent::kSpindleScale: return Send({WithValue(Step::kSpindleScale, intent.value)});
    case Intent::kDisplay: return Send({WithText(Step::kDisplay, intent.text)});

    case Intent::kPause:
      if (s.interp == Interp::kReading || s.interp == Interp::kWaiting) return Send({Simple(Step::kPause)});
      return Refuse("nothing runs that could pause");

    case Intent::kCycleStart:
      if (!RequireOn(s, plan)) return plan;
      if (s.interp == Interp::kPaused) return Send({Simple(Step::kResume)});
      if (s.ProgramRunning()) return Send({});  // already running
      if (s.file.empty() && program.empty()) return Refuse("no program is loaded and [K2T]PROGRAM names none");
      if (!EnterMode(s, TaskMode::kAuto, own_jogs, steps, plan)) return plan;
      if (s.file.empty()) steps.push_back(WithText(Step::kOpen, program));
      steps.push_back(Simple(Step::kRun));
      return Send(std::move(steps));

    case Intent::kSpindleOn:
    case Intent::kSpindleOff:
      if (!RequireOn(s, plan)) return plan;
      if (s.ProgramRunning()) return Refuse("a program is running");
      if (intent.kind == Intent::kSpindleOff) return Send({Simple(Step::kSpindleOff)});
      return Send({WithValue(Step::kSpindleOn, intent.value)});

    case Intent::kJog:
      if (!RequireOn(s, plan)) return plan;
      // The pendant asked while the machine was not on, or it has been off
      // since: a jog it may not stop as it expects must not start.
      if (intent.premise != s.on_epoch) return Refuse("the machine was not on when the jog was asked for");
      if (intent.axis < 0 || intent.axis >= kAxes || !(s.axis_mask & (1u << intent.axis)))
        return Refuse("the axis is not on this machine");
      if (!EnterMode(s, TaskMode::kManual, own_jogs, steps, plan)) return plan;
      if (!s.teleop) steps.push_back(Simple(Step::kTeleop));
      steps.push_back(WithAxis(Step::kJog, intent.axis, intent.value));
      return Send(std::move(steps));

    case Intent::kJogStop:
      // Only a jog the worker sent needs a stop, and only while the machine
      // is on: leaving ON ends every jog.
      if (intent.axis < 0 || intent.axis >= kAxes || !(own_jogs & (1u << intent.axis)) ||
          s.state != TaskState::kOn)
        return Send({});
      return Send({WithAxis(Step::kJogStop, intent.axis)});

    case Intent::kMdi:
      if (!RequireOn(s, plan)) return plan;
      if (!EnterMode(s, TaskMode::kMdi, own_jogs, steps, plan)) return plan;
      steps.push_back(WithText(Step::kMdi, intent.text));
      return Send(std::move(steps));
  }
  return Refuse("unknown intent");
}

}  // namespace k2tcnc
