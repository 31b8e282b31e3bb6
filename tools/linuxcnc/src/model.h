// What the bridge knows of LinuxCNC and what it asks of it, without any
// LinuxCNC header: the mapping and the mode discipline are plain code that
// the unit tests drive with tables.
#pragma once

#include <array>
#include <string>

namespace k2tcnc {

constexpr int kAxes = 6;  // X Y Z A B C, the module's numbering and LinuxCNC's

// The numbers are LinuxCNC's own (EMC_TASK_STATE_ENUM and friends).
enum class TaskState { kEStop = 1, kEStopReset = 2, kOff = 3, kOn = 4 };
enum class TaskMode { kManual = 1, kAuto = 2, kMdi = 3 };
enum class Interp { kIdle = 1, kReading = 2, kPaused = 3, kWaiting = 4 };

// One reading of LinuxCNC's status channel.
struct Status {
  TaskState state = TaskState::kEStop;
  TaskMode mode = TaskMode::kManual;
  Interp interp = Interp::kIdle;
  bool teleop = false;        // motion in teleop (axis jogs allowed)
  bool jogging = false;       // a jog moves; LinuxCNC ignores mode changes meanwhile
  bool identity_kins = true;  // each joint is one axis
  int joints = 3;
  unsigned homed = 0;         // bit per joint
  int queued_mdi = 0;         // MDI lines waiting
  int motion_queue = 0;       // planned motions not yet done
  bool inpos = true;
  unsigned axis_mask = 0x7;   // axes present, bit 0 = X
  std::array<double, kAxes> work{};     // work (DRO) coordinates
  std::array<double, kAxes> machine{};  // machine coordinates
  std::array<double, kAxes> to_go{};    // distance to go of the current move
  std::array<double, kAxes> commanded{};  // commanded machine position
  // Soft limits in machine coordinates: of each axis, and of the joint an
  // axis is on (identity kinematics), with that joint's commanded position.
  std::array<double, kAxes> axis_min{}, axis_max{}, joint_min{}, joint_max{}, joint_pos{};
  double feed_scale = 1.0;     // feed override, 1 = 100 %
  double spindle_scale = 1.0;  // spindle override
  bool spindle_on = false;
  bool flood = false, mist = false;
  double spindle_rpm = 0;      // commanded speed, signed by direction
  double feed = 0;             // F in effect, units per minute
  double speed = 0;            // S in effect
  bool incremental = false;    // G91
  double rotation = 0;         // XY rotation, degrees
  std::string file;            // program loaded, empty if none
  int echo_serial = 0;         // the last command LinuxCNC took ...
  bool echo_error = false;     // ... and whether it refused it
  // Counts the times the state became ON (kept by the worker): a jog asked
  // for under one count must not run under another.
  unsigned on_epoch = 0;

  bool ProgramRunning() const { return mode == TaskMode::kAuto && interp != Interp::kIdle; }
  bool AllHomed() const {
    const unsigned all = joints >= 32 ? ~0u : (1u << joints) - 1;
    return joints > 0 && (homed & all) == all;
  }
};

// What the worker needs to know of the machine besides its status.
struct Machine {
  std::string program;  // what cycle start opens when LinuxCNC has no program loaded
  // The joint each axis is on when the kinematics are identity, -1 when it
  // has none or shares one (a gantry's two joints must never jog apart).
  std::array<int, kAxes> joint_of_axis{0, 1, 2, 3, 4, 5};
};

// What the bridge wants done; the worker turns each into LinuxCNC commands
// with the mode changes they need, or refuses it.
struct Intent {
  enum Kind {
    kEStop,
    kEStopReset,
    kMachineOn,
    kCycleStart,  // run, or resume when paused
    kPause,
    kAbort,
    kSpindleOn,   // value: speed
    kSpindleOff,
    kJog,         // axis, value: units per second, signed
    kJogIncr,     // axis, value: distance, signed; speed: units per second
    kJogStop,     // axis
    kMdi,         // text
    kFeedScale,   // value: 1 = 100 %
    kSpindleScale,
    kDisplay,     // text: an operator message
    kFlood,       // value: 1 on, 0 off
    kMist,        // value: 1 on, 0 off
    kHome,        // axis: home the joint it is on
  };
  Kind kind;
  int axis = 0;
  double value = 0;
  std::string text{};
  // The ON count the bridge saw when it asked, 0 when the machine was not on.
  unsigned premise = 0;
  double speed = 0;
};

const char* IntentName(Intent::Kind kind);
std::string Describe(const Intent& intent);

constexpr const char* kAxisLetters = "XYZABC";
// Locale-independent decimal text for G-code words and the log.
std::string GcodeNumber(double value);

class CommandSink {
 public:
  virtual ~CommandSink() = default;
  virtual void Push(Intent intent) = 0;
};

}  // namespace k2tcnc
