// Cost of one connected poll tick, and a check that steady-state ticks
// allocate nothing.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "support/fakes.h"

namespace {

std::atomic<long> g_allocations{0};

}  // namespace

void* operator new(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace k2t::testing {
namespace {

// Trivial host callbacks: the cost measured is the module's own.
void NoButton(short) {}
void NoSetDro(int, double) {}
double NoGetDro(int code) { return code == 3 ? 50.0 : code == 800 ? 12.5 : 0.0; }
bool NoGetLed(int code) { return code == 83; }
long g_texts = 0;  // texts sent, to show a scenario really jogs
void NoCode(const char*) { ++g_texts; }

// A pendant with `per_tick` reports waiting at every tick (or none).
class BenchDevice final : public HidDevice {
 public:
  explicit BenchDevice(int per_tick) : per_tick_(per_tick), waiting_(per_tick) {}
  ReadStart StartRead() override {
    if (waiting_ > 0) return ReadStart::kCompleted;
    waiting_ = per_tick_;  // the next tick finds the next batch
    return ReadStart::kPending;
  }
  void TakeReport(InputReport& report) override {
    --waiting_;
    report[0] = 0;
    report[1] = static_cast<std::uint8_t>(counter_ += step);
    report[2] = rate;
    report[3] = keys;
    report[4] = mode;
    report[5] = report[6] = report[7] = 0;
  }
  void Write(const std::uint8_t*, std::size_t) override {}
  std::uint8_t step = 0, rate = 0, keys = 0, mode = 0;

 private:
  int per_tick_;
  int waiting_;
  std::uint8_t counter_ = 0;
};

// reports < 0: no pendant on the bus, which the link then searches every
// 200 ticks.
class BenchBus final : public HidBus {
 public:
  explicit BenchBus(int reports) : reports_(reports) {}
  std::vector<HidInterface> Enumerate() override {
    if (reports_ < 0) return {};
    return {{"/dev/hidraw0", kPendantVendorId, kPendantProductId}};
  }
  std::unique_ptr<HidDevice> Open(const std::string&, HidAccess access) override {
    auto d = std::make_unique<BenchDevice>(reports_);
    if (access == HidAccess::kRead) device = d.get();
    return d;
  }
  void ForgetHost() override {}
  BenchDevice* device = nullptr;

 private:
  int reports_;
};

class BenchPlatform final : public Platform {
 public:
  explicit BenchPlatform(int reports) : reports_(reports) {}
  WindowPorts CreateWindowPorts(DrovikWin&, void*) override {
    auto b = std::make_unique<BenchBus>(reports_);
    bus = b.get();
    return {std::move(b), nullptr};
  }
  std::unique_ptr<XmlDocument> CreateXmlDocument() override { return nullptr; }
  std::string ModuleFileName() override { return "K2TPendant.so"; }
  void RunConfigDialog(PendantSettings&) override {}
  BenchBus* bus = nullptr;

 private:
  int reports_;
};

struct Scenario {
  const char* name;
  int reports;  // waiting at each tick
  int jog_mode;
  std::uint8_t step, rate, keys;
};

void PollTick(benchmark::State& state, Scenario s) {
  static std::vector<unsigned char> motion(K2T_MOTION_RECORD_SIZE), setup(K2T_SETUP_RECORD_SIZE),
      planner(K2T_PLANNER_RECORD_SIZE);
  BenchPlatform platform(s.reports);
  Module module(platform);
  module.InitControl(motion.data(), setup.data(), planner.data(), nullptr);
  module.host.callbacks() = {&NoButton, &NoSetDro, &NoGetDro, &NoGetLed, nullptr, &NoCode};
  double jog_unit = 0.001, max_velocity = 2.0;
  std::memcpy(planner.data() + K2T_PLANNER_JOG_UNIT_FACTOR, &jog_unit, sizeof jog_unit);
  std::memcpy(planner.data() + K2T_PLANNER_AXIS_MAX_VELOCITY, &max_velocity, sizeof max_velocity);
  module.SetProName("");
  module.PostInitControl();
  module.behaviour.JogMode = s.jog_mode;
  if (BenchDevice* device = platform.bus->device) {
    device->step = s.step;
    device->rate = s.rate;
    device->keys = s.keys;
  }
  DrovikWin& win = *module.window();
  // Warm up past start-up: the first-cycle axis change, the early double
  // press window, the settling counters.
  for (int i = 0; i < 50; ++i) {
    win.OnPollTick();
    module.Update();
  }
  const long before = g_allocations.load();
  const long texts_before = g_texts;
  long ticks = 0;
  for (auto _ : state) {
    win.OnPollTick();
    if (++ticks % 4 == 0) module.Update();  // the host's 10 Hz against 40 Hz ticks
  }
  const long allocations = g_allocations.load() - before;
  state.counters["allocations"] = static_cast<double>(allocations);
  state.counters["texts_per_tick"] =
      ticks ? static_cast<double>(g_texts - texts_before) / static_cast<double>(ticks) : 0.0;
  if (allocations != 0) state.SkipWithError("the poll tick allocated");
}

const Scenario kScenarios[] = {
    {"report_waiting_velocity_mode_idle", 1, 2, 0, 0, 0},
    {"no_report", 0, 2, 0, 0, 0},
    {"wheel_turning_step_mode", 1, 1, 3, 20, 0},
    {"wheel_turning_velocity_mode", 1, 2, 3, 20, 0},
    {"wheel_turning_continuous_mode", 1, 3, 3, 20, 0},
    {"wheel_turning_step_size_choice_en_held", 1, 1, 3, 20, 0x10},
    {"start_hold_held", 1, 2, 0, 0, 0x04},
    // A full hidraw queue drained in one tick (a pendant far faster than 40 Hz).
    {"backlog_64_reports_velocity_mode", 64, 2, 1, 20, 0},
    // No pendant: counters only, and a search of the bus every 200 ticks.
    {"pendant_absent", -1, 2, 0, 0, 0},
};

}  // namespace
}  // namespace k2t::testing

int main(int argc, char** argv) {
  for (const auto& s : k2t::testing::kScenarios)
    benchmark::RegisterBenchmark(s.name, k2t::testing::PollTick, s);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
