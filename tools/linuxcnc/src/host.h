// The host of the module: loads K2TPendant.so by path, hands it full-size
// records, the six callbacks (served by the Bridge) and a K2tHostLoop on the
// bridge's own event loop, and calls Update at the host's rate. With the
// virtual pendant it also offers the simulated HID bus.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "bridge.h"
#include "host_callbacks.h"
#include "k2t/host_loop.h"
#include "loop.h"
#include "module_api.h"
#include "pendant.h"

namespace k2tcnc {

// The module's callbacks reach the bridge, its event loop the bridge's loop,
// through the host kit's thunks.
class ModuleHost final : private host_kit::HostCallbacks, private host_kit::HostLoopCallbacks {
 public:
  using StatusSource = std::function<Status()>;

  ModuleHost(const BridgeConfig& config, CommandSink& sink, StatusSource status, host_kit::RealLoop& loop,
             Bridge::Log log);
  ~ModuleHost() override;
  ModuleHost(const ModuleHost&) = delete;
  ModuleHost& operator=(const ModuleHost&) = delete;

  bool Load(std::string& error) { return host_kit::LoadModule(config_.module_path, api_, error); }
  // InitControl, the callbacks, SetProName, PostInitControl, the Update timer.
  void Start();
  // Stops the jogs the bridge started, then StopPlug; once.
  void Stop();

  // Called after every call into the module (a poll tick, Update, ...).
  void SetAfterCall(std::function<void()> fn) { after_call_ = std::move(fn); }

  host_kit::VirtualPendant& pendant() { return pendant_; }
  Bridge& bridge() { return bridge_; }
  const std::string& title() const { return title_; }

 private:
  // The callbacks are the bridge's.
  void DoButton(short code) override { bridge_.DoButton(code); }
  void SetDRO(int code, double value) override { bridge_.SetDRO(code, value); }
  double GetDRO(int code) override { return bridge_.GetDRO(code); }
  bool GetLED(int code) override { return bridge_.GetLED(code); }
  void SetLED(int code, bool on) override { bridge_.SetLED(code, on); }
  void Code(std::string_view text) override { bridge_.Code(text); }
  // The module's timer is its poll; around it and its readers the bridge
  // brings its state up to date.
  unsigned AddTimer(unsigned period_ms, void (*fn)(void*), void* arg) override;
  void RemoveTimer(unsigned id) override { loop_.RemoveTimer(id); }
  unsigned AddReader(int fd, void (*fn)(void*), void* arg) override;
  void RemoveReader(unsigned id) override { loop_.RemoveReader(id); }

  void Refresh();          // status into the bridge, record fields for the module
  void AfterModuleCall();  // the message line
  void ModuleTick(void (*fn)(void*), void* arg);

  BridgeConfig config_;
  StatusSource status_;
  host_kit::RealLoop& loop_;
  host_kit::ModuleApi api_;
  std::vector<unsigned char> motion_, setup_, planner_;
  Bridge bridge_;
  host_kit::VirtualPendant pendant_;
  K2tHostLoop host_loop_{};
  std::string title_;
  std::function<void()> after_call_;
  unsigned update_timer_ = 0;
  bool started_ = false, stopped_ = false;
};

}  // namespace k2tcnc
