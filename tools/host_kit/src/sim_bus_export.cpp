#include "sim_bus_export.h"

namespace {
K2tSimHidBus* g_offered = nullptr;
}  // namespace

// Named by its symbol: in C++ the name K2tSimHidBus is already the bus's type.
extern "C" __attribute__((visibility("default"))) K2tSimHidBus* HostKitSimHidBus(void) __asm__("K2tSimHidBus");
extern "C" K2tSimHidBus* HostKitSimHidBus(void) { return g_offered; }

namespace host_kit {

void OfferSimulatedBus(K2tSimHidBus* bus) { g_offered = bus; }

void WithdrawSimulatedBus(const K2tSimHidBus* bus) {
  if (g_offered == bus) g_offered = nullptr;
}

K2tSimHidBus* OfferedSimulatedBus() { return g_offered; }

}  // namespace host_kit
