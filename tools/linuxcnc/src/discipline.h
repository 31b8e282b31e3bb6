// The mode discipline LinuxCNC requires: which commands an intent becomes in
// the current state (MDI mode for G-code, MANUAL with teleop for jogs, AUTO
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
    kTeleop,        // teleop on
    kSetState,      // state
    kJog,           // axis, value
    kJogStop,       // axis
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
  };
  Kind kind;
  TaskMode mode = TaskMode::kManual;
  TaskState state = TaskState::kEStop;
  int axis = 0;
  double value = 0;
  std::string text{};

  bool operator==(const Step&) const = default;
};

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

// `program` is what cycle start opens when LinuxCNC has no program loaded;
// `own_jogs` has a bit per axis the worker sent a jog on and has not stopped.
Plan PlanIntent(const Intent& intent, const Status& status, const std::string& program, unsigned own_jogs);

// Intents that act at once, ahead of those waiting their turn: what stops
// or holds the machine, and the overrides.
bool Immediate(Intent::Kind kind);

}  // namespace k2tcnc
