#include "platform/linux/hid_bus.h"

#include <fcntl.h>
#include <libudev.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/guarded.h"
#include "platform/linux/hidraw_framing.h"

namespace k2t::linux_platform {

namespace {

class HidrawDevice final : public HidDevice {
 public:
  explicit HidrawDevice(int fd) : fd_(fd) {}
  ~HidrawDevice() override {
    if (fd_ >= 0) ::close(fd_);
  }

  ReadStart StartRead() override {
    if (have_report_ || ReadNow()) return ReadStart::kCompleted;
    return failed_ ? ReadStart::kFailed : ReadStart::kPending;
  }
  void TakeReport(InputReport& report) override {
    std::memcpy(report, report_, sizeof report);
    have_report_ = false;
  }
  void Write(const std::uint8_t* data, std::size_t size) override {
    // The report starts with its id (0), as hidraw expects for a device
    // without numbered reports.
    [[maybe_unused]] ssize_t n = ::write(fd_, data, size);
  }

 private:
  bool ReadNow() {
    std::uint8_t buf[64];
    const ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) failed_ = true;
      return false;
    }
    FrameInputReport(buf, static_cast<std::size_t>(n), report_);
    have_report_ = true;
    return true;
  }

  int fd_;
  InputReport report_{};
  bool have_report_ = false;
  bool failed_ = false;
};

// The attribute probe: the ids came from udev, so the probe holds nothing
// but says the node's attributes were readable.
class AttributeProbe final : public HidDevice {
 public:
  ReadStart StartRead() override { return ReadStart::kFailed; }
  void TakeReport(InputReport&) override {}
  void Write(const std::uint8_t*, std::size_t) override {}
};

}  // namespace

HidrawBus::HidrawBus() : udev_(udev_new()) {}

HidrawBus::~HidrawBus() {
  Unsubscribe();
  if (udev_) udev_unref(udev_);
}

std::vector<HidrawBus::Node> HidrawBus::Nodes() {
  std::vector<Node> nodes;
  if (!udev_) return nodes;
  udev_enumerate* e = udev_enumerate_new(udev_);
  if (!e) return nodes;
  udev_enumerate_add_match_subsystem(e, "hidraw");
  udev_enumerate_scan_devices(e);
  udev_list_entry* entry;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e)) {
    udev_device* dev = udev_device_new_from_syspath(udev_, udev_list_entry_get_name(entry));
    if (!dev) continue;
    Node node;
    if (const char* devnode = udev_device_get_devnode(dev)) node.path = devnode;
    udev_device* hid = udev_device_get_parent_with_subsystem_devtype(dev, "hid", nullptr);
    const char* hid_id = hid ? udev_device_get_property_value(hid, "HID_ID") : nullptr;
    if (hid_id) node.ids_known = ParseHidId(hid_id, node.vendor_id, node.product_id);
    if (!node.path.empty()) nodes.push_back(std::move(node));
    udev_device_unref(dev);
  }
  udev_enumerate_unref(e);
  return nodes;
}

std::vector<HidInterface> HidrawBus::Enumerate() {
  last_nodes_ = Nodes();
  std::vector<HidInterface> result;
  for (const Node& n : last_nodes_) result.push_back({n.path, n.vendor_id, n.product_id});
  return result;
}

std::unique_ptr<HidDevice> HidrawBus::Open(const std::string& path, HidAccess access) {
  if (access == HidAccess::kAttributes) {
    for (const Node& n : last_nodes_)
      if (n.path == path && n.ids_known) return std::make_unique<AttributeProbe>();
    return nullptr;
  }
  const int flags = access == HidAccess::kRead ? (O_RDONLY | O_NONBLOCK | O_CLOEXEC) : (O_WRONLY | O_CLOEXEC);
  const int fd = ::open(path.c_str(), flags);
  if (fd < 0) return nullptr;
  return std::make_unique<HidrawDevice>(fd);
}

void HidrawBus::Subscribe(const K2tHostLoop* loop, NoticeSink sink) {
  sink_ = std::move(sink);
  if (monitor_ || !udev_ || !loop || !loop->add_reader) return;
  monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
  if (!monitor_) return;
  udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr);
  if (udev_monitor_enable_receiving(monitor_) < 0) {
    udev_monitor_unref(monitor_);
    monitor_ = nullptr;
    return;
  }
  loop_ = loop;
  reader_id_ = loop->add_reader(loop->context, udev_monitor_get_fd(monitor_),
                                &HidrawBus::OnMonitorReadable, this);
}

void HidrawBus::Unsubscribe() {
  if (loop_ && reader_id_ && loop_->remove_reader) loop_->remove_reader(loop_->context, reader_id_);
  reader_id_ = 0;
  loop_ = nullptr;
  if (monitor_) udev_monitor_unref(monitor_);
  monitor_ = nullptr;
}

void HidrawBus::OnMonitorReadable(void* arg) {
  auto* self = static_cast<HidrawBus*>(arg);
  if (!self->monitor_) return;
  udev_device* dev = udev_monitor_receive_device(self->monitor_);
  if (!dev) return;
  const char* action = udev_device_get_action(dev);
  const char* devnode = udev_device_get_devnode(dev);
  int event = 0;
  if (action && std::strcmp(action, "add") == 0) event = 0x8000;
  else if (action && std::strcmp(action, "remove") == 0) event = 0x8004;
  if (event && devnode && self->sink_) Guarded([&] { self->sink_(event, devnode); });
  udev_device_unref(dev);
}

}  // namespace k2t::linux_platform
