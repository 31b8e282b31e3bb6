#include "bench.h"

#include <algorithm>
#include <cmath>

#include "names.h"
#include "sim_bus_export.h"
#include "text.h"

namespace bench {

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

Bench::~Bench() { Stop(); }

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
  MakeCurrent();
  host_kit::OfferSimulatedBus(options_.real_pendant ? nullptr : pendant_.bus());
  if (options_.start_unplugged) pendant_.Unplug();
  pendant_.SetReportRate(options_.report_rate);
  host_loop_ = HostLoop();

  const bool ok = api_.InitControl(machine_.motion(), machine_.setup(), machine_.planner(), &host_loop_);
  Emit(EventKind::kEntry, std::string("InitControl -> ") + (ok ? "true" : "false"));
  host_kit::HandCallbacks(api_);
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

void Bench::DoButton(short code) {
  Emit(EventKind::kCall, "DoButton " + std::to_string(code), std::string(ButtonName(code)));
  machine_.DoButton(code);
}

void Bench::SetDRO(int code, double value) {
  Emit(EventKind::kCall, "SetDRO " + std::to_string(code) + " " + FormatNumber(value), std::string(DroName(code)));
  machine_.SetDRO(code, value);
}

double Bench::GetDRO(int code) {
  const double value = machine_.GetDRO(code);
  if (options_.trace_reads)
    Emit(EventKind::kRead, "GetDRO " + std::to_string(code) + " -> " + FormatNumber(value), std::string(DroName(code)));
  return value;
}

bool Bench::GetLED(int code) {
  const bool on = machine_.GetLED(code);
  if (options_.trace_reads)
    Emit(EventKind::kRead, "GetLED " + std::to_string(code) + (on ? " -> on" : " -> off"), std::string(LedName(code)));
  return on;
}

void Bench::SetLED(int code, bool on) {
  Emit(EventKind::kCall, "SetLED " + std::to_string(code) + (on ? " on" : " off"), std::string(LedName(code)));
  if (!machine_.passive()) machine_.SetLed(code, on);
}

void Bench::Code(std::string_view text) {
  const std::string line(text);  // the module's pointer is not kept
  Emit(EventKind::kCall, "Code " + Quote(line));
  machine_.Code(line);
}

// ---- the event loop the module sees -----------------------------------------------------

unsigned Bench::AddTimer(unsigned period_ms, void (*fn)(void*), void* arg) {
  const unsigned id = loop_.AddTimer(period_ms, [this, fn, arg] { ModuleTimer(fn, arg); });
  Emit(EventKind::kCall, "add_timer " + std::to_string(period_ms) + " ms -> " + std::to_string(id));
  return id;
}

void Bench::RemoveTimer(unsigned id) {
  Emit(EventKind::kCall, "remove_timer " + std::to_string(id));
  loop_.RemoveTimer(id);
}

unsigned Bench::AddReader(int fd, void (*fn)(void*), void* arg) {
  const unsigned id = loop_.AddReader(fd, [this, fn, arg] {
    fn(arg);
    AfterModuleCall();
  });
  Emit(EventKind::kCall, "add_reader fd " + std::to_string(fd) + " -> " + std::to_string(id));
  return id;
}

void Bench::RemoveReader(unsigned id) {
  Emit(EventKind::kCall, "remove_reader " + std::to_string(id));
  loop_.RemoveReader(id);
}

}  // namespace bench
