// The real HID bus on Linux: hidraw device nodes found through libudev, and
// a udev monitor for arrival and removal.
#pragma once

#include "platform/linux/notice_bus.h"

struct udev;
struct udev_monitor;

namespace k2t::linux_platform {

class HidrawBus final : public NoticeBus {
 public:
  HidrawBus();
  ~HidrawBus() override;

  std::vector<HidInterface> Enumerate() override;
  std::unique_ptr<HidDevice> Open(const std::string& path, HidAccess access) override;
  void Subscribe(const K2tHostLoop* loop, NoticeSink sink) override;
  void Unsubscribe() override;
  // The udev monitor is the module's own and is still released.
  void ForgetHost() override {
    loop_ = nullptr;
    reader_id_ = 0;
  }

  // The path and ids of every hidraw node; the ids are known only for nodes
  // whose parent HID device gives a HID_ID.
  struct Node {
    std::string path;
    bool ids_known = false;
    std::uint16_t vendor_id = 0, product_id = 0;
  };
  std::vector<Node> Nodes();

 private:
  static void OnMonitorReadable(void* arg);

  struct udev* udev_ = nullptr;
  struct udev_monitor* monitor_ = nullptr;
  const K2tHostLoop* loop_ = nullptr;
  unsigned reader_id_ = 0;
  NoticeSink sink_;
  std::vector<Node> last_nodes_;
};

}  // namespace k2t::linux_platform
