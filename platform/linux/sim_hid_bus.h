// The HID bus a host offers through K2tSimHidBus: the bench's virtual
// pendant, or an integration test's.
#pragma once

#include <memory>

#include "k2t/sim_hid.h"
#include "platform/linux/notice_source.h"

namespace k2t::linux_platform {

class SimHidBus final : public NoticeBus {
 public:
  explicit SimHidBus(const K2tSimHidBus& bus) : bus_(std::make_shared<const K2tSimHidBus*>(&bus)) {}
  ~SimHidBus() override;

  std::vector<HidInterface> Enumerate() override;
  std::unique_ptr<HidDevice> Open(const std::string& path, HidAccess access) override;
  void Subscribe(const K2tHostLoop* loop, NoticeSink sink) override;
  void Unsubscribe() override;
  void ForgetHost() override;

 private:
  static void OnNotice(void* arg, int event, const char* path);

  // The host's bus, shared with the open devices; null once the host is
  // gone, so that neither the bus nor a device calls into it again.
  std::shared_ptr<const K2tSimHidBus*> bus_;
  NoticeSink sink_;
  bool subscribed_ = false;
};

}  // namespace k2t::linux_platform
