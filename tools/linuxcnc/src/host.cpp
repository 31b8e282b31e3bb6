#include "host.h"

#include <chrono>
#include <cmath>
#include <cstring>

#include "k2t/plugin.h"
#include "k2t/sim_hid.h"

namespace {
K2tSimHidBus* g_sim_bus = nullptr;
}  // namespace

// The module looks this name up in the executable: non-null means "use this
// bus, not hidraw".
extern "C" __attribute__((visibility("default"))) K2tSimHidBus* BridgeSimHidBus(void) __asm__("K2tSimHidBus");
extern "C" K2tSimHidBus* BridgeSimHidBus(void) { return g_sim_bus; }

namespace k2tcnc {

namespace {
double SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
}  // namespace

ModuleHost* ModuleHost::current_ = nullptr;

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

ModuleHost::~ModuleHost() {
  Stop();
  if (current_ == this) current_ = nullptr;
  if (g_sim_bus == pendant_.bus()) g_sim_bus = nullptr;
}

void ModuleHost::Start() {
  current_ = this;
  g_sim_bus = config_.virtual_pendant ? pendant_.bus() : nullptr;
  host_loop_ = {this, &AddTimerThunk, &RemoveTimerThunk, &AddReaderThunk, &RemoveReaderThunk};
  Refresh();
  api_.InitControl(motion_.data(), setup_.data(), planner_.data(), &host_loop_);
  api_.SetDoButton(&DoButtonThunk);
  api_.SetSetDRO(&SetDROThunk);
  api_.SetGetDRO(&GetDROThunk);
  api_.SetGetLED(&GetLEDThunk);
  api_.SetSetLED(&SetLEDThunk);
  api_.SetCode(&CodeThunk);
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

// ---- callbacks ------------------------------------------------------------------

void ModuleHost::DoButtonThunk(short code) {
  if (current_) current_->bridge_.DoButton(code);
}
void ModuleHost::SetDROThunk(int code, double value) {
  if (current_) current_->bridge_.SetDRO(code, value);
}
double ModuleHost::GetDROThunk(int code) { return current_ ? current_->bridge_.GetDRO(code) : 0.0; }
bool ModuleHost::GetLEDThunk(int code) { return current_ ? current_->bridge_.GetLED(code) : false; }
void ModuleHost::SetLEDThunk(int code, bool on) {
  if (current_) current_->bridge_.SetLED(code, on);
}
void ModuleHost::CodeThunk(const char* text) {
  if (current_ && text) current_->bridge_.Code(text);  // the module's pointer is not kept
}

// ---- the event loop the module sees -----------------------------------------------

unsigned ModuleHost::AddTimerThunk(void* context, unsigned period_ms, void (*fn)(void*), void* arg) {
  auto* h = static_cast<ModuleHost*>(context);
  if (!fn) return 0;
  return h->loop_.AddTimer(period_ms, [h, fn, arg] { h->ModuleTick(fn, arg); });
}

void ModuleHost::RemoveTimerThunk(void* context, unsigned id) { static_cast<ModuleHost*>(context)->loop_.RemoveTimer(id); }

unsigned ModuleHost::AddReaderThunk(void* context, int fd, void (*fn)(void*), void* arg) {
  auto* h = static_cast<ModuleHost*>(context);
  if (!fn) return 0;
  return h->loop_.AddReader(fd, [h, fn, arg] {
    h->Refresh();
    fn(arg);
    h->AfterModuleCall();
  });
}

void ModuleHost::RemoveReaderThunk(void* context, unsigned id) {
  static_cast<ModuleHost*>(context)->loop_.RemoveReader(id);
}

}  // namespace k2tcnc
