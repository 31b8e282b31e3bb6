// The host side of the module on LinuxCNC: every callback, LED, DRO and
// record field the module uses, answered from LinuxCNC's status or from the
// bridge's own state, and every action turned into an Intent for the worker.
// Runs on the host's loop thread; never blocks.
#pragma once

#include <array>
#include <functional>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "config.h"
#include "model.h"

namespace k2tcnc {

// The three records the module reads and writes, as the host allocated them.
struct Records {
  unsigned char* motion = nullptr;
  unsigned char* setup = nullptr;
  unsigned char* planner = nullptr;
};

class Bridge {
 public:
  using Clock = std::function<double()>;  // seconds, monotonic
  using Log = std::function<void(const std::string&)>;

  // How long the E-stop LED serves the commanded latch after a 1021, and how
  // long a value the module set is served before LinuxCNC's status is
  // believed again: LinuxCNC's status lags a command by up to three ticks.
  static constexpr double kEStopHold = 0.5;
  static constexpr double kValueHold = 0.5;
  // Machine on waits this long after an E-stop release.
  static constexpr double kMachineOnQuiet = 0.15;
  // Both the latch and machine on also wait for this many polls of the
  // pendant without a 1021: a switch still held sends one on the next poll
  // that finds the latch dark, and a stalled loop polls nothing however
  // long it stalls.
  static constexpr unsigned kQuietPolls = 4;

  Bridge(const BridgeConfig& config, CommandSink& sink, Records records, Clock clock, Log log);

  // The latest status; call before the module runs.
  void SetStatus(const Status& status) { status_ = status; }
  const Status& status() const { return status_; }

  // The module's callbacks.
  void DoButton(int code);
  void SetDRO(int code, double value);
  double GetDRO(int code);
  bool GetLED(int code);
  void SetLED(int code, bool on);
  void Code(std::string_view text);
  // The module's call (a poll tick, Update, ...) has returned.
  void EndModuleCall();

  // The module is about to poll the pendant (its own timer).
  void ModulePoll() { ++polls_; }
  // Timed work (machine on after a quiet E-stop release) and the record
  // fields the module reads. Call every tick.
  void Tick();
  void FillRecords();
  // The module's message line changed: show it.
  void Message(const std::string& text);

  // Stops every jog the bridge started; for the end of a session.
  void StopJogs();

  // The pendant's E-stop as its 1021 toggles set it: on from a press until
  // the release. Not LinuxCNC's state: another display's E-stop is not the
  // pendant's.
  bool PendantEStop() const { return pendant_estop_; }

 private:
  struct Held {
    double value = 0;
    double until = -std::numeric_limits<double>::infinity();
  };
  // A jog the bridge asked for, under the machine-on count it saw: the same
  // speed is not asked for again unless the machine has been switched on since.
  struct OwnJog {
    double velocity;
    unsigned premise;
  };
  static std::size_t Index(int axis) { return static_cast<std::size_t>(axis); }
  unsigned Premise() const { return status_.state == TaskState::kOn ? status_.on_epoch : 0; }

  void Push(Intent::Kind kind, int axis = 0, double value = 0, std::string text = {});
  void Mdi(std::string text) { Push(Intent::kMdi, 0, 0, std::move(text)); }
  void EStopPressed();
  void Jog(int axis, double velocity);
  void JogStop(int axis);
  void DoJog();
  void EndJog();
  bool StepJog(std::string_view text);
  void Increment(int axis, double distance, double speed);
  void SetFeedOrSpeed(int code, double value);
  void Toggle(Intent::Kind kind, Held& held, bool live);
  void AbsoluteMdi(const std::string& text);
  void GoHome();
  double HeldOr(const Held& held, double live) const;
  void Hold(Held& held, double value) { held = {value, clock_() + kValueHold}; }
  void Once(std::set<std::string>& seen, const std::string& key, const std::string& text);

  BridgeConfig config_;
  CommandSink& sink_;
  Records records_;
  Clock clock_;
  Log log_;
  Status status_;

  // E-stop: the commanded latch, when the last 1021 came (time and pendant
  // poll), when to power on.
  bool Quiet() const;
  bool estop_latch_ = true;
  bool pendant_estop_ = false;
  double last_estop_ = -std::numeric_limits<double>::infinity();
  unsigned long polls_ = 0;
  std::optional<unsigned long> estop_poll_;
  std::optional<double> machine_on_due_;

  // Values the module set, served until LinuxCNC's status has caught up.
  Held feed_scale_, spindle_scale_, feed_, speed_, spindle_on_, flood_, mist_;

  // The module forces the feed override to 100 % around its step jogs and
  // puts it (and the feed) back afterwards. LinuxCNC's jogs ignore the
  // override, so neither write may reach it: the 100 % waits for the end of
  // the module's call to see whether a step jog came with it.
  std::optional<double> deferred_override_, deferred_feed_;
  bool step_jog_in_call_ = false;
  bool step_cycle_ = false;  // the override LinuxCNC has is the one the module saved

  // The bridge's own state: what has no LinuxCNC meaning.
  double jog_rate_;           // DRO 3, percent
  double step_size_ = 0.001;  // DRO 828
  double coord_display_ = 1;  // DRO 46
  int jog_mode_led_ = 14;     // 14, 15 or 57
  bool machine_coords_ = false, dist_to_go_ = false;  // LEDs 16, 163

  std::array<std::optional<OwnJog>, kAxes> jogs_{};
  std::string message_;
  std::set<std::string> logged_;
};

}  // namespace k2tcnc
