// Finding the pendant on the HID bus, opening it, and following it through
// arrival and removal notices.
#include "common/text.h"
#include "link/drovik_win.h"
#include "plugin/module.h"

namespace k2t {

namespace {
bool IsPendant(const HidInterface& device) {
  return device.vendor_id == kPendantVendorId && device.product_id == kPendantProductId;
}
}  // namespace

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
  // The first pendant that can be read wins. One that cannot (firmware with
  // a second collection the system keeps for itself) is passed over for the
  // next; when none can, the first is still taken, connected without a read
  // handle, and searched for again.
  const auto consider = [&](const HidInterface& device) {
    // An interface whose attributes cannot be read does not match.
    std::unique_ptr<HidDevice> probe = bus_->Open(device.path, HidAccess::kAttributes);
    if (!probe || !IsPendant(device)) return false;
    std::unique_ptr<HidDevice> read = bus_->Open(device.path, HidAccess::kRead);
    if (!read && found.probe) return false;
    found.path = device.path;
    found.probe = std::move(probe);
    found.read = std::move(read);
    return found.read != nullptr;
  };
  // The stored path first, but only while it still belongs to a pendant:
  // device nodes are reused, so a path alone proves nothing.
  if (!DevicePath.empty()) {
    for (const HidInterface& device : devices)
      if (device.path == DevicePath && IsPendant(device) && consider(device)) return found;
  }
  for (const HidInterface& device : devices)
    if (consider(device)) return found;
  return found;
}

bool DrovikWin::StillAnswersAtPath() {
  if (!bus_ || DevicePath.empty()) return false;
  for (const HidInterface& device : bus_->Enumerate()) {
    if (device.path != DevicePath || !IsPendant(device)) continue;
    if (bus_->Open(device.path, HidAccess::kAttributes)) return true;
  }
  return false;
}

bool DrovikWin::OpenPendant() {
  Found found = FindPendant();
  if (found.probe) {
    Connected = true;
    DevicePath = found.path;
    read_handle_ = std::move(found.read);
    write_handle_ = bus_->Open(DevicePath, HidAccess::kWrite);
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

void DrovikWin::Shutdown() {
  services_.reset();
  StopLinkMotion();
}

void DrovikWin::Reconnect() {
  // A pendant that still answers at its path keeps its handles: closing the
  // read handle would throw away what it queued, an E-stop press among it.
  if (Connected && read_handle_ && StillAnswersAtPath()) return;
  Found found = FindPendant();
  if (!found.probe) {
    // No pendant (another device arrived, perhaps on the pendant's old
    // node): nothing is opened, and whatever the link was doing ends.
    if (Connected || read_handle_ || write_handle_) LoseLink();
    probe_handle_.reset();
    return;
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
  read_handle_ = std::move(found.read);
  write_handle_ = bus_->Open(DevicePath, HidAccess::kWrite);
  if (!read_handle_) {
    // Connected without a way to read: the last report must not go on
    // driving the machine.
    StopLinkMotion();
    ClearStaleInputs();
  }
}

void DrovikWin::SearchWhileLost() {
  const int period = !bus_ ? 0 : !Connected ? kAbsentSearchTicks : !read_handle_ ? kReadLostSearchTicks : 0;
  if (period == 0) {
    search_countdown_ = 0;
    return;
  }
  if (search_countdown_ <= 0 || search_countdown_ > period) search_countdown_ = period;
  if (--search_countdown_ == 0) Reconnect();
}

bool DrovikWin::HandleDeviceChange(int event_type, std::string_view path) {
  if (tick_depth_ > 0) {
    deferred_notices_.push_back({event_type, std::string(path)});
    return true;
  }
  if (event_type == kDeviceArrival) {
    // The notice does not say reliably which interface arrived, so every
    // arrival looks for the pendant anew unless it still answers where it was.
    Reconnect();
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
