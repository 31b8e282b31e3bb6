// One bench session: the loaded module, the simulated machine behind the
// host's callbacks and records, the virtual pendant, the event loop handed to
// the module, and the clock that drives them all.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "event.h"
#include "host_callbacks.h"
#include "k2t/host_loop.h"
#include "loop.h"
#include "machine.h"
#include "module_api.h"
#include "pendant.h"

namespace bench {

// The host kit's pieces the whole bench works with.
using host_kit::Control;
using host_kit::ControlByName;
using host_kit::ControlName;
using host_kit::kControls;
using host_kit::Loop;
using host_kit::RealLoop;
using host_kit::VirtualLoop;
using host_kit::VirtualPendant;

struct BenchOptions {
  std::string module_path;
  std::string profile_path;
  double update_hz = 10;      // host Update calls per second
  bool passive = false;       // no simulated machine: host state changes only by script
  bool real_pendant = false;  // the module uses hidraw, not the virtual pendant
  bool trace_reads = false;   // GetDRO and GetLED calls become events too
  bool start_unplugged = false;
  double report_rate = 0;     // reports per second; 0: one per poll tick
};

// The module's callbacks and event loop reach the bench through the host
// kit's thunks.
class Bench final : private host_kit::HostCallbacks, private host_kit::HostLoopCallbacks {
 public:
  static constexpr double kTickSeconds = 0.025;  // the module's poll period

  Bench(BenchOptions options, Loop& loop);
  ~Bench() override;
  Bench(const Bench&) = delete;
  Bench& operator=(const Bench&) = delete;

  // Every sink hears every event, in the order added.
  void AddSink(EventSink sink) { sinks_.push_back(std::move(sink)); }

  bool Load(std::string& error) { return host_kit::LoadModule(options_.module_path, api_, error); }
  // InitControl, the callbacks, SetProName, PostInitControl.
  void Start();
  // StopPlug; once.
  void Stop();

  // Virtual time: one poll tick (machine, pendant report, the module's
  // timers), then the Update calls that fall due at the configured rate.
  void Tick();
  void CallUpdate();
  void CallConfig();
  // The pendant, or with `other` the other HID device on the bus.
  void Plug(bool other = false);
  void Unplug(bool other = false);
  // Real time: the machine advances by the time since the last call.
  void AdvanceRealTime();

  double Now() const;
  bool virtual_time() const { return loop_.virtual_time(); }
  long ticks() const { return ticks_; }
  long updates() const { return updates_; }
  const std::string& title() const { return title_; }
  const BenchOptions& options() const { return options_; }
  bool started() const { return started_; }
  Machine& machine() { return machine_; }
  VirtualPendant& pendant() { return pendant_; }
  // Called once per module poll tick, after the module ran (real time too).
  std::function<void()> after_tick;
  // Wall-clock seconds the module's last poll tick held the host's thread.
  double last_tick_seconds() const { return last_tick_seconds_; }

  void Emit(EventKind kind, std::string text, std::string note = {});

 private:
  // Each call is an event, then the machine's.
  void DoButton(short code) override;
  void SetDRO(int code, double value) override;
  double GetDRO(int code) override;
  bool GetLED(int code) override;
  void SetLED(int code, bool on) override;
  void Code(std::string_view text) override;
  unsigned AddTimer(unsigned period_ms, void (*fn)(void*), void* arg) override;
  void RemoveTimer(unsigned id) override;
  unsigned AddReader(int fd, void (*fn)(void*), void* arg) override;
  void RemoveReader(unsigned id) override;

  void ModuleTimer(void (*fn)(void*), void* arg);
  void AfterModuleCall();  // notices a changed message line
  void Boundary(std::string text) { Emit(EventKind::kBoundary, std::move(text)); }

  BenchOptions options_;
  Loop& loop_;
  host_kit::ModuleApi api_;
  std::vector<EventSink> sinks_;
  Machine machine_;
  VirtualPendant pendant_;
  K2tHostLoop host_loop_{};
  std::string title_;
  std::string message_;
  bool started_ = false, stopped_ = false;
  long ticks_ = 0, updates_ = 0;
  double last_tick_seconds_ = 0;
  std::chrono::steady_clock::time_point start_time_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_advance_ = start_time_;
};

}  // namespace bench
