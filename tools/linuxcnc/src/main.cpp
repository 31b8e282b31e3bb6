// k2t-linuxcnc: the K2T pendant on LinuxCNC. A host for the unchanged
// K2TPendant.so that carries the pendant's actions out on a running LinuxCNC
// over NML, and a userspace HAL component for the machine's E-stop chain.
// Started by LinuxCNC (with loadusr from a HAL file, as [APPLICATIONS]APP or
// as the DISPLAY of a headless configuration) or by hand next to a running
// LinuxCNC.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#include <inifile.hh>
#pragma GCC diagnostic pop

#include "command_line.h"
#include "config.h"
#include "console.h"
#include "display_lines.h"
#include "hal_component.h"
#include "host.h"
#include "host_program.h"
#include "line_writer.h"
#include "loop.h"
#include "nml_link.h"
#include "real_pendant.h"
#include "steady_clock.h"

namespace {

using namespace k2tcnc;

constexpr int kExitOk = 0;
constexpr int kExitLinuxCncGone = 1;
constexpr int kExitUsage = 2;
constexpr int kExitModule = 3;
constexpr int kExitNoLinuxCnc = 4;
constexpr int kExitHal = 5;

std::string Usage() {
  return "usage: k2t-linuxcnc [-ini FILE] [--pendant real|virtual] [--module PATH] [--wait SECONDS] [--verbose]\n"
         "  -ini FILE          the machine's LinuxCNC INI (default: $INI_FILE_NAME, set by LinuxCNC)\n"
         "  --pendant KIND     real: the K2T pendant on hidraw; virtual: a simulated one worked\n"
         "                     from standard input (default: [K2T]PENDANT, else real)\n"
         "  --module PATH      K2TPendant.so to load (default: [K2T]MODULE, else\n"
         "                     " + DefaultModule() + ")\n"
         "  --wait SECONDS     wait this long for LinuxCNC to come up (default 10)\n"
         "  --verbose          log every command sent to LinuxCNC\n"
         "  --version          the bridge's version (LinuxCNC is not needed)\n"
         "See k2t-linuxcnc(1).\n";
}

LineWriter* g_out = nullptr;  // main's, alive while anything can say something

void Say(const std::string& text) { g_out->Say("k2t-linuxcnc: " + text); }

struct Options {
  std::string ini, pendant, module;
  double wait = 10;
  bool verbose = false;
};

std::string Basename(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// LinuxCNC runs its DISPLAY program as "DISPLAY -ini FILE": is that us?
bool IsDisplay(const std::string& display, const char* argv0) {
  const std::string program = Basename(display.substr(0, display.find_first_of(" \t")));
  return !program.empty() && (program == "k2t-linuxcnc" || program == Basename(argv0));
}

// kDone: help or the version was printed.
host_kit::CommandLine::Result ParseOptions(int argc, char** argv, Options& o, std::string& error) {
  using host_kit::CommandLine;
  const CommandLine::Result result =
      CommandLine("k2t-linuxcnc", K2T_VERSION, Usage)
          .Value({"-ini", "--ini"}, o.ini)
          .Value({"--pendant"},
                 [&o](const std::string& value, std::string& error) {
                   o.pendant = value;
                   if (value == "real" || value == "virtual") return true;
                   error = "--pendant takes real or virtual";
                   return false;
                 })
          .Value({"--module"}, o.module)
          .Value({"--wait"},
                 [&o](const std::string& value, std::string& error) {
                   char* end = nullptr;
                   o.wait = std::strtod(value.c_str(), &end);
                   if (end != value.c_str() && !*end && o.wait >= 0) return true;
                   error = "--wait takes seconds";
                   return false;
                 })
          .Flag({"--verbose", "-v"}, o.verbose)
          .Parse(argc, argv, error);
  if (result != CommandLine::Result::kRun) return result;
  if (o.ini.empty()) {
    const char* env = std::getenv("INI_FILE_NAME");
    if (env) o.ini = env;
  }
  if (o.ini.empty()) {
    error = "no INI file: pass -ini FILE, or let LinuxCNC start the bridge";
    return CommandLine::Result::kError;
  }
  return CommandLine::Result::kRun;
}

bool ReadConfig(const Options& o, BridgeConfig& config, std::string& error) {
  IniFile ini;
  if (!ini.Open(o.ini.c_str())) {
    error = "cannot read the INI file " + o.ini;
    return false;
  }
  const IniLookup lookup = [&ini](const std::string& section, const std::string& key) -> std::optional<std::string> {
    const char* v = ini.Find(key.c_str(), section.c_str());
    if (!v) return std::nullopt;
    return std::string(v);
  };
  const std::size_t slash = o.ini.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : o.ini.substr(0, slash);
  config.module_path = DefaultModule();
  if (!LoadConfig(lookup, dir, config, error)) {
    error = o.ini + ": " + error;
    return false;
  }
  if (!o.pendant.empty()) config.virtual_pendant = o.pendant == "virtual";
  if (!o.module.empty()) config.module_path = o.module;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // Signals reach the loop through a signalfd: blocked before any thread
  // starts, so no other thread takes them (and ends the bridge without
  // stopping its jogs).
  sigset_t signals;
  sigemptyset(&signals);
  for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, s);
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  // A closed pipe on standard output must not end the bridge while
  // LinuxCNC's continuous jog goes on: the write fails instead.
  signal(SIGPIPE, SIG_IGN);
  LineWriter out(STDOUT_FILENO);
  g_out = &out;

  Options o;
  BridgeConfig config;
  std::string error;
  const host_kit::CommandLine::Result parsed = ParseOptions(argc, argv, o, error);
  if (parsed == host_kit::CommandLine::Result::kDone) return kExitOk;
  if (parsed == host_kit::CommandLine::Result::kError || !ReadConfig(o, config, error)) {
    std::fprintf(stderr, "k2t-linuxcnc: %s\n%s", error.c_str(), Usage().c_str());
    return kExitUsage;
  }
  config.display = IsDisplay(config.display_program, argv[0]);

  const int signal_fd = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
  bool signalled = false;
  auto take_signals = [&] {
    signalfd_siginfo info{};
    while (signal_fd >= 0 && read(signal_fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) signalled = true;
    return signalled;
  };

  // HAL first: "loadusr -W" waits for the component, and LinuxCNC's NML
  // comes up only after the HAL files have run. Started by hand before
  // LinuxCNC, the bridge makes it once LinuxCNC is there. The pins go false
  // again when `hal` goes, whichever way the bridge ends.
  HalComponent hal;
  std::string hal_error;
  hal.Create(hal_error);

  NmlLink link(config.nml_file, Machine{config.program, config.joint_of_axis}, Say,
               Worker::Options{o.verbose, config.display});
  if (!link.Connect(o.wait, take_signals, error)) {
    Say(error);
    return signalled ? kExitOk : kExitNoLinuxCnc;
  }

  if (!hal.created() && !hal.Create(hal_error)) {
    if (!config.hal_file.empty()) {
      Say(hal_error + "; [K2T]HALFILE " + config.hal_file + " needs the bridge's pins");
      return kExitHal;
    }
    Say(hal_error + ": the bridge runs without its HAL pins");
  }

  host_kit::RealLoop loop;
  if (!loop.ok() || signal_fd < 0) {
    Say(std::string("cannot set up the event loop: ") + std::strerror(errno));
    return kExitUsage;
  }
  ModuleHost host(config, link, [&link] { return link.Snapshot(); }, loop, Say);
  if (!host.Load(error)) {
    Say(error);
    return kExitModule;
  }
  if (!config.virtual_pendant) {
    std::string node, message;
    if (host_kit::FindRealPendant(node, message)) Say("pendant at " + node);
    else Say(message + "\nThe bridge runs on and takes the pendant when it is plugged in.");
  }
  // As a GUI runs its POSTGUI_HALFILE: the nets to the bridge's pins.
  if (hal.created() && !config.hal_file.empty()) {
    if (!RunHalFile(o.ini, config.hal_file, error)) {
      Say(error + ". The bridge ends: the configuration's E-stop wiring through its pins is not in place.");
      return kExitHal;
    }
    Say("HAL file " + config.hal_file + " run");
  }
  if (config.display) Say("LinuxCNC's display: its errors and messages are said here");
  link.Start();

  int exit_code = kExitOk;
  loop.AddReader(signal_fd, [&] {
    if (take_signals()) loop.Quit();
  });
  loop.AddTimer(50, [&] {
    if (!link.Gone()) return;
    Say("LinuxCNC has stopped (its task no longer answers); the jogs the bridge started were stopped where it "
        "still could. The bridge ends.");
    exit_code = kExitLinuxCncGone;
    loop.Quit();
  });

  // The pins follow the pendant's E-stop right after each module call, and
  // the watchdog beats on the loop's own timer: a stalled loop stops it.
  PendantSafety safety;
  bool present = false;
  unsigned ticks = 0;
  auto update_pins = [&] { hal.Set(safety.Update(present, host.bridge().PendantEStop())); };
  if (hal.created()) {
    host.SetAfterCall(update_pins);
    loop.AddTimer(25, [&] {
      // The real pendant's node is looked for a few times a second.
      if (config.virtual_pendant) present = host.pendant().plugged();
      else if (ticks++ % 4 == 0) present = host_kit::RealPendantPresent();
      update_pins();
      hal.Beat();
    });
  }

  std::optional<PendantConsole> console;
  DisplayLines display(Say);
  if (config.virtual_pendant) {
    host_kit::VirtualPendant& pendant = host.pendant();
    pendant.on_display_change = [&] { display.Changed(pendant.Display(), SteadySeconds()); };
    loop.AddTimer(100, [&] { display.Tick(SteadySeconds()); });
    console.emplace(pendant, Say, [&loop] { loop.Quit(); });
    const unsigned reader = loop.AddReader(STDIN_FILENO, [&] {
      char buf[512];
      const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
      if (n > 0) console->Feed(buf, static_cast<std::size_t>(n));
      else if (n == 0 || errno != EINTR) loop.Quit();  // the terminal or the test went away
    });
    if (reader == 0) Say("standard input cannot be watched (a file?): the virtual pendant takes no commands");
  }

  host.Start();
  Say("ready: " + host.title() + " on LinuxCNC, " + (config.virtual_pendant ? "virtual" : "real") + " pendant" +
      (hal.created() ? ", HAL component " + std::string(HalComponent::kName) : ""));
  if (config.virtual_pendant) Say(PendantConsole::Help());
  loop.Run();
  // Ending: the E-stop chain hears it first, before the last commands drain.
  hal.Set({});
  host.SetAfterCall(nullptr);
  host.Stop();
  link.Stop(1.0);
  close(signal_fd);
  Say(exit_code == kExitOk ? "stopped" : "ended");
  return exit_code;
}
