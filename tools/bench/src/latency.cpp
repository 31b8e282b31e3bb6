#include "latency.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "loop.h"

namespace bench {

namespace {

enum class Measure { kEStop, kWheelStop };

// Ticks from the input to the answer; -1 when none came within the run.
long MeasureOnce(BenchOptions options, double rate, Measure what) {
  options.report_rate = rate;
  VirtualLoop loop;
  Bench bench(options, loop);
  long last_move = -1, estop = -1;
  bench.AddSink([&](const Event& e) {
    if (e.kind != EventKind::kCall) return;
    if (e.text.rfind("Code \"G91G1", 0) == 0) last_move = bench.ticks();
    if (e.text == "DoButton 1021" && estop < 0) estop = bench.ticks();
  });
  std::string error;
  if (!bench.Load(error)) {
    std::fprintf(stderr, "pendant-bench: %s\n", error.c_str());
    return -2;
  }
  bench.Start();
  VirtualPendant& pendant = bench.pendant();
  const auto ticks = [&bench](int n) {
    for (int i = 0; i < n; ++i) bench.Tick();
  };
  ticks(16);  // past the start-up cycles
  pendant.SelectMode(1, false);  // step mode
  ticks(1);
  pendant.SelectMode(0, false);
  ticks(4);
  pendant.Spin(rate);  // one detent in every report
  ticks(80);
  long answer = -1;
  if (what == Measure::kEStop) {
    pendant.Set(Control::kEStop, true);
    const long pressed = bench.ticks() + 1;
    for (int i = 0; i < 400 && estop < 0; ++i) ticks(1);
    if (estop >= 0) answer = estop - pressed + 1;
  } else {
    const long last_detent = bench.ticks();
    pendant.Spin(0);
    ticks(400);
    if (last_move >= 0) answer = last_move - last_detent + 1;
  }
  bench.Stop();
  return answer;
}

long MeasureInChild(const BenchOptions& options, double rate, Measure what) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return -2;
  if (pid == 0) {
    const long ticks = MeasureOnce(options, rate, what);
    std::_Exit(ticks < -1 ? 255 : ticks < 0 ? 254 : static_cast<int>(ticks > 253 ? 253 : ticks));
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -2;
  const int code = WEXITSTATUS(status);
  return code == 255 ? -2 : code == 254 ? -1 : code;
}

std::string Cell(long ticks) {
  if (ticks == -1) return "never";
  if (ticks < 0) return "failed";
  return std::to_string(ticks) + (ticks == 1 ? " tick" : " ticks");
}

}  // namespace

bool PrintLatencyTable(const BenchOptions& options, std::FILE* out) {
  std::fprintf(out, "%-12s  %-22s  %-26s\n", "reports/s", "E-stop -> DoButton 1021", "last detent -> last move");
  bool ok = true;
  for (const double rate : {40.0, 125.0, 1000.0}) {
    const long estop = MeasureInChild(options, rate, Measure::kEStop);
    const long wheel = MeasureInChild(options, rate, Measure::kWheelStop);
    ok = ok && estop >= 0 && wheel >= 0;
    std::fprintf(out, "%-12.0f  %-22s  %-26s\n", rate, Cell(estop).c_str(), Cell(wheel).c_str());
  }
  return ok;
}

}  // namespace bench
