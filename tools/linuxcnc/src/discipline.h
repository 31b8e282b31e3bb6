// The mode discipline LinuxCNC requires: which commands an intent becomes in
// the current state (MDI mode for G-code, MANUAL for jogs and homing, AUTO
// for programs), and which intents LinuxCNC would refuse now.
#pragma once

#include <string>
#include <vector>

#include "model.h"

namespace k2tcnc {

// One LinuxCNC command.
struct Step {
  enum Kind {
    kSetMode,       // mode
    kTeleop,        // on: teleop (axis jogs), else free (joint jogs)
    kSetState,      // state
    kJog,           // axis (a joint when `joint`), value: speed, signed
    kJogIncr,       // axis (a joint when `joint`), value: distance, signed; speed
    kJogStop,       // axis (a joint when `joint`)
    kMdi,           // text
    kOpen,          // text: program path
    kRun,
    kResume,
    kPause,
    kAbort,
    kSpindleOn,     // value: speed
    kSpindleOff,
    kFeedScale,     // value
    kSpindleScale,  // value
    kDisplay,       // text
    kFlood,         // on
    kMist,          // on
    kHome,          // axis: the joint
  };
  Kind kind;
  TaskMode mode = TaskMode::kManual;
  TaskState state = TaskState::kEStop;
  int axis = 0;
  double value = 0;
  std::string text{};
  bool joint = false;
  bool on = true;
  double speed = 0;

  bool operator==(const Step&) const = default;
};

// "mode MDI", "increment X +0.0010 at 25.0000/s", "jog stop joint 1": for
// the log and the tests.
std::string Describe(const Step& step);

struct Plan {
  enum Outcome {
    kSend,     // send `steps` in order (none: nothing to do)
    kWait,     // LinuxCNC is busy (`reason`): ask again soon
    kRefuse,   // LinuxCNC would refuse it now: `reason`
  };
  Outcome outcome = kSend;
  std::vector<Step> steps;
  std::string reason;
};

// The continuous jogs the worker sent and has not stopped, a bit per axis,
// and which of them went out as joint jogs (their stops must too).
struct OwnJogs {
  unsigned sent = 0;
  unsigned joint = 0;
};

Plan PlanIntent(const Intent& intent, const Status& status, const Machine& machine, OwnJogs own_jogs);

// Intents that act at once, ahead of those waiting their turn: what stops
// or holds the machine, and the overrides.
bool Immediate(Intent::Kind kind);

}  // namespace k2tcnc
