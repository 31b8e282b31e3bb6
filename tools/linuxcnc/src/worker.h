// The worker between the bridge and LinuxCNC: it drains the intents the
// bridge pushes (what stops or holds the machine first), does the mode
// discipline, sends each command and waits for LinuxCNC's echo, puts the
// task back in the mode the user had once the pendant is done, and keeps the
// status the bridge answers the module from. Plain code over a Controller:
// NmlLink runs it on its own thread over NML, the tests drive it against a
// fake LinuxCNC and a fake clock.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "discipline.h"
#include "model.h"

namespace k2tcnc {

// What the worker needs of LinuxCNC.
class Controller {
 public:
  virtual ~Controller() = default;
  // LinuxCNC's status now; false when LinuxCNC is gone.
  virtual bool Read(Status& status) = 0;
  // Hands one command to LinuxCNC; false when the channel did not take it.
  // `serial` is the number the channel gave it: every client's commands
  // share one count, so it is known only once written.
  virtual bool Write(const Step& step, int& serial) = 0;
  // The next message of LinuxCNC's error channel, if one waits.
  virtual bool ReadError(std::string& /*text*/) { return false; }
  virtual double Now() = 0;  // seconds, monotonic; called from any thread
  virtual void Sleep(double seconds) = 0;
};

struct WorkerOptions {
  bool verbose = false;      // log every command sent
  bool read_errors = false;  // the bridge is the display: it reads and logs LinuxCNC's errors
};

class Worker final : public CommandSink {
 public:
  using Log = std::function<void(const std::string&)>;  // called on the worker thread

  using Options = WorkerOptions;

  static constexpr double kEchoTimeout = 2.0;    // for LinuxCNC to take a command
  static constexpr double kSettleTimeout = 1.0;  // for a mode or state change to show in the status
  // A command that has to wait (MDI lines running, a jog still going) and
  // cannot go within this time is dropped: run seconds later, it would
  // surprise the machinist.
  static constexpr double kDeferLimit = 0.5;
  // The mode the user had comes back once the pendant has asked for nothing
  // for this long and what it started has finished: not between two detents.
  static constexpr double kRestoreQuiet = 1.0;

  Worker(Controller& lcnc, Machine machine, Log log, Options options = {});

  // Any thread.
  void Push(Intent intent) override;
  Status Snapshot() const;
  bool Gone() const { return gone_; }

  // Reads the status.
  bool Begin();
  // One round: reads the status and handles the next intent, or puts the
  // user's mode back. False when LinuxCNC is gone.
  bool Cycle();
  // The worker thread: rounds until RequestStop, then Finish.
  void Run();
  void RequestStop(double drain_seconds);
  // Sends what is still queued (never a jog) until the drain time is over,
  // then stops every jog it sent and nobody stopped, and puts the user's
  // mode back if there is time.
  void Finish();

 private:
  struct Entry {
    Intent intent;
    double since = 0;       // when it was pushed
    unsigned clears = 0;    // E-stops and stops pushed before it
    unsigned cancels = 0;   // jog stops of its axis, or spindle offs, pushed before it
  };
  struct Error {
    std::string text;
    double since;
  };
  unsigned CancelsOf(const Intent& intent) const;
  bool Stale(const Entry& entry) const { return entry.clears != clears_ || entry.cancels != CancelsOf(entry.intent); }

  bool StaleNow(const Entry& entry) const;
  bool Poll();
  bool Interrupted() const;
  bool SendStep(const Step& step, bool restore = false);
  unsigned AxesOf(const Step& step) const;
  void StopOwnJogs();
  void Refused(const Intent& intent, const std::string& reason);
  void CheckSoftLimit(const Intent& intent, const Step& step);
  bool RestoreMode(bool quiet_needed);
  std::string TakeErrors(double wait);
  void LogOldErrors();

  Controller& lcnc_;
  Machine machine_;
  Log log_;
  Options options_;

  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::deque<Entry> immediate_, queue_;
  unsigned clears_ = 0;
  std::array<unsigned, kAxes> jog_stops_{};
  unsigned spindle_offs_ = 0;
  bool front_deferred_ = false;
  bool stopping_ = false;
  double drain_deadline_ = 0;
  Status snapshot_;
  std::atomic<bool> gone_{false};

  // Worker thread only.
  Status status_;
  TaskState last_state_ = TaskState::kEStop;
  unsigned on_epoch_ = 0;
  OwnJogs own_;                         // continuous jogs sent and not stopped
  std::optional<TaskMode> user_mode_;   // what the bridge changed the mode from ...
  TaskMode bridge_mode_ = TaskMode::kManual;  // ... and to
  double last_activity_ = 0;
  std::array<double, kAxes> goal_{}, goal_until_{};  // where increments sent will end
  std::array<bool, kAxes> beyond_said_{};
  std::deque<Error> errors_;
  std::string last_refusal_;
};

}  // namespace k2tcnc
