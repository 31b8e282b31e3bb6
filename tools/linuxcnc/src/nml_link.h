// The bridge's line to a running LinuxCNC over NML. One worker thread owns
// every NML channel: it drains the intents the bridge pushes (in order, with
// E-stop, stop, pause and overrides ahead of the rest), does the mode
// discipline, sends each command and waits for LinuxCNC's echo, and reads
// the status the bridge answers the module from. The callbacks never wait.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "discipline.h"
#include "model.h"

namespace k2tcnc {

class NmlLink final : public CommandSink {
 public:
  using Log = std::function<void(const std::string&)>;  // called on the worker thread too

  // LinuxCNC counts as gone when its task has not beaten for 2 s and its
  // lock file is gone (it shut down), or for 10 s whatever the lock file
  // says (it died). A busy machine stalls a task for over 2 s now and then.
  static constexpr double kGoneSeconds = 2.0;
  static constexpr double kDeadSeconds = 10.0;

  NmlLink(std::string nml_file, std::string program, Log log);
  ~NmlLink() override;
  NmlLink(const NmlLink&) = delete;
  NmlLink& operator=(const NmlLink&) = delete;

  // Attaches to LinuxCNC, waiting up to `wait_seconds` for it to come up.
  // False with a message a machinist understands when it is not running.
  bool Connect(double wait_seconds, std::string& error);
  void Start();
  // Sends what is still queued (for at most `drain_seconds`), then ends the
  // worker. Jogs the worker started and nobody stopped are stopped.
  void Stop(double drain_seconds);

  void Push(Intent intent) override;
  Status Snapshot() const;
  // LinuxCNC stopped answering; the worker has stopped what it could.
  bool Gone() const { return gone_; }

 private:
  struct Nml;

  void Run();
  bool Poll();  // false when LinuxCNC is gone
  bool Execute(const Intent& intent, bool may_wait);
  bool SendStep(const Step& step);
  bool Interrupted();
  void StopOwnJogs(bool wait_for_echo);
  void Refused(const Intent& intent, const std::string& reason);

  std::string nml_file_, program_;
  Log log_;
  std::unique_ptr<Nml> nml_;

  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::deque<Intent> queue_, immediate_;
  unsigned queue_generation_ = 0;  // counts clears, so the worker never drops a newer front
  Status snapshot_;
  bool stopping_ = false;
  double drain_deadline_ = 0;
  std::atomic<bool> gone_{false};
  std::thread worker_;

  // Worker-only state.
  Status status_;
  unsigned heartbeat_ = 0;
  double heartbeat_time_ = 0;
  int serial_ = 0;
  unsigned jogs_sent_ = 0;  // bit per axis: a jog sent and not stopped
  double front_waiting_since_ = -1;
  std::string last_refusal_;
};

}  // namespace k2tcnc
