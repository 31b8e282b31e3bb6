// k2t-linuxcnc: the K2T pendant on LinuxCNC. A host for the unchanged
// K2TPendant.so that carries the pendant's actions out on a running LinuxCNC
// over NML. Started by LinuxCNC (as [APPLICATIONS]APP or as the DISPLAY of a
// headless configuration) or by hand next to a running LinuxCNC.
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

#include "config.h"
#include "console.h"
#include "host.h"
#include "line_writer.h"
#include "loop.h"
#include "nml_link.h"
#include "real_pendant.h"

#ifndef K2T_DEFAULT_MODULE
#define K2T_DEFAULT_MODULE "K2TPendant.so"
#endif
#ifndef K2T_VERSION
#define K2T_VERSION "unknown"
#endif

namespace {

using namespace k2tcnc;

constexpr int kExitOk = 0;
constexpr int kExitLinuxCncGone = 1;
constexpr int kExitUsage = 2;
constexpr int kExitModule = 3;
constexpr int kExitNoLinuxCnc = 4;

constexpr const char* kUsage =
    "usage: k2t-linuxcnc [-ini FILE] [--pendant real|virtual] [--module PATH] [--wait SECONDS]\n"
    "  -ini FILE          the machine's LinuxCNC INI (default: $INI_FILE_NAME, set by LinuxCNC)\n"
    "  --pendant KIND     real: the K2T pendant on hidraw; virtual: a simulated one worked\n"
    "                     from standard input (default: [K2T]PENDANT, else real)\n"
    "  --module PATH      K2TPendant.so to load (default: [K2T]MODULE, else the built one)\n"
    "  --wait SECONDS     wait this long for LinuxCNC to come up (default 10)\n"
    "  --version          the bridge's version (LinuxCNC is not needed)\n";

LineWriter* g_out = nullptr;  // main's, alive while anything can say something

void Say(const std::string& text) { g_out->Say("k2t-linuxcnc: " + text); }

struct Options {
  std::string ini, pendant, module;
  double wait = 10;
};

bool ParseOptions(int argc, char** argv, Options& o, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) {
        error = arg + " needs a value";
        return false;
      }
      out = argv[++i];
      return true;
    };
    std::string v;
    if (arg == "-ini" || arg == "--ini") {
      if (!value(o.ini)) return false;
    } else if (arg == "--pendant") {
      if (!value(o.pendant)) return false;
      if (o.pendant != "real" && o.pendant != "virtual") {
        error = "--pendant takes real or virtual";
        return false;
      }
    } else if (arg == "--module") {
      if (!value(o.module)) return false;
    } else if (arg == "--wait") {
      if (!value(v)) return false;
      char* end = nullptr;
      o.wait = std::strtod(v.c_str(), &end);
      if (end == v.c_str() || *end || o.wait < 0) {
        error = "--wait takes seconds";
        return false;
      }
    } else if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      std::exit(kExitOk);
    } else if (arg == "--version") {
      std::puts("k2t-linuxcnc " K2T_VERSION);
      std::exit(kExitOk);
    } else {
      error = "unknown option " + arg;
      return false;
    }
  }
  if (o.ini.empty()) {
    const char* env = std::getenv("INI_FILE_NAME");
    if (env) o.ini = env;
  }
  if (o.ini.empty()) {
    error = "no INI file: pass -ini FILE, or let LinuxCNC start the bridge";
    return false;
  }
  return true;
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
  config.module_path = K2T_DEFAULT_MODULE;
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
  if (!ParseOptions(argc, argv, o, error) || !ReadConfig(o, config, error)) {
    std::fprintf(stderr, "k2t-linuxcnc: %s\n%s", error.c_str(), kUsage);
    return kExitUsage;
  }

  const int signal_fd = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);

  NmlLink link(config.nml_file, config.program, Say);
  if (!link.Connect(o.wait, error)) {
    Say(error);
    return kExitNoLinuxCnc;
  }

  bench::RealLoop loop;
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
    if (bench::FindRealPendant(node, message)) Say("pendant at " + node);
    else Say(message + "\nThe bridge runs on and takes the pendant when it is plugged in.");
  }
  link.Start();

  int exit_code = kExitOk;
  loop.AddReader(signal_fd, [&] {
    signalfd_siginfo info{};
    while (read(signal_fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) loop.Quit();
  });
  loop.AddTimer(50, [&] {
    if (!link.Gone()) return;
    Say("LinuxCNC has stopped (its task no longer answers); the jogs the bridge started were stopped where it "
        "still could. The bridge ends.");
    exit_code = kExitLinuxCncGone;
    loop.Quit();
  });

  std::optional<PendantConsole> console;
  if (config.virtual_pendant) {
    bench::VirtualPendant& pendant = host.pendant();
    // A blinking display alternates two texts: each is shown once, not twice a second.
    pendant.on_display_change = [&pendant, shown = std::array<std::string, 2>{}]() mutable {
      const std::string text = pendant.Display();
      if (text == shown[0] || text == shown[1]) return;
      shown = {shown[1], text};
      Say("display \"" + text + "\"");
    };
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
  Say("ready: " + host.title() + " on LinuxCNC, " + (config.virtual_pendant ? "virtual" : "real") + " pendant");
  if (config.virtual_pendant) Say(PendantConsole::Help());
  loop.Run();
  host.Stop();
  link.Stop(1.0);
  close(signal_fd);
  Say(exit_code == kExitOk ? "stopped" : "ended");
  return exit_code;
}
