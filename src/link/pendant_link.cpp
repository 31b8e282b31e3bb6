// Finding the pendant on the HID bus, opening it, and following it through
// arrival and removal notices.
#include "common/text.h"
#include "link/drovik_win.h"
#include "plugin/module.h"

namespace k2t {

DrovikWin::DrovikWin(Module& module) : module_(module) {}

void DrovikWin::ForgetHost() {
  if (services_) services_->ForgetHost();
  if (bus_) bus_->ForgetHost();
}

DrovikWin::~DrovikWin() {
  probe_handle_.reset();
  read_handle_.reset();
  write_handle_.reset();
  services_.reset();  // ends the timer and the notices
  bus_.reset();
}

DrovikWin::Found DrovikWin::FindPendant() {
  Found found;
  if (!bus_) return found;
  const std::vector<HidInterface> devices = bus_->Enumerate();
  const auto is_pendant = [](const HidInterface& d) {
    return d.vendor_id == kPendantVendorId && d.product_id == kPendantProductId;
  };
  // The stored path first, but only while it still belongs to a pendant:
  // device nodes are reused, so a path alone proves nothing.
  if (!DevicePath.empty()) {
    for (const HidInterface& device : devices) {
      if (device.path != DevicePath || !is_pendant(device)) continue;
      if (auto probe = bus_->Open(device.path, HidAccess::kAttributes)) return {device.path, std::move(probe)};
    }
  }
  for (const HidInterface& device : devices) {
    // An interface whose attributes cannot be read does not match.
    std::unique_ptr<HidDevice> probe = bus_->Open(device.path, HidAccess::kAttributes);
    if (!probe || !is_pendant(device)) continue;
    return {device.path, std::move(probe)};
  }
  return found;
}

bool DrovikWin::OpenPendant() {
  Found found = FindPendant();
  if (found.probe) {
    Connected = true;
    DevicePath = found.path;
    OpenReadWrite();
    probe_handle_ = std::move(found.probe);  // stays open until the window goes
  }
  // Notices from now on whether or not the pendant is here, so that one
  // plugged in later is found.
  if (services_) services_->RegisterDeviceNotices();
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

void DrovikWin::LoseLink() {
  CloseReadWrite();
  Connected = false;
  StopLinkMotion();
  ClearStaleInputs();
}

bool DrovikWin::HandleDeviceChange(int event_type, std::string_view path) {
  if (ticking_) {
    deferred_notices_.push_back({event_type, std::string(path)});
    return true;
  }
  if (event_type == kDeviceArrival) {
    // The notice does not say reliably which interface arrived, so every
    // arrival looks for the pendant anew: on its stored path if that is
    // still the pendant, else wherever the bus shows one.
    Found found = FindPendant();
    if (!found.probe) {
      // No pendant (another device arrived, perhaps on the pendant's old
      // node): nothing is opened, and whatever the link was doing ends.
      if (Connected || read_handle_ || write_handle_) LoseLink();
      probe_handle_.reset();
      return true;
    }
    if (found.path != DevicePath) {
      // A pendant on another path (re-plugged under a new node, or plugged
      // in after start-up): what the last report showed no longer holds,
      // and its wheel counter starts from wherever the new one stands.
      if (Connected) StopLinkMotion();
      ClearStaleInputs();
    }
    CloseReadWrite();
    probe_handle_ = std::move(found.probe);
    DevicePath = found.path;
    Connected = true;
    OpenReadWrite();
    if (!read_handle_) {
      // Connected without a way to read: the last report must not go on
      // driving the machine.
      StopLinkMotion();
      ClearStaleInputs();
    }
  } else if (event_type == kDeviceRemoval && IsPendantPath(path) && Connected) {
    LoseLink();
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
