#include "platform/windows/sim_hid_bus.h"

#include <windows.h>

#include <cstring>

#include "platform/windows/ansi_text.h"

namespace k2t::windows {

namespace {

class SimHidDevice final : public HidDevice {
 public:
  SimHidDevice(const K2tSimHidBus& bus, int handle, HostAlive alive)
      : bus_(bus), handle_(handle), alive_(std::move(alive)) {}
  ~SimHidDevice() override {
    if (*alive_ && bus_.close) bus_.close(bus_.context, handle_);
  }

  ReadStart StartRead() override {
    if (have_report_) return ReadStart::kCompleted;
    return Read(0) ? ReadStart::kCompleted : (gone_ ? ReadStart::kFailed : ReadStart::kPending);
  }
  bool WaitRead(unsigned timeout_ms) override { return have_report_ || Read(static_cast<int>(timeout_ms)); }
  void TakeReport(InputReport& report) override {
    std::memcpy(report, buffer_, sizeof report);
    have_report_ = false;
  }
  void Write(const std::uint8_t* data, std::size_t size) override {
    if (*alive_ && bus_.write) bus_.write(bus_.context, handle_, data, static_cast<int>(size));
  }

 private:
  bool Read(int timeout_ms) {
    if (!*alive_ || !bus_.read) return false;
    unsigned char buf[64];
    const int n = bus_.read(bus_.context, handle_, buf, sizeof buf, timeout_ms);
    if (n < 0) gone_ = true;
    if (n <= 0) return false;
    // A short report leaves the rest zero; a longer one is cut to 8 bytes.
    const std::size_t length = static_cast<std::size_t>(n) < sizeof buffer_ ? static_cast<std::size_t>(n) : sizeof buffer_;
    std::memset(buffer_, 0, sizeof buffer_);
    std::memcpy(buffer_, buf, length);
    have_report_ = true;
    return true;
  }

  const K2tSimHidBus& bus_;
  int handle_;
  HostAlive alive_;
  InputReport buffer_{};
  bool have_report_ = false;
  bool gone_ = false;
};

}  // namespace

SimHidBus::~SimHidBus() { Unsubscribe(); }

std::vector<HidInterface> SimHidBus::Enumerate() {
  std::vector<HidInterface> result;
  if (!HostAlive() || !bus_.enumerate) return result;
  std::vector<K2tSimHidDevice> devices(16);
  int count = bus_.enumerate(bus_.context, devices.data(), static_cast<int>(devices.size()));
  if (count > static_cast<int>(devices.size()) && count <= 4096) {
    devices.resize(static_cast<std::size_t>(count));
    count = bus_.enumerate(bus_.context, devices.data(), count);
  }
  for (int i = 0; i < count && i < static_cast<int>(devices.size()); ++i) {
    const K2tSimHidDevice& d = devices[static_cast<std::size_t>(i)];
    result.push_back({std::string(d.path, strnlen(d.path, sizeof d.path)), d.vendor_id, d.product_id});
  }
  return result;
}

std::unique_ptr<HidDevice> SimHidBus::Open(const std::string& path, HidAccess access) {
  if (!HostAlive() || !bus_.open) return nullptr;
  const int mode = access == HidAccess::kAttributes ? K2T_SIM_ACCESS_ATTRIBUTES
                   : access == HidAccess::kRead     ? K2T_SIM_ACCESS_READ
                                                    : K2T_SIM_ACCESS_WRITE;
  const int handle = bus_.open(bus_.context, path.c_str(), mode);
  if (handle < 0) return nullptr;
  return std::make_unique<SimHidDevice>(bus_, handle, alive_);
}

bool SimHidBus::SamePath(std::string_view a, std::string_view b) const { return EqualsIgnoreCaseAnsi(a, b); }

void SimHidBus::Subscribe(NoticeSink sink) {
  sink_ = std::move(sink);
  if (subscribed_ || !HostAlive() || !bus_.subscribe) return;
  bus_.subscribe(bus_.context, &SimHidBus::OnNotice, this);
  subscribed_ = true;
}

void SimHidBus::Unsubscribe() {
  if (!subscribed_) return;
  subscribed_ = false;
  if (HostAlive()) bus_.subscribe(bus_.context, nullptr, nullptr);
}

void SimHidBus::OnNotice(void* arg, int event, const char* path) {
  auto* self = static_cast<SimHidBus*>(arg);
  if (self->sink_) self->sink_(event, path ? path : "");
}

const K2tSimHidBus* HostSimulatedBus() {
  HMODULE host = ::GetModuleHandleW(nullptr);
  if (!host) return nullptr;
  FARPROC symbol = ::GetProcAddress(host, K2T_SIM_HID_BUS_SYMBOL);
  if (!symbol) return nullptr;
  K2tSimHidBusFn fn = nullptr;
  static_assert(sizeof fn == sizeof symbol);
  std::memcpy(&fn, &symbol, sizeof fn);
  return fn();
}

}  // namespace k2t::windows
