// The bridge's line to a running LinuxCNC over NML: attaches to it, runs the
// Worker on its own thread, and gives the worker LinuxCNC's status and
// command channels. The callbacks never wait.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "model.h"
#include "worker.h"

namespace k2tcnc {

class NmlLink final : public CommandSink {
 public:
  using Log = Worker::Log;  // called on the worker thread too

  // LinuxCNC counts as gone when its task has not beaten for 2 s and its
  // lock file is gone (it shut down), or for 10 s whatever the lock file
  // says (it died). A busy machine stalls a task for over 2 s now and then.
  static constexpr double kGoneSeconds = 2.0;
  static constexpr double kDeadSeconds = 10.0;

  NmlLink(std::string nml_file, Machine machine, Log log, Worker::Options options);
  ~NmlLink() override;
  NmlLink(const NmlLink&) = delete;
  NmlLink& operator=(const NmlLink&) = delete;

  // Attaches to LinuxCNC, waiting up to `wait_seconds` for it to come up
  // (or until `cancelled` says so). False with a message a machinist
  // understands when it is not running.
  bool Connect(double wait_seconds, const std::function<bool()>& cancelled, std::string& error);
  void Start();
  // Sends what is still queued (for at most `drain_seconds`, never a jog),
  // then ends the worker. Jogs the worker started and nobody stopped are stopped.
  void Stop(double drain_seconds);

  void Push(Intent intent) override { worker_.Push(std::move(intent)); }
  Status Snapshot() const { return worker_.Snapshot(); }
  // LinuxCNC stopped answering; the worker has stopped what it could.
  bool Gone() const { return worker_.Gone(); }

 private:
  struct Nml;

  std::string nml_file_;
  bool read_errors_;
  std::unique_ptr<Nml> nml_;
  Worker worker_;
  std::thread thread_;
};

}  // namespace k2tcnc
