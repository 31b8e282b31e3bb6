// The worker between the bridge and LinuxCNC: it drains the intents the
// bridge pushes (what stops or holds the machine first), does the mode
// discipline, sends each command and waits for LinuxCNC's echo, and keeps
// the status the bridge answers the module from. Plain code over a
// Controller: NmlLink runs it on its own thread over NML, the tests drive it
// against a fake LinuxCNC and a fake clock.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
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
  virtual bool Write(const Step& step, int serial) = 0;
  virtual double Now() = 0;  // seconds, monotonic; called from any thread
  virtual void Sleep(double seconds) = 0;
};

class Worker final : public CommandSink {
 public:
  using Log = std::function<void(const std::string&)>;  // called on the worker thread

  static constexpr double kEchoTimeout = 2.0;    // for LinuxCNC to take a command
  static constexpr double kSettleTimeout = 1.0;  // for a mode or state change to show in the status
  // A command that has to wait (MDI lines running, a jog still going) and
  // cannot go within this time is dropped: run seconds later, it would
  // surprise the machinist.
  static constexpr double kDeferLimit = 0.5;

  Worker(Controller& lcnc, std::string program, Log log);

  // Any thread.
  void Push(Intent intent) override;
  Status Snapshot() const;
  bool Gone() const { return gone_; }

  // Reads the status and remembers the serial number LinuxCNC echoed last.
  bool Begin();
  // One round: reads the status and handles the next intent. False when
  // LinuxCNC is gone.
  bool Cycle();
  // The worker thread: rounds until RequestStop, then Finish.
  void Run();
  void RequestStop(double drain_seconds);
  // Sends what is still queued (never a jog) until the drain time is over,
  // then stops every jog it sent and nobody stopped.
  void Finish();

 private:
  struct Entry {
    Intent intent;
    double since = 0;       // when it was pushed
    unsigned clears = 0;    // E-stops and stops pushed before it
    unsigned cancels = 0;   // jog stops of its axis, or spindle offs, pushed before it
  };
  unsigned CancelsOf(const Intent& intent) const;
  bool Stale(const Entry& entry) const { return entry.clears != clears_ || entry.cancels != CancelsOf(entry.intent); }

  bool StaleNow(const Entry& entry) const;
  bool Poll();
  bool Interrupted() const;
  bool SendStep(const Step& step);
  void StopOwnJogs();
  void Refused(const Intent& intent, const std::string& reason);

  Controller& lcnc_;
  std::string program_;
  Log log_;

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
  int serial_ = 0;
  unsigned jogs_sent_ = 0;  // bit per axis: a jog sent and not stopped
  std::string last_refusal_;
};

}  // namespace k2tcnc
