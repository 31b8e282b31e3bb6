// Ports through which the core reaches the USB HID bus and the platform's
// window services. Each platform implements them; tests fake them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/text.h"

namespace k2t {

inline constexpr std::uint16_t kPendantVendorId = 0x04D8;
inline constexpr std::uint16_t kPendantProductId = 0xFCE8;
inline constexpr unsigned kPollTimerId = 1;
inline constexpr unsigned kPollPeriodMs = 25;
inline constexpr unsigned kReadWaitMs = 5;
inline constexpr int kDeviceArrival = 0x8000;
inline constexpr int kDeviceRemoval = 0x8004;
inline constexpr std::size_t kInputReportSize = 8;
inline constexpr std::size_t kOutputReportSize = 21;

using InputReport = std::uint8_t[kInputReportSize];

enum class HidAccess { kAttributes, kRead, kWrite };

// One HID interface present on the bus, as enumeration reports it.
struct HidInterface {
  std::string path;
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0;
};

enum class ReadStart { kCompleted, kPending, kFailed };

// An open handle on one HID interface. Destroying it closes the handle.
// The device owns its read buffer: a report that arrives late never changes
// the report a tick is decoding, and it never has two reads outstanding.
class HidDevice {
 public:
  virtual ~HidDevice() = default;
  // Starts a read of one input report, or reports on the one still outstanding.
  virtual ReadStart StartRead() = 0;
  // Waits at most timeout_ms for the outstanding read; true when it completed.
  virtual bool WaitRead(unsigned timeout_ms) = 0;
  // Copies the completed report out (8 bytes, byte 0 the report id).
  virtual void TakeReport(InputReport& report) = 0;
  // Writes one output report; failures are not reported.
  virtual void Write(const std::uint8_t* data, std::size_t size) = 0;
};

class HidBus {
 public:
  virtual ~HidBus() = default;
  // The HID interfaces present now, in enumeration order.
  virtual std::vector<HidInterface> Enumerate() = 0;
  // Opens a handle; null when the open fails. kAttributes is the probe: an
  // interface whose probe fails counts as one whose attributes cannot be read.
  virtual std::unique_ptr<HidDevice> Open(const std::string& path, HidAccess access) = 0;
  // Whether two of this bus' paths name the same interface; letter case
  // does not count.
  virtual bool SamePath(std::string_view a, std::string_view b) const { return EqualsIgnoreCase(a, b); }
};

// What the hidden window needs from the platform besides the bus: the poll
// timer and the subscription to device arrival and removal notices. The
// platform delivers both to DrovikWin on the host's GUI thread; destroying
// the services ends the timer and the notices.
class WindowServices {
 public:
  virtual ~WindowServices() = default;
  virtual void StartTimer(unsigned id, unsigned period_ms) = 0;
  virtual void RegisterDeviceNotices() = 0;
};

// The platform's side of one hidden window.
struct WindowPorts {
  std::unique_ptr<HidBus> bus;               // null: no bus, the pendant is never found
  std::unique_ptr<WindowServices> services;  // null: no timer and no notices
};

}  // namespace k2t
