// What a test host offers the built module, the same on Linux and under
// Wine: a simulated bus with one pendant whose reports the test queues, and
// callbacks that record what the module asks of the host. Plain C++ on the C
// headers only, so both platforms' module tests share it.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "host_callbacks.h"
#include "k2t/sim_hid.h"

namespace k2t::test_host {

// One pendant (04D8:FCE8) at `path`. The bus' functions reach the object
// they were made from, so the object stays in place; reset it by assignment.
struct SimBus {
  explicit SimBus(std::string pendant_path = {}) : path(std::move(pendant_path)) {}

  // The functions the host hands the module, bound to this object.
  K2tSimHidBus Functions();

  std::string path;
  bool offer = true;    // the host's K2tSimHidBus returns the bus; false: null, the real bus is used
  bool present = true;  // the pendant is plugged in
  std::deque<std::vector<unsigned char>> reports;  // read oldest first; none: the read finds nothing
  std::vector<std::vector<unsigned char>> written;
  std::map<int, int> handles;  // open handle -> access
  int next_handle = 1;
  void (*notify)(void*, int, const char*) = nullptr;
  void* notify_arg = nullptr;
  int calls = 0;  // every call of the module into the bus
};

// The host's side of the six callbacks: "DoButton 1021", "SetDRO 828",
// "SetLED", "Code DOJOG" in the order they came; DROs and LEDs kept, LED 83
// (jog enabled) on to begin with.
class RecordingHost final : public host_kit::HostCallbacks {
 public:
  RecordingHost() = default;

  void DoButton(short code) override;
  void SetDRO(int code, double value) override;
  double GetDRO(int code) override;
  bool GetLED(int code) override;
  void SetLED(int code, bool on) override;
  void Code(std::string_view text) override;

  std::vector<std::string> calls;
  std::map<int, double> dros;
  std::map<int, bool> leds = {{83, true}};
};

}  // namespace k2t::test_host
