#include "platform/windows/sim_hid_bus.h"

#include <windows.h>

#include <cstring>

#include "platform/windows/ansi_text.h"

namespace k2t::windows_platform {

bool SimHidBus::SamePath(std::string_view a, std::string_view b) const { return EqualsIgnoreCaseAnsi(a, b); }

const K2tSimHidBus* HostSimulatedBus() {
  HMODULE host = ::GetModuleHandleW(nullptr);
  if (!host) return nullptr;
  FARPROC symbol = ::GetProcAddress(host, K2T_SIM_HID_BUS_SYMBOL);
  if (!symbol) return nullptr;
  K2tSimHidBusFn fn = nullptr;
  static_assert(sizeof fn == sizeof symbol);
  std::memcpy(&fn, &symbol, sizeof fn);
  return fn();
}

}  // namespace k2t::windows_platform
