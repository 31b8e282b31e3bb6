#include "host.h"

#include <cmath>
#include <cstring>

#include "k2t/plugin.h"
#include "sim_bus_export.h"
#include "steady_clock.h"

namespace k2tcnc {

ModuleHost::ModuleHost(const BridgeConfig& config, CommandSink& sink, StatusSource status, host_kit::RealLoop& loop,
                       Bridge::Log log)
    : config_(config),
      status_(std::move(status)),
      loop_(loop),
      motion_(K2T_MOTION_RECORD_SIZE),
      setup_(K2T_SETUP_RECORD_SIZE),
      planner_(K2T_PLANNER_RECORD_SIZE),
      bridge_(config, sink, Records{motion_.data(), setup_.data(), planner_.data()}, &SteadySeconds,
              std::move(log)) {}

ModuleHost::~ModuleHost() { Stop(); }

void ModuleHost::Start() {
  MakeCurrent();
  host_kit::OfferSimulatedBus(config_.virtual_pendant ? pendant_.bus() : nullptr);
  host_loop_ = HostLoop();
  Refresh();
  api_.InitControl(motion_.data(), setup_.data(), planner_.data(), &host_loop_);
  host_kit::HandCallbacks(api_);
  const char* title = api_.SetProName(config_.profile_path.c_str());
  title_ = title ? title : "";
  api_.PostInitControl();
  AfterModuleCall();
  const auto period = static_cast<unsigned>(std::lround(1000.0 / config_.update_hz));
  update_timer_ = loop_.AddTimer(period < 1 ? 1 : period, [this] {
    Refresh();
    api_.Update();
    AfterModuleCall();
  });
  started_ = true;
}

void ModuleHost::Stop() {
  if (!started_ || stopped_) return;
  stopped_ = true;
  if (update_timer_) loop_.RemoveTimer(update_timer_);
  api_.StopPlug();     // ends the wheel and function-key jogs the module knows of
  bridge_.StopJogs();  // and whatever else the bridge started
}

void ModuleHost::Refresh() {
  bridge_.SetStatus(status_());
  bridge_.Tick();
  bridge_.FillRecords();
}

void ModuleHost::AfterModuleCall() {
  bridge_.EndModuleCall();
  const char* text = reinterpret_cast<const char*>(planner_.data() + K2T_PLANNER_MESSAGE_TEXT);
  bridge_.Message(std::string(text, strnlen(text, 256)));
  if (after_call_) after_call_();
}

void ModuleHost::ModuleTick(void (*fn)(void*), void* arg) {
  bridge_.ModulePoll();  // the module's only timer is its pendant poll
  Refresh();
  if (config_.virtual_pendant) pendant_.PrepareReport();
  fn(arg);
  AfterModuleCall();
}

// ---- the event loop the module sees -----------------------------------------------

unsigned ModuleHost::AddTimer(unsigned period_ms, void (*fn)(void*), void* arg) {
  return loop_.AddTimer(period_ms, [this, fn, arg] { ModuleTick(fn, arg); });
}

unsigned ModuleHost::AddReader(int fd, void (*fn)(void*), void* arg) {
  return loop_.AddReader(fd, [this, fn, arg] {
    Refresh();
    fn(arg);
    AfterModuleCall();
  });
}

}  // namespace k2tcnc
