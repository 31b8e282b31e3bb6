// The plain C functions a host hands the module, written once: the six
// callbacks and the K2tHostLoop functions. They forward to interfaces that
// each host (the bench, the LinuxCNC bridge, the unit tests' fake host)
// implements. Plain C++ on the C headers only, so it builds for every
// platform the tests run on.
#pragma once

#include <string_view>

#include "k2t/entry_points.h"
#include "k2t/host_loop.h"
#include "k2t/plugin.h"

namespace host_kit {

// The host behind the six callbacks. The module's callbacks carry no context,
// so they reach one host per process: the one made current last. A host that
// goes stops being current; with none current the callbacks do nothing and
// the reads answer 0 and off.
class HostCallbacks {
 public:
  virtual ~HostCallbacks();
  HostCallbacks(const HostCallbacks&) = delete;
  HostCallbacks& operator=(const HostCallbacks&) = delete;

  // The callbacks reach this host from now on.
  void MakeCurrent();

  virtual void DoButton(short code) = 0;
  virtual void SetDRO(int code, double value) = 0;
  virtual double GetDRO(int code) = 0;
  virtual bool GetLED(int code) = 0;
  virtual void SetLED(int code, bool on) = 0;
  // The module's text, valid during the call only; a null text arrives empty.
  virtual void Code(std::string_view text) = 0;

 protected:
  HostCallbacks() = default;
};

// The six function pointers a host hands the module, each forwarding to the
// current host.
struct CallbackThunks {
  K2tDoButton do_button;
  K2tSetDRO set_dro;
  K2tGetDRO get_dro;
  K2tGetLED get_led;
  K2tSetLED set_led;
  K2tCode code;
};
const CallbackThunks& Thunks();

// Hands the module the six callbacks through its Set... entry points, in the
// order a host calls them.
void HandCallbacks(const K2tEntryPoints& api);

// The event loop as the module sees it through K2tHostLoop. A function the
// module adds runs on the host's loop; the host may wrap it (trace it,
// refresh its state around it).
class HostLoopCallbacks {
 public:
  HostLoopCallbacks(const HostLoopCallbacks&) = delete;
  HostLoopCallbacks& operator=(const HostLoopCallbacks&) = delete;

  // The K2tHostLoop whose functions reach this object; valid while it lives.
  // A null fn is refused (id 0) before it reaches the host.
  K2tHostLoop HostLoop();

  // Ids are non-zero; 0 means failure.
  virtual unsigned AddTimer(unsigned period_ms, void (*fn)(void*), void* arg) = 0;
  virtual void RemoveTimer(unsigned id) = 0;
  virtual unsigned AddReader(int fd, void (*fn)(void*), void* arg) = 0;
  virtual void RemoveReader(unsigned id) = 0;

 protected:
  HostLoopCallbacks() = default;
  ~HostLoopCallbacks() = default;
};

}  // namespace host_kit
