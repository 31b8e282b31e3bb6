// The module's exported entry points: C linkage, plain names, forwarding to
// one module instance.
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

K2T_EXPORT bool InitControl(void* motion, void* setup, void* planner, void* host_window) {
  return TheModule().InitControl(motion, setup, planner, host_window);
}
K2T_EXPORT char* SetProName(const char* profile_name) { return TheModule().SetProName(profile_name); }
K2T_EXPORT void PostInitControl(void) { TheModule().PostInitControl(); }
K2T_EXPORT void Config(void) { TheModule().Config(); }
K2T_EXPORT void Update(void) { TheModule().Update(); }
K2T_EXPORT void StopPlug(void) { TheModule().StopPlug(); }
K2T_EXPORT void SetDoButton(K2tDoButton fn) { TheModule().host.callbacks().do_button = fn; }
K2T_EXPORT void SetSetDRO(K2tSetDRO fn) { TheModule().host.callbacks().set_dro = fn; }
K2T_EXPORT void SetGetDRO(K2tGetDRO fn) { TheModule().host.callbacks().get_dro = fn; }
K2T_EXPORT void SetGetLED(K2tGetLED fn) { TheModule().host.callbacks().get_led = fn; }
K2T_EXPORT void SetSetLED(K2tSetLED fn) { TheModule().host.callbacks().set_led = fn; }
K2T_EXPORT void SetCode(K2tCode fn) { TheModule().host.callbacks().code = fn; }
K2T_EXPORT void DoDwell(void) {}
K2T_EXPORT void Reset(void) {}
K2T_EXPORT void JogOn(void) {}
K2T_EXPORT void JogOff(void) {}
K2T_EXPORT void Purge(void) {}
K2T_EXPORT void Probe(void) {}
K2T_EXPORT void Home(void) {}
