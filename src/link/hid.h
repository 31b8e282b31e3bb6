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
inline constexpr int kDeviceArrival = 0x8000;
inline constexpr int kDeviceRemoval = 0x8004;
inline constexpr std::size_t kInputReportSize = 8;
inline constexpr std::size_t kOutputReportSize = 21;
// A tick takes at most this many waiting reports. Device queues hold far
// fewer (hidraw 64, Windows 32), so the bound only keeps a device that never
// runs dry from holding the GUI thread.
inline constexpr int kMaxReportsPerTick = 256;
// Device notices can be lost (a hub reset, an overflowing udev monitor, a
// host whose GUI thread hung), so the link also searches the bus by itself:
// this often while it has no working read handle, this often while the
// pendant is absent.
inline constexpr int kReadLostSearchTicks = 40;
inline constexpr int kAbsentSearchTicks = 200;

using InputReport = std::uint8_t[kInputReportSize];

enum class HidAccess { kAttributes, kRead, kWrite };

// One HID interface present on the bus, as enumeration reports it.
struct HidInterface {
  std::string path;
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0;
};

enum class ReadStart { kCompleted, kPending, kFailed };

// An open handle on one HID interface. Destroying it closes the handle (a
// read still outstanding is cancelled first).
// The device owns its read buffer: a report that arrives late never changes
// the report a tick is decoding, and it never has two reads outstanding.
//
// Reading never waits: the poll tick runs on the host's GUI thread, and any
// wait there is the host's screen standing still. StartRead says whether a
// report is there to take now (kCompleted), and TakeReport consumes it, so
// the next StartRead yields the next waiting report, oldest first. kPending
// means none is waiting (a read may stay outstanding and complete by a later
// tick); kFailed means the device is gone or no read could start. The poll
// tick takes every waiting report and decodes the newest.
class HidDevice {
 public:
  virtual ~HidDevice() = default;
  // Takes the next waiting report without waiting, or reports on the read
  // still outstanding.
  virtual ReadStart StartRead() = 0;
  // Copies the completed report out (8 bytes, byte 0 the report id) and
  // consumes it.
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
  // The host that offered this bus is gone (the module is being unloaded
  // without StopPlug): from now on nothing of the host's is called, not even
  // to close a handle or to unsubscribe; only the module's own resources are
  // released.
  virtual void ForgetHost() = 0;
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
  // As HidBus::ForgetHost: the host's loop or window may already be freed,
  // so destruction must not call into it.
  virtual void ForgetHost() = 0;
};

// The platform's side of one hidden window.
struct WindowPorts {
  std::unique_ptr<HidBus> bus;               // null: no bus, the pendant is never found
  std::unique_ptr<WindowServices> services;  // null: no timer and no notices
};

}  // namespace k2t
