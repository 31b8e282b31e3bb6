// The exported entry points, written once for both platforms: each forwards
// to the one module instance, and nothing thrown reaches the host's frames.
// A platform's exports file defines them with
//   K2T_DEFINE_ENTRY_POINTS(EXPORT, HOOKS)
// where EXPORT gives a function C linkage and its plain name on that
// platform, and HOOKS names a k2t::ExportHooks saying where the module is
// and what the platform does around start and stop.
#pragma once

#include "common/guarded.h"
#include "k2t/plugin.h"
#include "plugin/module.h"

namespace k2t {

struct ExportHooks {
  // The module; null keeps every entry point inert (the platform refused to
  // start it).
  Module* (*module)();
  // Before InitControl; false refuses it.
  bool (*starting)() = nullptr;
  // After StopPlug.
  void (*stopped)() = nullptr;
};

// Runs f on the module, if there is one.
template <class F>
void OnModule(const ExportHooks& hooks, F&& f) noexcept {
  Guarded([&] {
    if (Module* m = hooks.module()) f(*m);
  });
}

inline char g_no_title[1] = {'\0'};

}  // namespace k2t

#define K2T_DEFINE_ENTRY_POINTS(EXPORT, HOOKS)                                                           \
  EXPORT bool InitControl(void* motion, void* setup, void* planner, void* host_window) {                 \
    return k2t::Guarded(false, [&] {                                                                     \
      if ((HOOKS).starting && !(HOOKS).starting()) return false;                                         \
      k2t::Module* m = (HOOKS).module();                                                                 \
      return m && m->InitControl(motion, setup, planner, host_window);                                   \
    });                                                                                                  \
  }                                                                                                      \
  EXPORT char* SetProName(const char* profile_name) {                                                    \
    return k2t::Guarded(k2t::g_no_title, [&] {                                                           \
      k2t::Module* m = (HOOKS).module();                                                                 \
      return m ? m->SetProName(profile_name) : k2t::g_no_title;                                          \
    });                                                                                                  \
  }                                                                                                      \
  EXPORT void PostInitControl(void) { k2t::OnModule(HOOKS, [](k2t::Module& m) { m.PostInitControl(); }); } \
  EXPORT void Config(void) { k2t::OnModule(HOOKS, [](k2t::Module& m) { m.Config(); }); }                 \
  EXPORT void Update(void) { k2t::OnModule(HOOKS, [](k2t::Module& m) { m.Update(); }); }                 \
  EXPORT void StopPlug(void) {                                                                           \
    k2t::OnModule(HOOKS, [](k2t::Module& m) { m.StopPlug(); });                                          \
    if ((HOOKS).stopped) k2t::Guarded([] { (HOOKS).stopped(); });                                        \
  }                                                                                                      \
  EXPORT void SetDoButton(K2tDoButton fn) { k2t::OnModule(HOOKS, [fn](k2t::Module& m) { m.host.callbacks().do_button = fn; }); } \
  EXPORT void SetSetDRO(K2tSetDRO fn) { k2t::OnModule(HOOKS, [fn](k2t::Module& m) { m.host.callbacks().set_dro = fn; }); }       \
  EXPORT void SetGetDRO(K2tGetDRO fn) { k2t::OnModule(HOOKS, [fn](k2t::Module& m) { m.host.callbacks().get_dro = fn; }); }       \
  EXPORT void SetGetLED(K2tGetLED fn) { k2t::OnModule(HOOKS, [fn](k2t::Module& m) { m.host.callbacks().get_led = fn; }); }       \
  EXPORT void SetSetLED(K2tSetLED fn) { k2t::OnModule(HOOKS, [fn](k2t::Module& m) { m.host.callbacks().set_led = fn; }); }       \
  EXPORT void SetCode(K2tCode fn) { k2t::OnModule(HOOKS, [fn](k2t::Module& m) { m.host.callbacks().code = fn; }); }              \
  /* Exported for hosts that call them; they do nothing. */                                              \
  EXPORT void DoDwell(void) {}                                                                           \
  EXPORT void Reset(void) {}                                                                             \
  EXPORT void JogOn(void) {}                                                                             \
  EXPORT void JogOff(void) {}                                                                            \
  EXPORT void Purge(void) {}                                                                             \
  EXPORT void Probe(void) {}                                                                             \
  EXPORT void Home(void) {}
