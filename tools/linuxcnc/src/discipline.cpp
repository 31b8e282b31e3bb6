#include "discipline.h"

namespace k2tcnc {

namespace {

Plan Send(std::vector<Step> steps) { return {Plan::kSend, std::move(steps), {}}; }
Plan Refuse(std::string reason) { return {Plan::kRefuse, {}, std::move(reason)}; }
Plan Wait() { return {Plan::kWait, {}, {}}; }

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
// program), so it waits for idle; a running program refuses everything else.
// Returns false with `plan` set when the intent cannot go on now.
bool EnterMode(const Status& s, TaskMode mode, std::vector<Step>& steps, Plan& plan) {
  if (s.ProgramRunning()) {
    plan = Refuse("a program is running");
    return false;
  }
  if (s.mode == mode) return true;
  if (s.interp != Interp::kIdle) {
    plan = Wait();
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
    case Intent::kFeedScale:
    case Intent::kSpindleScale:
    case Intent::kDisplay: return true;
    default: return false;
  }
}

Plan PlanIntent(const Intent& intent, const Status& s, const std::string& program) {
  std::vector<Step> steps;
  Plan plan;
  switch (intent.kind) {
    case Intent::kEStop:
      if (s.state == TaskState::kEStop) return Send({});
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
      if (!EnterMode(s, TaskMode::kAuto, steps, plan)) return plan;
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
      if (!(s.axis_mask & (1u << intent.axis))) return Refuse("the axis is not on this machine");
      if (!EnterMode(s, TaskMode::kManual, steps, plan)) return plan;
      if (!s.teleop) steps.push_back(Simple(Step::kTeleop));
      steps.push_back(WithAxis(Step::kJog, intent.axis, intent.value));
      return Send(std::move(steps));

    case Intent::kJogStop:
      // Only MANUAL has jogs to stop; any other mode has ended them.
      if (s.mode != TaskMode::kManual || s.state != TaskState::kOn) return Send({});
      return Send({WithAxis(Step::kJogStop, intent.axis)});

    case Intent::kMdi:
      if (!RequireOn(s, plan)) return plan;
      if (!EnterMode(s, TaskMode::kMdi, steps, plan)) return plan;
      steps.push_back(WithText(Step::kMdi, intent.text));
      return Send(std::move(steps));
  }
  return Refuse("unknown intent");
}

}  // namespace k2tcnc
