// The HID bus of Windows: interfaces of the HID class through SetupAPI,
// attributes through the HID library, overlapped reads.
#pragma once

#include "link/hid.h"

namespace k2t::windows_platform {

// A HID device's report lengths as HidP_GetCaps gives them, the report id
// byte included.
struct ReportLengths {
  std::size_t input = 0;
  std::size_t output = 0;
};

// Whether a device with these reports can be the pendant: its input report
// holds the 8 bytes the pendant sends and its output report the 21 it takes.
bool FitsPendant(const ReportLengths& lengths);

// The write side on a file already opened for overlapped writing (taken
// over, closed with the device): reports go out padded with zeros to
// output_length, the device's output report length. Null when no event
// can be made; the file is closed then.
std::unique_ptr<HidDevice> OpenReportWriter(void* file, std::size_t output_length);

class SetupApiBus final : public HidBus {
 public:
  // Interfaces whose attributes cannot be read, or whose path does not
  // survive the process code page, are left out.
  std::vector<HidInterface> Enumerate() override;
  // kAttributes: opened with no access; the attributes must read and the
  // report lengths fit the pendant. kRead: opened for reading, shared,
  // overlapped, with its own manual-reset event. kWrite: opened for
  // writing, shared, overlapped. Closing a device never waits.
  std::unique_ptr<HidDevice> Open(const std::string& path, HidAccess access) override;
  bool SamePath(std::string_view a, std::string_view b) const override;
  // Nothing of this bus is the host's.
  void ForgetHost() override {}
};

}  // namespace k2t::windows_platform
