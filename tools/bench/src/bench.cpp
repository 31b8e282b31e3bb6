#include "bench.h"

#include <algorithm>
#include <cmath>

#include "names.h"
#include "text.h"

namespace {
K2tSimHidBus* g_sim_bus = nullptr;
}  // namespace

// The module looks this name up in the executable (dlsym on the default
// scope): non-null means "use this bus, not hidraw".
extern "C" __attribute__((visibility("default"))) K2tSimHidBus* BenchSimHidBus(void) __asm__("K2tSimHidBus");
extern "C" K2tSimHidBus* BenchSimHidBus(void) { return g_sim_bus; }

namespace bench {

Bench* Bench::current_ = nullptr;

K2tSimHidBus* Bench::SimulatedBus() { return g_sim_bus; }

Bench::Bench(BenchOptions options, Loop& loop)
    : options_(std::move(options)),
      loop_(loop),
      machine_([this](const Event& e) { for (const EventSink& sink : sinks_) sink(e); },
               [this] { return Now(); }) {
  machine_.set_passive(options_.passive);
  pendant_.on_display_change = [this] {
    const int axis = pendant_.DisplayAxis();
    const int mode = pendant_.DisplayMode();
    Emit(EventKind::kDisplay,
         Quote(pendant_.Display()) + " axis " + (axis < 6 ? std::string(1, AxisLetter(axis)) : std::to_string(axis)) +
             " mode " + std::to_string(mode),
         std::string(ModeCodeName(mode)));
  };
  pendant_.on_subscribe = [this](bool on) { Emit(EventKind::kCall, on ? "subscribe" : "unsubscribe"); };
}

Bench::~Bench() {
  Stop();
  if (current_ == this) current_ = nullptr;
  if (g_sim_bus == pendant_.bus()) g_sim_bus = nullptr;
}

void Bench::Emit(EventKind kind, std::string text, std::string note) {
  const Event event{kind, Now(), std::move(text), std::move(note)};
  for (const EventSink& sink : sinks_) sink(event);
}

double Bench::Now() const {
  if (loop_.virtual_time()) return static_cast<double>(ticks_) * kTickSeconds;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_time_).count();
}

// ---- the host's order of calls -----------------------------------------------------

void Bench::Start() {
  current_ = this;
  g_sim_bus = options_.real_pendant ? nullptr : pendant_.bus();
  if (options_.start_unplugged) pendant_.Unplug();
  pendant_.SetReportRate(options_.report_rate);
  host_loop_ = {this, &AddTimerThunk, &RemoveTimerThunk, &AddReaderThunk, &RemoveReaderThunk};

  const bool ok = api_.InitControl(machine_.motion(), machine_.setup(), machine_.planner(), &host_loop_);
  Emit(EventKind::kEntry, std::string("InitControl -> ") + (ok ? "true" : "false"));
  api_.SetDoButton(&DoButtonThunk);
  api_.SetSetDRO(&SetDROThunk);
  api_.SetGetDRO(&GetDROThunk);
  api_.SetGetLED(&GetLEDThunk);
  api_.SetSetLED(&SetLEDThunk);
  api_.SetCode(&CodeThunk);
  Emit(EventKind::kEntry, "SetDoButton SetSetDRO SetGetDRO SetGetLED SetSetLED SetCode");
  const char* title = api_.SetProName(options_.profile_path.c_str());
  title_ = title ? title : "";
  Emit(EventKind::kEntry, "SetProName " + Quote(options_.profile_path) + " -> " + (title ? Quote(title_) : "null"));
  Emit(EventKind::kEntry, "PostInitControl");
  api_.PostInitControl();
  AfterModuleCall();
  started_ = true;
}

void Bench::Stop() {
  if (!started_ || stopped_) return;
  stopped_ = true;
  Emit(EventKind::kEntry, "StopPlug");
  api_.StopPlug();
  AfterModuleCall();
}

void Bench::Tick() {
  ++ticks_;
  Boundary("tick " + std::to_string(ticks_));
  machine_.Advance(kTickSeconds);
  if (auto* virtual_loop = dynamic_cast<VirtualLoop*>(&loop_)) virtual_loop->FireTimers();
  // Update calls due by now at the configured rate; the epsilon keeps exact
  // ratios (10 Hz: every 4th tick) exact.
  auto due = [this](long ticks) {
    return static_cast<long>(std::floor(static_cast<double>(ticks) * options_.update_hz * kTickSeconds + 1e-9));
  };
  for (long n = due(ticks_) - due(ticks_ - 1); n > 0; --n) CallUpdate();
}

void Bench::CallUpdate() {
  ++updates_;
  Boundary("update " + std::to_string(updates_));
  api_.Update();
  AfterModuleCall();
}

void Bench::CallConfig() {
  Emit(EventKind::kEntry, "Config");
  api_.Config();
  AfterModuleCall();
}

void Bench::Plug(bool other) {
  const bool already = other ? pendant_.other_plugged() : pendant_.plugged();
  Emit(EventKind::kPendant, std::string(other ? "plug other" : "plug") + (already ? " (already plugged)" : ""));
  if (other) pendant_.PlugOther();
  else pendant_.Plug();
  AfterModuleCall();
}

void Bench::Unplug(bool other) {
  const bool already = !(other ? pendant_.other_plugged() : pendant_.plugged());
  Emit(EventKind::kPendant, std::string(other ? "unplug other" : "unplug") + (already ? " (already unplugged)" : ""));
  if (other) pendant_.UnplugOther();
  else pendant_.Unplug();
  AfterModuleCall();
}

void Bench::AdvanceRealTime() {
  const auto now = std::chrono::steady_clock::now();
  // A stalled loop (a modal dialog) must not make the machine jump.
  const double dt = std::min(0.1, std::chrono::duration<double>(now - last_advance_).count());
  last_advance_ = now;
  machine_.Advance(dt);
}

void Bench::ModuleTimer(void (*fn)(void*), void* arg) {
  if (!loop_.virtual_time()) {
    ++ticks_;
    Boundary("tick " + std::to_string(ticks_));
  }
  pendant_.PrepareReport();
  const auto started = std::chrono::steady_clock::now();
  fn(arg);
  last_tick_seconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  AfterModuleCall();
  if (after_tick) after_tick();
}

void Bench::AfterModuleCall() {
  std::string message = machine_.MessageText();
  if (message == message_) return;
  message_ = std::move(message);
  Emit(EventKind::kMessage, Quote(message_));
}

// ---- callbacks --------------------------------------------------------------------------

void Bench::DoButtonThunk(short code) {
  Bench* b = current_;
  if (!b) return;
  b->Emit(EventKind::kCall, "DoButton " + std::to_string(code), std::string(ButtonName(code)));
  b->machine_.DoButton(code);
}

void Bench::SetDROThunk(int code, double value) {
  Bench* b = current_;
  if (!b) return;
  b->Emit(EventKind::kCall, "SetDRO " + std::to_string(code) + " " + FormatNumber(value), std::string(DroName(code)));
  b->machine_.SetDRO(code, value);
}

double Bench::GetDROThunk(int code) {
  Bench* b = current_;
  if (!b) return 0.0;
  const double value = b->machine_.GetDRO(code);
  if (b->options_.trace_reads)
    b->Emit(EventKind::kRead, "GetDRO " + std::to_string(code) + " -> " + FormatNumber(value),
            std::string(DroName(code)));
  return value;
}

bool Bench::GetLEDThunk(int code) {
  Bench* b = current_;
  if (!b) return false;
  const bool on = b->machine_.GetLED(code);
  if (b->options_.trace_reads)
    b->Emit(EventKind::kRead, "GetLED " + std::to_string(code) + (on ? " -> on" : " -> off"),
            std::string(LedName(code)));
  return on;
}

void Bench::SetLEDThunk(int code, bool on) {
  Bench* b = current_;
  if (!b) return;
  b->Emit(EventKind::kCall, "SetLED " + std::to_string(code) + (on ? " on" : " off"), std::string(LedName(code)));
  if (!b->machine_.passive()) b->machine_.SetLed(code, on);
}

void Bench::CodeThunk(const char* text) {
  Bench* b = current_;
  if (!b) return;
  const std::string line = text ? text : "";  // the module's pointer is not kept
  b->Emit(EventKind::kCall, "Code " + Quote(line));
  b->machine_.Code(line);
}

// ---- the event loop the module sees -----------------------------------------------------

unsigned Bench::AddTimerThunk(void* context, unsigned period_ms, void (*fn)(void*), void* arg) {
  auto* b = static_cast<Bench*>(context);
  if (!fn) return 0;
  const unsigned id = b->loop_.AddTimer(period_ms, [b, fn, arg] { b->ModuleTimer(fn, arg); });
  b->Emit(EventKind::kCall, "add_timer " + std::to_string(period_ms) + " ms -> " + std::to_string(id));
  return id;
}

void Bench::RemoveTimerThunk(void* context, unsigned id) {
  auto* b = static_cast<Bench*>(context);
  b->Emit(EventKind::kCall, "remove_timer " + std::to_string(id));
  b->loop_.RemoveTimer(id);
}

unsigned Bench::AddReaderThunk(void* context, int fd, void (*fn)(void*), void* arg) {
  auto* b = static_cast<Bench*>(context);
  if (!fn) return 0;
  const unsigned id = b->loop_.AddReader(fd, [b, fn, arg] {
    fn(arg);
    b->AfterModuleCall();
  });
  b->Emit(EventKind::kCall, "add_reader fd " + std::to_string(fd) + " -> " + std::to_string(id));
  return id;
}

void Bench::RemoveReaderThunk(void* context, unsigned id) {
  auto* b = static_cast<Bench*>(context);
  b->Emit(EventKind::kCall, "remove_reader " + std::to_string(id));
  b->loop_.RemoveReader(id);
}

}  // namespace bench
