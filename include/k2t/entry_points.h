/* The module's entry points, each named once, for hosts that load it by
 * name: K2T_ENTRY_POINTS(X) calls X(name, result, parameters) for each of the
 * 19 in the order of plugin.h. K2tEntryPoints is a host's table of them, and
 * in C++ k2t::ResolveEntryPoints fills it with any lookup by name (dlsym,
 * GetProcAddress). The linker's lists (K2TPendant.def, exports.map) are
 * checked against this one by a test. Usable from C and C++. */
#ifndef K2T_ENTRY_POINTS_H
#define K2T_ENTRY_POINTS_H

#include "k2t/plugin.h"

#define K2T_ENTRY_POINTS(X)                                                               \
  X(InitControl, bool, (void *motion, void *setup, void *planner, void *host_window))     \
  X(SetProName, char *, (const char *profile_name))                                       \
  X(PostInitControl, void, (void))                                                        \
  X(Config, void, (void))                                                                 \
  X(Update, void, (void))                                                                 \
  X(StopPlug, void, (void))                                                               \
  X(SetDoButton, void, (K2tDoButton fn))                                                  \
  X(SetSetDRO, void, (K2tSetDRO fn))                                                      \
  X(SetGetDRO, void, (K2tGetDRO fn))                                                      \
  X(SetGetLED, void, (K2tGetLED fn))                                                      \
  X(SetSetLED, void, (K2tSetLED fn))                                                      \
  X(SetCode, void, (K2tCode fn))                                                          \
  X(DoDwell, void, (void))                                                                \
  X(Reset, void, (void))                                                                  \
  X(JogOn, void, (void))                                                                  \
  X(JogOff, void, (void))                                                                 \
  X(Purge, void, (void))                                                                  \
  X(Probe, void, (void))                                                                  \
  X(Home, void, (void))

#define K2T_ENTRY_POINT_SLOT_(name, result, parameters) result(*name) parameters;
typedef struct K2tEntryPoints {
  K2T_ENTRY_POINTS(K2T_ENTRY_POINT_SLOT_)
} K2tEntryPoints;
#undef K2T_ENTRY_POINT_SLOT_

#ifdef __cplusplus
#include <cstring>
#include <string>

namespace k2t {

// Fills every slot of `api` with lookup(name) (a void* or any function
// pointer). Returns the names that were not found, comma-separated; empty
// when all were.
template <class Lookup>
std::string ResolveEntryPoints(Lookup lookup, K2tEntryPoints &api) {
  std::string missing;
  const auto resolve = [&](const char *name, auto &slot) {
    auto symbol = lookup(name);
    static_assert(sizeof symbol == sizeof slot, "a symbol the size of a function pointer");
    if (!symbol) {
      missing += missing.empty() ? "" : ", ";
      missing += name;
      slot = nullptr;
      return;
    }
    std::memcpy(&slot, &symbol, sizeof slot);
  };
#define K2T_RESOLVE_ENTRY_POINT_(name, result, parameters) resolve(#name, api.name);
  K2T_ENTRY_POINTS(K2T_RESOLVE_ENTRY_POINT_)
#undef K2T_RESOLVE_ENTRY_POINT_
  return missing;
}

}  // namespace k2t
#endif

#endif /* K2T_ENTRY_POINTS_H */
