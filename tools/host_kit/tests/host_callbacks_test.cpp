// The callbacks' C functions reach the current host and nothing else, the
// host loop's reach the object they were made from, and the program's
// K2tSimHidBus export answers what was offered.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host_callbacks.h"
#include "sim_bus_export.h"

namespace {

using host_kit::HostCallbacks;
using host_kit::Thunks;

class RecordingHost final : public HostCallbacks {
 public:
  void DoButton(short code) override { calls.push_back("DoButton " + std::to_string(code)); }
  void SetDRO(int code, double value) override {
    calls.push_back("SetDRO " + std::to_string(code) + " " + std::to_string(value));
  }
  double GetDRO(int code) override {
    calls.push_back("GetDRO " + std::to_string(code));
    return dro;
  }
  bool GetLED(int code) override {
    calls.push_back("GetLED " + std::to_string(code));
    return led;
  }
  void SetLED(int code, bool on) override { calls.push_back("SetLED " + std::to_string(code) + (on ? " on" : " off")); }
  void Code(std::string_view text) override { calls.push_back("Code \"" + std::string(text) + "\""); }

  std::vector<std::string> calls;
  double dro = 2.5;
  bool led = true;
};

// Every callback once, as the module calls them; the reads' answers.
struct Answers {
  double dro;
  bool led;
};
Answers CallEach() {
  const host_kit::CallbackThunks& t = Thunks();
  t.do_button(1021);
  t.set_dro(821, 100);
  const double dro = t.get_dro(800);
  const bool led = t.get_led(83);
  t.set_led(14, false);
  t.code("G90");
  t.code(nullptr);
  return {dro, led};
}

TEST(HostCallbacks, ReachTheCurrentHostOnly) {
  RecordingHost first, second;
  first.MakeCurrent();
  second.MakeCurrent();
  const Answers answers = CallEach();
  EXPECT_EQ(second.calls, (std::vector<std::string>{"DoButton 1021", "SetDRO 821 100.000000", "GetDRO 800",
                                                    "GetLED 83", "SetLED 14 off", "Code \"G90\"", "Code \"\""}));
  EXPECT_EQ(answers.dro, 2.5);
  EXPECT_TRUE(answers.led);
  EXPECT_TRUE(first.calls.empty());
}

TEST(HostCallbacks, AHostThatGoesIsNoLongerReached) {
  RecordingHost stays;
  stays.MakeCurrent();
  {
    RecordingHost other;  // not current: its going changes nothing
  }
  Thunks().do_button(1);
  EXPECT_EQ(stays.calls, std::vector<std::string>{"DoButton 1"});

  auto going = std::make_unique<RecordingHost>();
  going->MakeCurrent();
  going.reset();
  // No host: nothing is reached, the reads answer 0 and off.
  const Answers answers = CallEach();
  EXPECT_EQ(answers.dro, 0.0);
  EXPECT_FALSE(answers.led);
  EXPECT_EQ(stays.calls.size(), 1u);
}

class RecordingLoop final : public host_kit::HostLoopCallbacks {
 public:
  unsigned AddTimer(unsigned period_ms, void (*fn)(void*), void* arg) override {
    calls.push_back("add_timer " + std::to_string(period_ms));
    fn(arg);
    return next_id++;
  }
  void RemoveTimer(unsigned id) override { calls.push_back("remove_timer " + std::to_string(id)); }
  unsigned AddReader(int fd, void (*fn)(void*), void* arg) override {
    calls.push_back("add_reader " + std::to_string(fd));
    fn(arg);
    return next_id++;
  }
  void RemoveReader(unsigned id) override { calls.push_back("remove_reader " + std::to_string(id)); }

  std::vector<std::string> calls;
  unsigned next_id = 7;
};

TEST(HostLoopCallbacks, ReachTheLoopTheyWereMadeFrom) {
  RecordingLoop loop, other;
  const K2tHostLoop a = loop.HostLoop();
  const K2tHostLoop b = other.HostLoop();
  int fired = 0;
  auto count = [](void* arg) { ++*static_cast<int*>(arg); };
  EXPECT_EQ(a.add_timer(a.context, 25, count, &fired), 7u);
  EXPECT_EQ(a.add_reader(a.context, 5, count, &fired), 8u);
  a.remove_timer(a.context, 7);
  a.remove_reader(a.context, 8);
  // A null function is refused before it reaches the host's loop.
  EXPECT_EQ(a.add_timer(a.context, 25, nullptr, nullptr), 0u);
  EXPECT_EQ(a.add_reader(a.context, 5, nullptr, nullptr), 0u);
  b.remove_timer(b.context, 1);

  EXPECT_EQ(fired, 2);
  EXPECT_EQ(loop.calls,
            (std::vector<std::string>{"add_timer 25", "add_reader 5", "remove_timer 7", "remove_reader 8"}));
  EXPECT_EQ(other.calls, std::vector<std::string>{"remove_timer 1"});
}

// The module finds the export in the program by name, as hosts offer it.
TEST(SimBusExport, TheModuleFindsWhatWasOffered) {
  using Export = K2tSimHidBus* (*)();
  void* symbol = dlsym(RTLD_DEFAULT, "K2tSimHidBus");
  ASSERT_NE(symbol, nullptr) << "K2tSimHidBus is not exported by the program";
  Export bus_of_program = nullptr;
  static_assert(sizeof bus_of_program == sizeof symbol);
  std::memcpy(&bus_of_program, &symbol, sizeof symbol);

  K2tSimHidBus offered{}, other{};
  host_kit::OfferSimulatedBus(&offered);
  EXPECT_EQ(bus_of_program(), &offered);
  host_kit::WithdrawSimulatedBus(&other);  // not the one offered: no change
  EXPECT_EQ(bus_of_program(), &offered);
  host_kit::WithdrawSimulatedBus(&offered);
  EXPECT_EQ(bus_of_program(), nullptr);
  EXPECT_EQ(host_kit::OfferedSimulatedBus(), nullptr);
}

}  // namespace
