// The HID bus of Windows: interfaces of the HID class through SetupAPI,
// attributes through the HID library, overlapped reads.
#pragma once

#include "link/hid.h"

namespace k2t::windows {

class SetupApiBus final : public HidBus {
 public:
  // Interfaces whose attributes cannot be read, or whose path does not
  // survive the process code page, are left out.
  std::vector<HidInterface> Enumerate() override;
  // kAttributes: opened with no access, and the attributes must read.
  // kRead: opened for reading, shared, overlapped, with its own manual-reset
  // event. kWrite: opened for writing, shared.
  std::unique_ptr<HidDevice> Open(const std::string& path, HidAccess access) override;
  bool SamePath(std::string_view a, std::string_view b) const override;
  // Nothing of this bus is the host's.
  void ForgetHost() override {}
};

}  // namespace k2t::windows
