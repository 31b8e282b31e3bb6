// The built K2TPendant.so loaded as a host loads it: by path, every entry
// point by name, with the host's event loop and a simulated HID bus that
// this executable exports.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "k2t/host_loop.h"
#include "k2t/entry_points.h"
#include "k2t/plugin.h"
#include "k2t/sim_hid.h"
#include "test_host.h"

namespace {

// ---- The simulated bus this executable offers ----------------------------

k2t::test_host::SimBus g_sim;
K2tSimHidBus g_bus;

}  // namespace

// Found by the module with dlsym(RTLD_DEFAULT, "K2tSimHidBus").
extern "C" __attribute__((visibility("default"))) K2tSimHidBus* SimBusEntry() __asm__("K2tSimHidBus");
extern "C" K2tSimHidBus* SimBusEntry() { return g_sim.offer ? &g_bus : nullptr; }

namespace {

// ---- The host's event loop: timers and readers recorded, run by hand ------

struct Timer {
  unsigned period;
  void (*fn)(void*);
  void* arg;
};
std::map<unsigned, Timer> g_timers;
unsigned g_next_id = 1;

unsigned AddTimer(void*, unsigned period, void (*fn)(void*), void* arg) {
  g_timers[g_next_id] = {period, fn, arg};
  return g_next_id++;
}
void RemoveTimer(void*, unsigned id) { g_timers.erase(id); }
unsigned AddReader(void*, int, void (*)(void*), void*) { return g_next_id++; }
void RemoveReader(void*, unsigned) {}

K2tHostLoop g_loop = {nullptr, AddTimer, RemoveTimer, AddReader, RemoveReader};

class ModuleLoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lib_ = ::dlopen(K2T_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib_, nullptr) << ::dlerror();
    const std::string missing =
        k2t::ResolveEntryPoints([this](const char* name) { return ::dlsym(lib_, name); }, api_);
    ASSERT_EQ(missing, "");
    char dir[] = "/tmp/k2t-load-XXXXXX";
    dir_ = ::mkdtemp(dir);
    profile_ = dir_ + "/profile.xml";
    g_sim = k2t::test_host::SimBus("/sim/pendant0");
    g_bus = g_sim.Functions();
    host_ = std::make_unique<k2t::test_host::RecordingHost>();
    host_->MakeCurrent();
    g_timers.clear();
  }
  void TearDown() override {
    if (lib_) ::dlclose(lib_);
    std::filesystem::remove_all(dir_);
  }
  void StartAsHost() {
    ASSERT_TRUE(api_.InitControl(motion_.data(), setup_.data(), planner_.data(), &g_loop));
    host_kit::HandCallbacks(api_);
    title_ = api_.SetProName(profile_.c_str());
    api_.PostInitControl();
  }
  void Tick() {
    ASSERT_EQ(g_timers.size(), 1u);
    auto& t = g_timers.begin()->second;
    t.fn(t.arg);
  }
  std::string ReadProfile() {
    std::ifstream in(profile_);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  void* lib_ = nullptr;
  std::unique_ptr<k2t::test_host::RecordingHost> host_;
  K2tEntryPoints api_{};
  std::string dir_, profile_, title_;
  std::vector<unsigned char> motion_ = std::vector<unsigned char>(K2T_MOTION_RECORD_SIZE);
  std::vector<unsigned char> setup_ = std::vector<unsigned char>(K2T_SETUP_RECORD_SIZE);
  std::vector<unsigned char> planner_ = std::vector<unsigned char>(K2T_PLANNER_RECORD_SIZE);
};

TEST_F(ModuleLoadTest, EveryEntryPointIsExported) {
  for (const char* name : {"InitControl", "SetProName", "PostInitControl", "Config", "Update", "StopPlug",
                           "SetDoButton", "SetSetDRO", "SetGetDRO", "SetGetLED", "SetSetLED", "SetCode",
                           "DoDwell", "Reset", "JogOn", "JogOff", "Purge", "Probe", "Home"})
    EXPECT_NE(::dlsym(lib_, name), nullptr) << name;
  // Internals stay hidden.
  EXPECT_EQ(::dlsym(lib_, "_ZN3k2t6ModuleC1ERNS_8PlatformE"), nullptr);
}

TEST_F(ModuleLoadTest, RunsAsAHostRunsIt) {
  StartAsHost();
  EXPECT_EQ(title_, "K2TPendant Pendant --Brennlow Ver 4.0.0");
  // The pendant is open for reading and writing and the 25 ms timer runs.
  ASSERT_EQ(g_timers.size(), 1u);
  EXPECT_EQ(g_timers.begin()->second.period, 25u);
  int readers = 0, writers = 0;
  for (const auto& [h, access] : g_sim.handles) {
    readers += access == K2T_SIM_ACCESS_READ;
    writers += access == K2T_SIM_ACCESS_WRITE;
  }
  EXPECT_EQ(readers, 1);
  EXPECT_EQ(writers, 1);
  EXPECT_NE(g_sim.notify, nullptr);
  // Start step size from the profile's defaults.
  EXPECT_EQ(host_->dros[828], 0.001);
  // The profile exists, holding the root element.
  EXPECT_NE(ReadProfile().find("<profile"), std::string::npos);

  // One tick: a report in, an output report of 21 bytes out.
  api_.Update();
  g_sim.reports.push_back({0, 0, 0, 0, 0, 0, 0, 0});
  Tick();
  ASSERT_EQ(g_sim.written.size(), 1u);
  ASSERT_EQ(g_sim.written[0].size(), 21u);
  EXPECT_EQ(g_sim.written[0][18], 2);
  EXPECT_EQ(host_->calls, (std::vector<std::string>{"SetDRO 828", "Code ENDJOG"}));

  // Removal and arrival through the bus' notices.
  g_sim.notify(g_sim.notify_arg, K2T_DEVICE_REMOVAL, "/SIM/PENDANT0");
  EXPECT_EQ(g_sim.handles.size(), 1u);  // the attribute probe only
  Tick();
  EXPECT_EQ(g_sim.written.size(), 1u);  // disconnected: nothing written
  g_sim.notify(g_sim.notify_arg, K2T_DEVICE_ARRIVAL, "/sim/other");
  EXPECT_EQ(g_sim.handles.size(), 3u);
  Tick();
  EXPECT_EQ(g_sim.written.size(), 2u);

  // Config without a display writes every key and returns.
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  unsetenv("QT_QPA_PLATFORM");
  api_.Config();
  EXPECT_NE(ReadProfile().find("<DelaySteps>25</DelaySteps>"), std::string::npos);

  api_.StopPlug();
  EXPECT_TRUE(g_timers.empty());
  EXPECT_TRUE(g_sim.handles.empty());
  EXPECT_EQ(g_sim.notify, nullptr);
  api_.StopPlug();  // a second time: nothing
}

// Everything of the host's the module may hold after the host is gone:
// any call through it ends the process with status 3.
[[noreturn]] void HostIsGone() { std::_Exit(3); }
unsigned GoneAddTimer(void*, unsigned, void (*)(void*), void*) { HostIsGone(); }
void GoneRemove(void*, unsigned) { HostIsGone(); }
unsigned GoneAddReader(void*, int, void (*)(void*), void*) { HostIsGone(); }
void GoneClose(void*, int) { HostIsGone(); }
void GoneSubscribe(void*, void (*)(void*, int, const char*), void*) { HostIsGone(); }
void GoneButton(short) { HostIsGone(); }
void GoneCode(const char*) { HostIsGone(); }

// A host that unloads the module, or exits, without StopPlug, after freeing
// its event loop: the module must call nothing of the host's, from dlclose
// or from the static destructors at exit. Under AddressSanitizer a read of
// the freed loop fails the child as well.
class HostThatLeavesTest : public ModuleLoadTest {
 protected:
  [[noreturn]] void RunAndLeave(bool unload_first) {
    auto* loop = new K2tHostLoop(g_loop);
    api_.InitControl(motion_.data(), setup_.data(), planner_.data(), loop);
    host_kit::HandCallbacks(api_);
    api_.SetProName(profile_.c_str());
    api_.PostInitControl();
    g_sim.reports.push_back({0, 0, 20, 0, 0, 0, 0, 0});  // the wheel turning
    Tick();
    *loop = {nullptr, GoneAddTimer, GoneRemove, GoneAddReader, GoneRemove};
    delete loop;
    g_bus.close = GoneClose;
    g_bus.subscribe = GoneSubscribe;
    api_.SetDoButton(GoneButton);
    api_.SetCode(GoneCode);
    if (unload_first) ::dlclose(lib_);
    std::exit(0);
  }
};

TEST_F(HostThatLeavesTest, UnloadWithoutStopPlugCallsNothingOfTheHost) {
  EXPECT_EXIT(RunAndLeave(true), ::testing::ExitedWithCode(0), "") << "dlclose, then exit";
  EXPECT_EXIT(RunAndLeave(false), ::testing::ExitedWithCode(0), "") << "exit";
}

TEST_F(ModuleLoadTest, NullHostLoopMeansNoTimerAndNoCrash) {
  ASSERT_TRUE(api_.InitControl(motion_.data(), setup_.data(), planner_.data(), nullptr));
  api_.SetProName(profile_.c_str());
  api_.PostInitControl();
  api_.Update();
  EXPECT_TRUE(g_timers.empty());
  api_.StopPlug();
}

}  // namespace

namespace {

// plugin.h declares each entry point with the type the hosts' table has.
#define K2T_SAME_TYPE(name, result, parameters) \
  static_assert(std::is_same_v<decltype(&::name), decltype(K2tEntryPoints::name)>, #name);
K2T_ENTRY_POINTS(K2T_SAME_TYPE)
#undef K2T_SAME_TYPE

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (const char c : text + " ") {
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '@' || c == '.' || c == '"' || c == '=') {
      word += c;
    } else if (!word.empty()) {
      words.push_back(word);
      word.clear();
    }
  }
  return words;
}

std::string FileText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The linker's lists export exactly the entry points the hosts resolve by
// name (the DLL also exports COM's four, which no host of ours resolves).
TEST(EntryPoints, LinkerListsNameEveryEntryPoint) {
  std::vector<std::string> names;
#define K2T_NAME(name, result, parameters) names.push_back(#name);
  K2T_ENTRY_POINTS(K2T_NAME)
#undef K2T_NAME
  ASSERT_EQ(names.size(), 19u);

  // exports.map: the names between "global:" and "local:".
  std::vector<std::string> map;
  bool global = false;
  for (std::string w : Words(FileText(K2T_SOURCE_DIR "/platform/linux/exports.map"))) {
    if (w == "global") global = true;
    else if (w == "local") global = false;
    else if (global) map.push_back(w);
  }
  EXPECT_EQ(map, names);

  // K2TPendant.def: the plain names after EXPORTS, then COM's aliases.
  std::vector<std::string> def;
  std::istringstream lines(FileText(K2T_SOURCE_DIR "/platform/windows/K2TPendant.def"));
  bool exports = false;
  for (std::string line; std::getline(lines, line);) {
    const std::vector<std::string> w = Words(line.substr(0, line.find(';')));
    if (w.empty()) continue;
    if (w[0] == "EXPORTS") exports = true;
    else if (exports && w.size() == 1) def.push_back(w[0]);
  }
  EXPECT_EQ(def, names);
}

}  // namespace
