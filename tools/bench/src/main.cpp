// pendant-bench: a substitute host for the pendant module. It loads the
// module by path through its exported names, hands it a simulated machine and
// a virtual pendant, and lets a person (terminal UI) or a script drive it.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "bench.h"
#include "command_line.h"
#include "demo_script.h"
#include "host_program.h"
#include "latency.h"
#include "loop.h"
#include "module_api.h"
#include "real_pendant.h"
#include "script.h"
#include "text.h"
#include "tui.h"

namespace {

using namespace bench;

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;    // an expectation failed
constexpr int kExitUsage = 2;     // bad options or a script that does not parse
constexpr int kExitModule = 3;    // the module cannot be loaded or lacks an entry point
constexpr int kExitNoPendant = 4; // --real and no usable pendant
constexpr int kExitInterrupted = 130;

std::string Usage() {
  return
    "usage: pendant-bench [options]\n"
    "  --module PATH     module to load (default: " + DefaultModule() + ")\n"
    "  --profile PATH    host profile the module keeps its settings in\n"
    "                    (default: a fresh temporary file for scripts,\n"
    "                     $TMPDIR/pendant-bench-profile-UID.xml otherwise)\n"
    "  --update-hz HZ    host Update calls per second (default 10; poll ticks are 40 per second)\n"
    "  --script FILE     run FILE in virtual time and print a trace (- reads stdin)\n"
    "  --demo            play the built-in demo: in the terminal UI in real time, or as a\n"
    "                    virtual-time trace when stdout is not a terminal\n"
    "  --print-demo      print the built-in demo script and exit\n"
    "  --trace           print trace lines instead of the terminal UI\n"
    "  --trace-reads     also trace GetDRO and GetLED\n"
    "  --passive         no simulated machine: host state changes only by the script\n"
    "  --unplugged       start with the virtual pendant unplugged\n"
    "  --real            use a physical pendant on hidraw instead of the virtual one\n"
    "  --report-rate HZ  the virtual pendant sends HZ reports a second into a 64-report\n"
    "                    queue (default 0: one report per poll tick)\n"
    "  --latency         print the ticks from an E-stop press and from the wheel's last\n"
    "                    detent to the module's answer at 40, 125 and 1000 reports/s, and\n"
    "                    the host thread's time per tick (idle, those rates, absent)\n"
    "  --version         the bench's version\n"
    "  -h, --help        this text\n"
    "See pendant-bench(1).\n";
}

struct Options {
  BenchOptions bench;
  std::string script_file;
  bool demo = false, print_demo = false, trace = false, latency = false;
};

using host_kit::CommandLine;

// A rate: a number above 0, or 0 too where `zero` allows it, up to `up_to`.
CommandLine::Take Rate(double& out, bool zero, double up_to, const char* refusal) {
  return [&out, zero, up_to, refusal](const std::string& value, std::string& error) {
    const std::optional<double> hz = ParseNumber(value);
    if (!hz || *hz < 0 || (*hz == 0 && !zero) || *hz > up_to) {
      error = refusal;
      return false;
    }
    out = *hz;
    return true;
  };
}

// kDone: help or the version was printed.
CommandLine::Result ParseOptions(int argc, char** argv, Options& o, std::string& error) {
  o.bench.module_path = DefaultModule();
  const CommandLine::Result result =
      CommandLine("pendant-bench", K2T_VERSION, Usage)
          .Value({"--module"}, o.bench.module_path)
          .Value({"--profile"}, o.bench.profile_path)
          .Value({"--script"}, o.script_file)
          .Value({"--update-hz"},
                 Rate(o.bench.update_hz, false, 1000, "--update-hz takes a rate above 0 and up to 1000"))
          .Value({"--report-rate"}, Rate(o.bench.report_rate, true, 10000,
                                         "--report-rate takes 0 (one report per tick) to 10000 reports/s"))
          .Flag({"--latency"}, o.latency)
          .Flag({"--demo"}, o.demo)
          .Flag({"--print-demo"}, o.print_demo)
          .Flag({"--trace"}, o.trace)
          .Flag({"--trace-reads"}, o.bench.trace_reads)
          .Flag({"--passive"}, o.bench.passive)
          .Flag({"--unplugged"}, o.bench.start_unplugged)
          .Flag({"--real"}, o.bench.real_pendant)
          .Parse(argc, argv, error);
  if (result != CommandLine::Result::kRun) return result;
  if (!o.script_file.empty() && o.demo) {
    error = "--script and --demo exclude each other";
    return CommandLine::Result::kError;
  }
  if (o.bench.real_pendant && (!o.script_file.empty() || o.demo)) {
    error = "--real works with a person at the pendant, not with --script or --demo";
    return CommandLine::Result::kError;
  }
  return CommandLine::Result::kRun;
}

bool ReadFile(const std::string& path, std::string& text) {
  if (path == "-") {
    std::ostringstream all;
    all << std::cin.rdbuf();
    text = all.str();
    return true;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream all;
  all << in.rdbuf();
  text = all.str();
  return true;
}

std::string TempDir() {
  const char* dir = std::getenv("TMPDIR");
  return dir && *dir ? dir : "/tmp";
}

// A script starts from a profile of its own, so runs do not depend on each
// other; the directory goes when the run ends.
class ScratchProfile {
 public:
  ScratchProfile() {
    std::string pattern = TempDir() + "/pendant-bench-XXXXXX";
    if (mkdtemp(pattern.data())) dir_ = pattern;
  }
  ~ScratchProfile() {
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }
  std::string path() const { return dir_.empty() ? std::string() : dir_ + "/profile.xml"; }

 private:
  std::string dir_;
};

int RunVirtual(Options& o, Script script) {
  VirtualLoop loop;
  Bench bench(o.bench, loop);
  TracePrinter trace(stdout);
  ScriptRunner runner(std::move(script), bench);
  bench.AddSink([&trace](const Event& e) { trace(e); });
  bench.AddSink([&runner](const Event& e) { runner.OnEvent(e); });
  std::string error;
  if (!bench.Load(error)) {
    std::fprintf(stderr, "pendant-bench: %s\n", error.c_str());
    return kExitModule;
  }
  bench.Start();
  const ScriptRunner::Status status = runner.Run();
  bench.Stop();
  if (status == ScriptRunner::Status::kFailed) {
    std::fprintf(stderr, "%s\n", runner.last_failure().c_str());
    return kExitFailed;
  }
  return kExitOk;
}

int RunRealTime(Options& o, std::optional<Script> script, bool use_tui) {
  // The loop hears these through a signalfd; blocked before anything can
  // start a thread, so no thread takes them instead.
  sigset_t signals;
  sigemptyset(&signals);
  for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGWINCH}) sigaddset(&signals, s);
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  const int signal_fd = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);

  RealLoop loop;
  if (!loop.ok() || signal_fd < 0) {
    std::fprintf(stderr, "pendant-bench: cannot set up the event loop: %s\n", std::strerror(errno));
    return kExitUsage;
  }
  Bench bench(o.bench, loop);
  std::string error;
  if (!bench.Load(error)) {
    std::fprintf(stderr, "pendant-bench: %s\n", error.c_str());
    close(signal_fd);
    return kExitModule;
  }

  std::unique_ptr<Tui> tui;
  std::unique_ptr<TracePrinter> trace;
  if (use_tui) {
    tui = std::make_unique<Tui>(bench);
    bench.AddSink([&tui](const Event& e) { tui->OnEvent(e); });
  } else {
    trace = std::make_unique<TracePrinter>(stdout);
    bench.AddSink([&trace](const Event& e) { (*trace)(e); });
  }
  std::unique_ptr<ScriptRunner> runner;
  if (script) {
    runner = std::make_unique<ScriptRunner>(std::move(*script), bench);
    runner->keep_going = true;
    bench.AddSink([&runner](const Event& e) { runner->OnEvent(e); });
  }

  int exit_code = kExitOk;
  loop.AddReader(signal_fd, [&] {
    signalfd_siginfo info{};
    while (read(signal_fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      if (info.ssi_signo == SIGWINCH) {
        if (tui) tui->Resize();
        continue;
      }
      exit_code = info.ssi_signo == SIGINT ? kExitInterrupted : 128 + static_cast<int>(info.ssi_signo);
      loop.Quit();
    }
  });
  auto continue_script = [&] {
    if (!runner || runner->done()) return;
    if (runner->Run() != ScriptRunner::Status::kWaiting && tui)
      tui->Caption(runner->failures() ? "The demo ended with a failed expectation (see the log). q quits."
                                      : "The demo is over: the pendant is yours. ? shows the keys, q quits.");
  };
  bench.after_tick = [&] {
    if (runner && runner->TickPassed()) continue_script();
  };
  const auto update_ms = static_cast<unsigned>(std::lround(std::max(1.0, 1000.0 / o.bench.update_hz)));
  loop.AddTimer(update_ms, [&bench] { bench.CallUpdate(); });
  loop.AddTimer(10, [&bench] { bench.AdvanceRealTime(); });
  if (tui) {
    if (!tui->Open()) {
      std::fprintf(stderr, "pendant-bench: the terminal UI needs a terminal\n");
      close(signal_fd);
      return kExitUsage;
    }
    tui->on_quit = [&loop] { loop.Quit(); };
    loop.AddReader(STDIN_FILENO, [&tui] { tui->HandleInput(); });
    loop.AddTimer(40, [&tui] { tui->Render(); });
  }

  bench.Start();
  continue_script();
  loop.Run();
  bench.Stop();
  if (tui) tui->Close();
  close(signal_fd);
  if (runner && runner->failures()) {
    std::fprintf(stderr, "%s\n", runner->last_failure().c_str());
    if (exit_code == kExitOk) exit_code = kExitFailed;
  }
  return exit_code;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  std::string error;
  switch (ParseOptions(argc, argv, o, error)) {
    case CommandLine::Result::kRun:
      break;
    case CommandLine::Result::kDone:
      return kExitOk;
    case CommandLine::Result::kError:
      std::fprintf(stderr, "pendant-bench: %s\n%s", error.c_str(), Usage().c_str());
      return kExitUsage;
  }
  if (o.print_demo) {
    std::fputs(kDemoScript, stdout);
    return kExitOk;
  }
  if (o.latency) {
    // A module that cannot be loaded is said once, not in every run.
    host_kit::ModuleApi api;
    if (!host_kit::LoadModule(o.bench.module_path, api, error)) {
      std::fprintf(stderr, "pendant-bench: %s\n", error.c_str());
      return kExitModule;
    }
    ScratchProfile scratch;
    if (o.bench.profile_path.empty()) o.bench.profile_path = scratch.path();
    return PrintLatencyTable(o.bench, stdout) ? kExitOk : kExitFailed;
  }

  std::optional<Script> script;
  if (!o.script_file.empty()) {
    std::string text;
    if (!ReadFile(o.script_file, text)) {
      std::fprintf(stderr, "pendant-bench: cannot read the script %s\n", o.script_file.c_str());
      return kExitUsage;
    }
    script = ParseScript(text, o.script_file, error);
  } else if (o.demo) {
    script = ParseScript(kDemoScript, "demo", error);
  }
  if ((!o.script_file.empty() || o.demo) && !script) {
    std::fprintf(stderr, "pendant-bench: %s\n", error.c_str());
    return kExitUsage;
  }

  if (o.bench.real_pendant) {
    std::string node, message;
    if (!host_kit::FindRealPendant(node, message)) {
      std::fprintf(stderr, "pendant-bench: %s\n", message.c_str());
      return kExitNoPendant;
    }
  }

  const bool terminal = isatty(STDOUT_FILENO) && isatty(STDIN_FILENO) && !o.trace;
  const bool virtual_time = !o.script_file.empty() || (o.demo && !terminal);
  std::optional<ScratchProfile> scratch;
  if (o.bench.profile_path.empty()) {
    if (virtual_time) o.bench.profile_path = scratch.emplace().path();
    else o.bench.profile_path = TempDir() + "/pendant-bench-profile-" + std::to_string(getuid()) + ".xml";
  }

  try {
    if (virtual_time) return RunVirtual(o, std::move(*script));
    return RunRealTime(o, std::move(script), terminal);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pendant-bench: %s\n", e.what());
    return kExitFailed;
  }
}
