// The module's exported entry points: C linkage, plain names, forwarding to
// one module instance.
#include "common/guarded.h"
#include "k2t/plugin.h"
#include "platform/linux/config_dialog.h"
#include "platform/linux/linux_platform.h"
#include "plugin/module.h"

#define K2T_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

k2t::Module& TheModule() {
  static k2t::linux_platform::LinuxPlatform platform(&k2t::linux_platform::RunConfigDialogOnLinux);
  static k2t::Module module(platform);
  return module;
}

}  // namespace

// No exception reaches the host's frames (common/guarded.h).
K2T_EXPORT bool InitControl(void* motion, void* setup, void* planner, void* host_window) {
  return k2t::Guarded(false, [&] { return TheModule().InitControl(motion, setup, planner, host_window); });
}
K2T_EXPORT char* SetProName(const char* profile_name) {
  static char no_title[1] = {'\0'};
  return k2t::Guarded(no_title, [&] { return TheModule().SetProName(profile_name); });
}
K2T_EXPORT void PostInitControl(void) { k2t::Guarded([] { TheModule().PostInitControl(); }); }
K2T_EXPORT void Config(void) { k2t::Guarded([] { TheModule().Config(); }); }
K2T_EXPORT void Update(void) { k2t::Guarded([] { TheModule().Update(); }); }
K2T_EXPORT void StopPlug(void) { k2t::Guarded([] { TheModule().StopPlug(); }); }
K2T_EXPORT void SetDoButton(K2tDoButton fn) { k2t::Guarded([&] { TheModule().host.callbacks().do_button = fn; }); }
K2T_EXPORT void SetSetDRO(K2tSetDRO fn) { k2t::Guarded([&] { TheModule().host.callbacks().set_dro = fn; }); }
K2T_EXPORT void SetGetDRO(K2tGetDRO fn) { k2t::Guarded([&] { TheModule().host.callbacks().get_dro = fn; }); }
K2T_EXPORT void SetGetLED(K2tGetLED fn) { k2t::Guarded([&] { TheModule().host.callbacks().get_led = fn; }); }
K2T_EXPORT void SetSetLED(K2tSetLED fn) { k2t::Guarded([&] { TheModule().host.callbacks().set_led = fn; }); }
K2T_EXPORT void SetCode(K2tCode fn) { k2t::Guarded([&] { TheModule().host.callbacks().code = fn; }); }
K2T_EXPORT void DoDwell(void) {}
K2T_EXPORT void Reset(void) {}
K2T_EXPORT void JogOn(void) {}
K2T_EXPORT void JogOff(void) {}
K2T_EXPORT void Purge(void) {}
K2T_EXPORT void Probe(void) {}
K2T_EXPORT void Home(void) {}
