// The HID bus a host executable offers through K2tSimHidBus: an integration
// test's, or a bench's. Same structure and meaning as on Linux; its notices
// come through the bus' subscribe.
#pragma once

#include <string_view>

#include "link/sim_hid_bus.h"

namespace k2t::windows_platform {

class SimHidBus final : public k2t::SimHidBus {
 public:
  using k2t::SimHidBus::SimHidBus;
  // Paths compare as Windows compares them.
  bool SamePath(std::string_view a, std::string_view b) const override;
};

// The bus the host executable exports, or null (none, or it returned null).
const K2tSimHidBus* HostSimulatedBus();

}  // namespace k2t::windows_platform
