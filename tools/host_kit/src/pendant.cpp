#include "pendant.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <thread>

#include "sim_bus_export.h"

namespace host_kit {

namespace {

constexpr std::string_view kControlNames[kControls] = {"estop", "spindle", "start", "stop", "en", "x",
                                                       "y",     "z",       "f1",    "f2",   "f3"};

// Where each control sits in the input report: byte and bit.
struct Bit {
  int byte;
  int bit;
};
constexpr Bit kControlBits[kControls] = {{3, 0}, {3, 1}, {3, 2}, {3, 3}, {3, 4}, {3, 5},
                                         {3, 6}, {3, 7}, {4, 4}, {4, 5}, {4, 7}};

constexpr std::uint16_t kPendantVendor = 0x04D8, kPendantProduct = 0xFCE8;
constexpr std::uint16_t kOtherVendor = 0x046D, kOtherProduct = 0xC31C;
constexpr std::size_t kRateWindow = 5;  // reports the automatic rate looks back over
constexpr int kNudgeLinger = 3;

}  // namespace

std::string_view ControlName(Control control) { return kControlNames[static_cast<std::size_t>(control)]; }

bool ControlByName(std::string_view name, Control& control) {
  for (int i = 0; i < kControls; ++i) {
    if (kControlNames[i] == name) {
      control = static_cast<Control>(i);
      return true;
    }
  }
  return false;
}

VirtualPendant::VirtualPendant() {
  bus_.version = 1;
  bus_.context = this;
  bus_.enumerate = &Enumerate;
  bus_.open = &Open;
  bus_.close = &Close;
  bus_.read = &Read;
  bus_.write = &Write;
  bus_.subscribe = &Subscribe;
}

// The module must not find a bus that is gone.
VirtualPendant::~VirtualPendant() { WithdrawSimulatedBus(&bus_); }

// ---- controls -------------------------------------------------------------------

void VirtualPendant::Set(Control control, bool down) {
  const std::size_t i = Index(control);
  down_[i] = down;
  tap_left_[i] = 0;
  retap_[i] = 0;
}

void VirtualPendant::Tap(Control control, int reports) {
  const std::size_t i = Index(control);
  if (down_[i]) {
    down_[i] = false;
    tap_left_[i] = 0;
    retap_[i] = std::max(1, reports);
  } else {
    down_[i] = true;
    tap_left_[i] = std::max(1, reports);
    retap_[i] = 0;
  }
}

void VirtualPendant::SelectMode(int code, bool reselect) {
  if (reselect && code != 0 && code == mode_code_) {
    mode_code_ = 0;
    mode_pending_ = code;
  } else {
    mode_code_ = code;
    mode_pending_ = -1;
  }
}

void VirtualPendant::Turn(int steps, int reports, int rate) {
  turns_.push_back({steps, std::max(1, reports), rate});
}

void VirtualPendant::Nudge(int steps) {
  nudge_steps_ += steps;
  nudge_linger_ = kNudgeLinger;
}

// ---- reports ----------------------------------------------------------------------

void VirtualPendant::SetReportRate(double reports_per_second) {
  report_rate_ = std::max(0.0, reports_per_second);
  rate_carry_ = 0;
}

void VirtualPendant::PrepareReport() {
  for (std::size_t i = 0; i < kControls; ++i) {
    if (retap_[i] > 0 && !down_[i]) {
      down_[i] = true;
      tap_left_[i] = retap_[i];
      retap_[i] = 0;
    }
  }

  if (silent_) {
    // Untouched: nothing to report.
  } else if (report_rate_ <= 0) {
    MakeReport(0.025);
    for (auto& [id, h] : handles_) {
      if (!h.pendant || h.access != K2T_SIM_ACCESS_READ || !Live(h)) continue;
      h.reports.clear();  // a report not taken is superseded
      h.reports.push_back(report_);
    }
  } else {
    rate_carry_ += report_rate_ * 0.025;
    for (; rate_carry_ >= 1.0 - 1e-9; rate_carry_ -= 1.0) {
      MakeReport(1.0 / report_rate_);
      for (auto& [id, h] : handles_) {
        if (!h.pendant || h.access != K2T_SIM_ACCESS_READ || !Live(h)) continue;
        if (h.reports.size() < kQueueDepth) h.reports.push_back(report_);
        else ++dropped_;  // as hidraw: the newest is lost
      }
    }
  }

  if (nudge_linger_ > 0) --nudge_linger_;
  for (std::size_t i = 0; i < kControls; ++i)
    if (tap_left_[i] > 0 && --tap_left_[i] == 0) down_[i] = false;
  if (mode_pending_ >= 0) {
    mode_code_ = mode_pending_;
    mode_pending_ = -1;
  }
}

void VirtualPendant::MakeReport(double seconds) {
  int steps = 0;
  int rate = -1;  // -1: not turning; 0: the automatic rate
  if (!turns_.empty()) {
    Turning& t = turns_.front();
    // Front-loaded share, so a short turn's detents are not held back.
    const int share = t.steps - (t.steps * (t.reports - 1)) / t.reports;
    steps += share;
    t.steps -= share;
    rate = t.rate;
    if (--t.reports == 0) turns_.pop_front();
  }
  if (spin_ != 0.0) {
    spin_carry_ += spin_ * seconds;
    const double whole = std::trunc(spin_carry_ + (spin_carry_ > 0 ? 1e-9 : -1e-9));
    spin_carry_ -= whole;
    steps += static_cast<int>(whole);
    if (rate < 0) rate = 0;
  }
  if (nudge_linger_ > 0 || nudge_steps_ != 0) {
    steps += nudge_steps_;
    nudge_steps_ = 0;
    if (rate < 0) rate = 0;
  }
  steps = std::clamp(steps, -127, 127);  // more in one report would read as the other way
  counter_ = static_cast<std::uint8_t>(counter_ + steps);
  recent_steps_.push_back(std::abs(steps));
  if (recent_steps_.size() > kRateWindow) recent_steps_.pop_front();
  if (rate == 0) {
    const int recent = std::accumulate(recent_steps_.begin(), recent_steps_.end(), 0);
    rate = std::clamp(4 * recent, 1, 255);
  }

  report_ = {};
  report_[1] = counter_;
  report_[2] = static_cast<std::uint8_t>(std::max(rate, 0));
  for (std::size_t i = 0; i < kControls; ++i)
    if (down_[i])
      report_[static_cast<std::size_t>(kControlBits[i].byte)] |= static_cast<std::uint8_t>(1u << kControlBits[i].bit);
  report_[4] |= static_cast<std::uint8_t>(mode_code_ & 0x07);
}

std::string VirtualPendant::Display() const {
  return std::string(reinterpret_cast<const char*>(output_.data() + 2), 16);
}

// ---- plugging ------------------------------------------------------------------------

void VirtualPendant::Plug() {
  if (plugged_) return;
  plugged_ = true;
  if (notify_) notify_(notify_arg_, K2T_DEVICE_ARRIVAL, kPath);
}

void VirtualPendant::Unplug() {
  if (!plugged_) return;
  plugged_ = false;
  ++generation_;
  for (auto& [id, h] : handles_) h.reports.clear();
  if (notify_) notify_(notify_arg_, K2T_DEVICE_REMOVAL, kPath);
}

void VirtualPendant::PlugOther() {
  if (other_plugged_) return;
  other_plugged_ = true;
  if (notify_) notify_(notify_arg_, K2T_DEVICE_ARRIVAL, kOtherPath);
}

void VirtualPendant::UnplugOther() {
  if (!other_plugged_) return;
  other_plugged_ = false;
  if (notify_) notify_(notify_arg_, K2T_DEVICE_REMOVAL, kOtherPath);
}

bool VirtualPendant::open_for_reading() const {
  for (const auto& [id, h] : handles_)
    if (h.pendant && h.access == K2T_SIM_ACCESS_READ && Live(h)) return true;
  return false;
}

bool VirtualPendant::open_for_writing() const {
  for (const auto& [id, h] : handles_)
    if (h.pendant && h.access == K2T_SIM_ACCESS_WRITE && Live(h)) return true;
  return false;
}

// ---- the bus ---------------------------------------------------------------------------

VirtualPendant::Handle* VirtualPendant::Find(int handle) {
  const auto it = handles_.find(handle);
  return it == handles_.end() ? nullptr : &it->second;
}

int VirtualPendant::Enumerate(void* context, K2tSimHidDevice* out, int max) {
  auto* self = static_cast<VirtualPendant*>(context);
  K2tSimHidDevice devices[2]{};
  std::snprintf(devices[0].path, sizeof devices[0].path, "%s", kOtherPath);
  devices[0].vendor_id = kOtherVendor;
  devices[0].product_id = kOtherProduct;
  std::snprintf(devices[1].path, sizeof devices[1].path, "%s", kPath);
  devices[1].vendor_id = kPendantVendor;
  devices[1].product_id = kPendantProduct;
  int count = 0;
  for (int i = 0; i < 2; ++i) {
    if (i == 0 ? !self->other_plugged_ : !self->plugged_) continue;
    if (count < max && out) out[count] = devices[i];
    ++count;
  }
  return count;
}

int VirtualPendant::Open(void* context, const char* path, int access) {
  auto* self = static_cast<VirtualPendant*>(context);
  if (!path || access < K2T_SIM_ACCESS_ATTRIBUTES || access > K2T_SIM_ACCESS_WRITE) return -1;
  const bool pendant = std::strcmp(path, kPath) == 0;
  if (!pendant && std::strcmp(path, kOtherPath) != 0) return -1;
  if (pendant ? !self->plugged_ : !self->other_plugged_) return -1;
  const int id = self->next_handle_++;
  self->handles_[id] = Handle{access, pendant, self->generation_, {}};
  return id;
}

void VirtualPendant::Close(void* context, int handle) {
  static_cast<VirtualPendant*>(context)->handles_.erase(handle);
}

int VirtualPendant::Read(void* context, int handle, unsigned char* buf, int size, int timeout_ms) {
  // Reports come only at poll ticks, so waiting could bring nothing new.
  auto* self = static_cast<VirtualPendant*>(context);
  Handle* h = self->Find(handle);
  if (!h || !self->Live(*h) || h->access != K2T_SIM_ACCESS_READ) return -1;
  if (h->reports.empty() && timeout_ms > 0) {
    ++self->waiting_reads_;
    if (self->honour_timeouts_) std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
  }
  if (h->reports.empty() || !buf || size <= 0) return 0;
  const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(size), 8);
  std::memcpy(buf, h->reports.front().data(), n);
  h->reports.pop_front();
  return static_cast<int>(n);
}

int VirtualPendant::Write(void* context, int handle, const unsigned char* buf, int size) {
  auto* self = static_cast<VirtualPendant*>(context);
  Handle* h = self->Find(handle);
  if (!h || !self->Live(*h) || h->access != K2T_SIM_ACCESS_WRITE || !buf || size < 0) return -1;
  if (!h->pendant) return size;
  std::array<std::uint8_t, 21> report{};
  std::memcpy(report.data(), buf, std::min<std::size_t>(static_cast<std::size_t>(size), report.size()));
  const bool changed = !self->has_output_ || std::memcmp(report.data() + 2, self->output_.data() + 2, 16) != 0 ||
                       report[19] != self->output_[19];
  self->output_ = report;
  self->has_output_ = true;
  if (changed && self->on_display_change) self->on_display_change();
  return size;
}

void VirtualPendant::Subscribe(void* context, void (*notify)(void*, int, const char*), void* arg) {
  auto* self = static_cast<VirtualPendant*>(context);
  self->notify_ = notify;
  self->notify_arg_ = notify ? arg : nullptr;
  if (self->on_subscribe) self->on_subscribe(notify != nullptr);
}

}  // namespace host_kit
