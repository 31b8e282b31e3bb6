// The K2tSimHidBus a host program exports: the module looks the name up in
// the program (dlsym on the default scope) and, when it returns a bus, uses
// that bus instead of hidraw. The program decides before InitControl which
// bus, if any, it offers.
#pragma once

#include "k2t/sim_hid.h"

namespace host_kit {

// The bus K2tSimHidBus returns from now on; null: the real bus.
void OfferSimulatedBus(K2tSimHidBus* bus);
// Stops offering `bus` if it is the one offered (its owner is going).
void WithdrawSimulatedBus(const K2tSimHidBus* bus);
K2tSimHidBus* OfferedSimulatedBus();

}  // namespace host_kit
