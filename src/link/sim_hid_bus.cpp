#include "link/sim_hid_bus.h"

#include <cstring>

#include "common/guarded.h"

namespace k2t {

namespace {

using HostBus = std::shared_ptr<const K2tSimHidBus*>;

class SimHidDevice final : public HidDevice {
 public:
  SimHidDevice(HostBus bus, int handle) : bus_(std::move(bus)), handle_(handle) {}
  ~SimHidDevice() override {
    if (const K2tSimHidBus* b = *bus_; b && b->close) b->close(b->context, handle_);
  }

  // Always timeout 0: take what is waiting, never wait for what is not.
  ReadStart StartRead() override {
    if (have_report_) return ReadStart::kCompleted;
    return Read() ? ReadStart::kCompleted : (gone_ ? ReadStart::kFailed : ReadStart::kPending);
  }
  void TakeReport(InputReport& report) override {
    std::memcpy(report, buffer_, sizeof report);
    have_report_ = false;
  }
  void Write(const std::uint8_t* data, std::size_t size) override {
    if (const K2tSimHidBus* b = *bus_; b && b->write) b->write(b->context, handle_, data, static_cast<int>(size));
  }

 private:
  bool Read() {
    const K2tSimHidBus* b = *bus_;
    if (!b || !b->read) return false;
    unsigned char buf[64];
    const int n = b->read(b->context, handle_, buf, sizeof buf, 0);
    if (n < 0) gone_ = true;
    if (n <= 0) return false;
    // A short report leaves the rest zero; a longer one is cut to 8 bytes.
    std::memset(buffer_, 0, sizeof buffer_);
    std::memcpy(buffer_, buf, static_cast<std::size_t>(n) < sizeof buffer_ ? static_cast<std::size_t>(n) : sizeof buffer_);
    have_report_ = true;
    return true;
  }

  HostBus bus_;
  int handle_;
  InputReport buffer_{};
  bool have_report_ = false;
  bool gone_ = false;
};

}  // namespace

SimHidBus::~SimHidBus() { Unsubscribe(); }

std::vector<HidInterface> SimHidBus::Enumerate() {
  std::vector<HidInterface> result;
  const K2tSimHidBus* b = *bus_;
  if (!b || !b->enumerate) return result;
  std::vector<K2tSimHidDevice> devices(16);
  int count = b->enumerate(b->context, devices.data(), static_cast<int>(devices.size()));
  // A count beyond any real bus is not believed: the first 16 are taken.
  if (count > static_cast<int>(devices.size()) && count <= 4096) {
    devices.resize(static_cast<std::size_t>(count));
    count = b->enumerate(b->context, devices.data(), count);
  }
  if (count < 0) count = 0;
  for (int i = 0; i < count && i < static_cast<int>(devices.size()); ++i) {
    const K2tSimHidDevice& d = devices[static_cast<std::size_t>(i)];
    result.push_back({std::string(d.path, strnlen(d.path, sizeof d.path)), d.vendor_id, d.product_id});
  }
  return result;
}

std::unique_ptr<HidDevice> SimHidBus::Open(const std::string& path, HidAccess access) {
  const K2tSimHidBus* b = *bus_;
  if (!b || !b->open) return nullptr;
  const int mode = access == HidAccess::kAttributes ? K2T_SIM_ACCESS_ATTRIBUTES
                   : access == HidAccess::kRead     ? K2T_SIM_ACCESS_READ
                                                    : K2T_SIM_ACCESS_WRITE;
  const int handle = b->open(b->context, path.c_str(), mode);
  if (handle < 0) return nullptr;
  return std::make_unique<SimHidDevice>(bus_, handle);
}

void SimHidBus::Subscribe(NoticeSink sink) {
  sink_ = std::move(sink);
  const K2tSimHidBus* b = *bus_;
  if (subscribed_ || !b || !b->subscribe) return;
  b->subscribe(b->context, &SimHidBus::OnNotice, this);
  subscribed_ = true;
}

void SimHidBus::Unsubscribe() {
  if (!subscribed_) return;
  if (const K2tSimHidBus* b = *bus_) b->subscribe(b->context, nullptr, nullptr);
  subscribed_ = false;
}

void SimHidBus::ForgetHost() {
  *bus_ = nullptr;
  subscribed_ = false;
}

void SimHidBus::OnNotice(void* arg, int event, const char* path) {
  auto* self = static_cast<SimHidBus*>(arg);
  if (self->sink_) Guarded([&] { self->sink_(event, path ? path : ""); });
}

}  // namespace k2t
