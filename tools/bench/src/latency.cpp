#include "latency.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "loop.h"

namespace bench {

namespace {

constexpr int kMeasuredTicks = 400;  // two of the absent pendant's searches among them

enum class Measure { kEStop, kWheelStop };

// Ticks from the input to the answer; -1 when none came within the run.
long MeasureAnswer(Bench& bench, double rate, Measure what) {
  long last_move = -1, estop = -1;
  bench.AddSink([&](const Event& e) {
    if (e.kind != EventKind::kCall) return;
    if (e.text.rfind("Code \"G91G1", 0) == 0) last_move = bench.ticks();
    if (e.text == "DoButton 1021" && estop < 0) estop = bench.ticks();
  });
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
  return answer;
}

// The host thread's time in each module tick: median and worst, in
// seconds, and the reads that asked to wait for a report.
std::vector<double> MeasureHostTime(Bench& bench) {
  bench.pendant().HonourReadTimeouts(true);
  bench.Start();
  for (int i = 0; i < 16; ++i) bench.Tick();
  std::vector<double> seconds;
  seconds.reserve(kMeasuredTicks);
  for (int i = 0; i < kMeasuredTicks; ++i) {
    bench.Tick();
    seconds.push_back(bench.last_tick_seconds());
  }
  std::sort(seconds.begin(), seconds.end());
  return {seconds[seconds.size() / 2], seconds.back(), static_cast<double>(bench.pendant().waiting_reads())};
}

// Runs `run` on a fresh bench in a process of its own, so the module starts
// fresh; its numbers come back through a pipe. Empty when the run failed.
std::vector<double> InChild(const BenchOptions& options, const std::function<std::vector<double>(Bench&)>& run) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return {};
  }
  if (pid == 0) {
    close(fds[0]);
    VirtualLoop loop;
    Bench bench(options, loop);
    std::string error;
    if (!bench.Load(error)) {
      std::fprintf(stderr, "pendant-bench: %s\n", error.c_str());
      std::_Exit(1);
    }
    std::string line;
    for (const double v : run(bench)) {
      char number[32];
      std::snprintf(number, sizeof number, "%.9g ", v);
      line += number;
    }
    bench.Stop();
    line += "\n";
    const bool written = write(fds[1], line.data(), line.size()) == static_cast<ssize_t>(line.size());
    std::_Exit(written ? 0 : 1);
  }
  close(fds[1]);
  std::string text;
  char buf[256];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
  close(fds[0]);
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  std::vector<double> values;
  const char* p = text.c_str();
  for (char* end;; p = end) {
    const double v = std::strtod(p, &end);
    if (end == p) break;
    values.push_back(v);
  }
  return values;
}

std::string Ticks(const std::vector<double>& v) {
  if (v.empty()) return "failed";
  if (v[0] < 0) return "never";
  const long ticks = static_cast<long>(v[0]);
  return std::to_string(ticks) + (ticks == 1 ? " tick" : " ticks");
}

std::string Micros(double seconds) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f us", seconds * 1e6);
  return buf;
}

}  // namespace

bool PrintLatencyTable(const BenchOptions& options, std::FILE* out) {
  std::fprintf(out, "%-24s  %-24s  %-24s  %-26s\n", "pendant", "E-stop -> DoButton 1021", "last detent -> last move",
               "host thread per tick");
  std::fprintf(out, "%-24s  %-24s  %-24s  %-10s  %-10s  %s\n", "", "", "", "median", "worst", "waits");
  bool ok = true;
  struct Row {
    const char* name;
    double rate;  // reports a second; 0 with no answers to measure
    bool silent, unplugged, real_bus;
  };
  const Row rows[] = {
      {"idle (no reports)", 0, true, false, false},
      {"40 reports/s", 40, false, false, false},
      {"125 reports/s", 125, false, false, false},
      {"1000 reports/s", 1000, false, false, false},
      {"absent, simulated bus", 0, false, true, false},
      {"absent, hidraw and udev", 0, false, true, true},
  };
  for (const Row& row : rows) {
    BenchOptions o = options;
    o.report_rate = row.rate;
    o.start_unplugged = row.unplugged;
    o.real_pendant = row.real_bus;
    std::string estop = "-", wheel = "-";
    if (row.rate > 0) {
      const auto answer = [&](Measure what) {
        return InChild(o, [&](Bench& b) { return std::vector<double>{static_cast<double>(MeasureAnswer(b, row.rate, what))}; });
      };
      const std::vector<double> e = answer(Measure::kEStop), w = answer(Measure::kWheelStop);
      ok = ok && !e.empty() && e[0] >= 0 && !w.empty() && w[0] >= 0;
      estop = Ticks(e);
      wheel = Ticks(w);
    }
    const std::vector<double> host = InChild(o, [&](Bench& b) {
      b.pendant().SetSilent(row.silent);
      return MeasureHostTime(b);
    });
    if (host.size() != 3) {
      ok = false;
      std::fprintf(out, "%-24s  %-24s  %-24s  failed\n", row.name, estop.c_str(), wheel.c_str());
      continue;
    }
    const long waits = static_cast<long>(host[2]);
    std::fprintf(out, "%-24s  %-24s  %-24s  %-10s  %-10s  %s\n", row.name, estop.c_str(), wheel.c_str(),
                 Micros(host[0]).c_str(), Micros(host[1]).c_str(),
                 waits == 0 ? "0" : (std::to_string(waits) + " waits").c_str());
  }
  return ok;
}

}  // namespace bench
