#include "platform/linux/sim_hid_bus.h"

#include <cstring>

namespace k2t::linux_platform {

namespace {

class SimHidDevice final : public HidDevice {
 public:
  SimHidDevice(const K2tSimHidBus& bus, int handle) : bus_(bus), handle_(handle) {}
  ~SimHidDevice() override {
    if (bus_.close) bus_.close(bus_.context, handle_);
  }

  ReadStart StartRead() override {
    if (have_report_) return ReadStart::kCompleted;
    return Read(0) ? ReadStart::kCompleted : (gone_ ? ReadStart::kFailed : ReadStart::kPending);
  }
  bool WaitRead(unsigned timeout_ms) override {
    return have_report_ || Read(static_cast<int>(timeout_ms));
  }
  void TakeReport(InputReport& report) override {
    std::memcpy(report, buffer_, sizeof report);
    have_report_ = false;
  }
  void Write(const std::uint8_t* data, std::size_t size) override {
    if (bus_.write) bus_.write(bus_.context, handle_, data, static_cast<int>(size));
  }

 private:
  bool Read(int timeout_ms) {
    if (!bus_.read) return false;
    unsigned char buf[64];
    const int n = bus_.read(bus_.context, handle_, buf, sizeof buf, timeout_ms);
    if (n < 0) gone_ = true;
    if (n <= 0) return false;
    // A short report leaves the rest zero; a longer one is cut to 8 bytes.
    std::memset(buffer_, 0, sizeof buffer_);
    std::memcpy(buffer_, buf, static_cast<std::size_t>(n) < sizeof buffer_ ? static_cast<std::size_t>(n) : sizeof buffer_);
    have_report_ = true;
    return true;
  }

  const K2tSimHidBus& bus_;
  int handle_;
  InputReport buffer_{};
  bool have_report_ = false;
  bool gone_ = false;
};

}  // namespace

SimHidBus::~SimHidBus() { Unsubscribe(); }

std::vector<HidInterface> SimHidBus::Enumerate() {
  std::vector<HidInterface> result;
  if (!bus_.enumerate) return result;
  std::vector<K2tSimHidDevice> devices(16);
  int count = bus_.enumerate(bus_.context, devices.data(), static_cast<int>(devices.size()));
  if (count > static_cast<int>(devices.size())) {
    devices.resize(static_cast<std::size_t>(count));
    count = bus_.enumerate(bus_.context, devices.data(), count);
  }
  if (count < 0) count = 0;
  for (int i = 0; i < count && i < static_cast<int>(devices.size()); ++i) {
    const K2tSimHidDevice& d = devices[static_cast<std::size_t>(i)];
    result.push_back({std::string(d.path, strnlen(d.path, sizeof d.path)), d.vendor_id, d.product_id});
  }
  return result;
}

std::unique_ptr<HidDevice> SimHidBus::Open(const std::string& path, HidAccess access) {
  if (!bus_.open) return nullptr;
  const int mode = access == HidAccess::kAttributes ? K2T_SIM_ACCESS_ATTRIBUTES
                   : access == HidAccess::kRead     ? K2T_SIM_ACCESS_READ
                                                    : K2T_SIM_ACCESS_WRITE;
  const int handle = bus_.open(bus_.context, path.c_str(), mode);
  if (handle < 0) return nullptr;
  return std::make_unique<SimHidDevice>(bus_, handle);
}

void SimHidBus::Subscribe(const K2tHostLoop* /*loop*/, NoticeSink sink) {
  sink_ = std::move(sink);
  if (subscribed_ || !bus_.subscribe) return;
  bus_.subscribe(bus_.context, &SimHidBus::OnNotice, this);
  subscribed_ = true;
}

void SimHidBus::Unsubscribe() {
  if (!subscribed_) return;
  bus_.subscribe(bus_.context, nullptr, nullptr);
  subscribed_ = false;
}

void SimHidBus::OnNotice(void* arg, int event, const char* path) {
  auto* self = static_cast<SimHidBus*>(arg);
  if (self->sink_) self->sink_(event, path ? path : "");
}

}  // namespace k2t::linux_platform
