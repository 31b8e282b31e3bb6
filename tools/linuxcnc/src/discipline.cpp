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
Step Switch(Step::Kind kind, bool on) {
  Step s{kind};
  s.on = on;
  return s;
}

bool ValidAxis(const Status& s, int axis) { return axis >= 0 && axis < kAxes && (s.axis_mask & (1u << axis)); }

// A mode change is refused while the interpreter works (an MDI line or a
// program) and ignored while anything jogs, so it waits for both to end; a
// running program refuses everything else. Returns false with `plan` set
// when the intent cannot go on now.
bool EnterMode(const Status& s, TaskMode mode, OwnJogs own, std::vector<Step>& steps, Plan& plan) {
  if (s.ProgramRunning()) {
    plan = Refuse("a program is running");
    return false;
  }
  if (s.mode == mode) return true;
  if (s.interp != Interp::kIdle) {
    plan = Wait("MDI lines are running");
    return false;
  }
  if (own.sent != 0 || s.jogging) {
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

// Teleop for axis jogs, free mode for joint jogs and homing; LinuxCNC
// ignores the switch while anything jogs.
bool EnterTeleop(const Status& s, bool teleop, std::vector<Step>& steps, Plan& plan) {
  if (s.teleop == teleop) return true;
  if (s.jogging) {
    plan = Wait("a jog is running");
    return false;
  }
  steps.push_back(Switch(Step::kTeleop, teleop));
  return true;
}

// The joint an axis is on, on identity kinematics; -1 when there is none
// LinuxCNC could move alone.
int JointOf(const Status& s, const Machine& m, int axis) {
  if (!s.identity_kins) return -1;
  const int joint = m.joint_of_axis[static_cast<std::size_t>(axis)];
  return joint >= 0 && joint < s.joints ? joint : -1;
}

// How a jog of `axis` goes out now, as a GUI would send it: an axis jog in
// teleop once the machine is homed, else a jog of the axis' joint.
bool JogForm(const Status& s, const Machine& m, int axis, Step& jog, std::vector<Step>& steps, Plan& plan) {
  if (s.AllHomed()) {
    jog.joint = false;
    jog.axis = axis;
  } else {
    const int joint = JointOf(s, m, axis);
    if (joint < 0) {
      plan = Refuse("the machine is not homed, and the axis is not on a joint of its own: home it first");
      return false;
    }
    jog.joint = true;
    jog.axis = joint;
  }
  return EnterTeleop(s, !jog.joint, steps, plan);
}

}  // namespace

std::string Describe(const Step& step) {
  static constexpr const char* kModes[] = {"?", "MANUAL", "AUTO", "MDI"};
  static constexpr const char* kStates[] = {"?", "ESTOP", "ESTOP_RESET", "OFF", "ON"};
  const std::string target = step.joint ? "joint " + std::to_string(step.axis)
                             : step.axis >= 0 && step.axis < kAxes ? std::string(1, kAxisLetters[step.axis])
                                                                   : "?";
  const std::string on = step.on ? "on" : "off";
  switch (step.kind) {
    case Step::kSetMode: return std::string("mode ") + kModes[static_cast<int>(step.mode) & 3];
    case Step::kTeleop: return "teleop " + on;
    case Step::kSetState: return std::string("state ") + kStates[static_cast<int>(step.state) % 5];
    case Step::kJog: return "jog " + target + " at " + GcodeNumber(step.value) + "/s";
    case Step::kJogIncr:
      return "increment " + target + " " + (step.value < 0 ? "" : "+") + GcodeNumber(step.value) + " at " +
             GcodeNumber(step.speed) + "/s";
    case Step::kJogStop: return "jog stop " + target;
    case Step::kMdi: return "MDI \"" + step.text + "\"";
    case Step::kOpen: return "open \"" + step.text + "\"";
    case Step::kRun: return "run";
    case Step::kResume: return "resume";
    case Step::kPause: return "pause";
    case Step::kAbort: return "abort";
    case Step::kSpindleOn: return "spindle on at " + GcodeNumber(step.value);
    case Step::kSpindleOff: return "spindle off";
    case Step::kFeedScale: return "feed override " + GcodeNumber(step.value * 100) + " %";
    case Step::kSpindleScale: return "spindle override " + GcodeNumber(step.value * 100) + " %";
    case Step::kDisplay: return "operator message \"" + step.text + "\"";
    case Step::kFlood: return "flood " + on;
    case Step::kMist: return "mist " + on;
    case Step::kHome: return "home joint " + std::to_string(step.axis);
  }
  return "command";
}

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

Plan PlanIntent(const Intent& intent, const Status& s, const Machine& machine, OwnJogs own) {
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
      if (s.file.empty() && machine.program.empty())
        return Refuse("no program is loaded and [K2T]PROGRAM names none");
      if (!EnterMode(s, TaskMode::kAuto, own, steps, plan)) return plan;
      if (s.file.empty()) steps.push_back(WithText(Step::kOpen, machine.program));
      steps.push_back(Simple(Step::kRun));
      return Send(std::move(steps));

    case Intent::kSpindleOn:
    case Intent::kSpindleOff:
    case Intent::kFlood:
    case Intent::kMist:
      if (!RequireOn(s, plan)) return plan;
      if (s.ProgramRunning()) return Refuse("a program is running");
      if (intent.kind == Intent::kSpindleOff) return Send({Simple(Step::kSpindleOff)});
      if (intent.kind == Intent::kSpindleOn) return Send({WithValue(Step::kSpindleOn, intent.value)});
      return Send({Switch(intent.kind == Intent::kFlood ? Step::kFlood : Step::kMist, intent.value != 0)});

    case Intent::kJog:
    case Intent::kJogIncr: {
      if (!RequireOn(s, plan)) return plan;
      // The pendant asked while the machine was not on, or it has been off
      // since: a jog it may not stop as it expects must not start.
      if (intent.premise != s.on_epoch) return Refuse("the machine was not on when the jog was asked for");
      if (!ValidAxis(s, intent.axis)) return Refuse("the axis is not on this machine");
      if (!EnterMode(s, TaskMode::kManual, own, steps, plan)) return plan;
      Step jog{intent.kind == Intent::kJog ? Step::kJog : Step::kJogIncr};
      jog.value = intent.value;
      jog.speed = intent.speed;
      if (!JogForm(s, machine, intent.axis, jog, steps, plan)) return plan;
      steps.push_back(jog);
      return Send(std::move(steps));
    }

    case Intent::kJogStop: {
      // Only a jog the worker sent needs a stop, and only while the machine
      // is on: leaving ON ends every jog. It goes out in the jog's own form.
      if (intent.axis < 0 || intent.axis >= kAxes) return Send({});
      const unsigned bit = 1u << intent.axis;
      if (!(own.sent & bit) || s.state != TaskState::kOn) return Send({});
      Step stop = WithAxis(Step::kJogStop, intent.axis);
      if (own.joint & bit) {
        stop.joint = true;
        stop.axis = machine.joint_of_axis[static_cast<std::size_t>(intent.axis)];
      }
      return Send({stop});
    }

    case Intent::kHome: {
      if (!RequireOn(s, plan)) return plan;
      if (!ValidAxis(s, intent.axis)) return Refuse("the axis is not on this machine");
      const int joint = JointOf(s, machine, intent.axis);
      if (joint < 0) return Refuse("the axis is not on a joint of its own (kinematics that are not identity)");
      if (!EnterMode(s, TaskMode::kManual, own, steps, plan)) return plan;
      if (!EnterTeleop(s, false, steps, plan)) return plan;  // LinuxCNC homes joints, in joint mode
      steps.push_back(WithAxis(Step::kHome, joint));
      return Send(std::move(steps));
    }

    case Intent::kMdi:
      if (!RequireOn(s, plan)) return plan;
      if (!EnterMode(s, TaskMode::kMdi, own, steps, plan)) return plan;
      steps.push_back(WithText(Step::kMdi, intent.text));
      return Send(std::move(steps));
  }
  return Refuse("unknown intent");
}

}  // namespace k2tcnc
