// Finding the pendant on the HID bus, opening it, and following it through
// arrival and removal notices.
#include "common/text.h"
#include "link/drovik_win.h"
#include "plugin/module.h"

namespace k2t {

DrovikWin::DrovikWin(Module& module) : module_(module) {}

DrovikWin::~DrovikWin() {
  probe_handle_.reset();
  read_handle_.reset();
  write_handle_.reset();
  services_.reset();  // ends the timer and the notices
  bus_.reset();
}

bool DrovikWin::OpenPendant() {
  if (bus_) {
    for (const HidInterface& device : bus_->Enumerate()) {
      // An interface whose attributes cannot be read does not match.
      std::unique_ptr<HidDevice> probe = bus_->Open(device.path, HidAccess::kAttributes);
      if (!probe) continue;
      if (device.vendor_id != kPendantVendorId || device.product_id != kPendantProductId) continue;
      Connected = true;
      DevicePath = device.path;
      if (services_) services_->RegisterDeviceNotices();
      OpenReadWrite();
      probe_handle_ = std::move(probe);  // stays open until the window goes
      break;
    }
  }
  // The timer runs whether or not a pendant was found.
  if (services_ && !timer_started_) {
    services_->StartTimer(kPollTimerId, kPollPeriodMs);
    timer_started_ = true;
  }
  return Connected;
}

void DrovikWin::OpenReadWrite() {
  if (!bus_) return;
  read_handle_ = bus_->Open(DevicePath, HidAccess::kRead);
  write_handle_ = bus_->Open(DevicePath, HidAccess::kWrite);
}

void DrovikWin::CloseReadWrite() {
  read_handle_.reset();
  write_handle_.reset();
}

bool DrovikWin::HandleDeviceChange(int event_type, std::string_view path) {
  if (event_type == kDeviceArrival) {
    // Any arrival re-opens the stored path: the notice does not say which
    // interface arrived in a way the pendant's path can be matched against.
    Connected = true;
    CloseReadWrite();
    OpenReadWrite();
    if (!read_handle_) {
      // Connected without a way to read: the last report must not go on
      // driving the machine.
      StopLinkMotion();
      ClearStaleInputs();
    }
  } else if (event_type == kDeviceRemoval && IsPendantPath(path)) {
    CloseReadWrite();
    Connected = false;
    StopLinkMotion();
    ClearStaleInputs();
  }
  return true;
}

bool DrovikWin::IsPendantPath(std::string_view path) const {
  if (DevicePath.empty()) return false;
  return bus_ ? bus_->SamePath(path, DevicePath) : EqualsIgnoreCase(path, DevicePath);
}

void DrovikWin::ClearStaleInputs() {
  // Keys, function keys and the wheel rate read as released and still; the
  // wheel counter stays so no steps appear, the E-stop bit stays so losing
  // the cable never reads as an E-stop release, and the mode selector stays
  // so its position is not taken for a new selection.
  RawReport[2] = 0;                                              // wheel rate
  RawReport[3] = static_cast<std::uint8_t>(RawReport[3] & 0x01);  // keep E-stop
  RawReport[4] = static_cast<std::uint8_t>(RawReport[4] & 0x0F);  // keep mode code
  StaleReport = true;
}

}  // namespace k2t
