// The host's simulated HID bus as a Linux notice bus: its notices come
// through the bus' own subscribe, not the host's loop.
#pragma once

#include "link/sim_hid_bus.h"
#include "platform/linux/notice_bus.h"

namespace k2t::linux_platform {

class SimHidBus final : public NoticeBus {
 public:
  explicit SimHidBus(const K2tSimHidBus& bus) : bus_(bus) {}

  std::vector<HidInterface> Enumerate() override { return bus_.Enumerate(); }
  std::unique_ptr<HidDevice> Open(const std::string& path, HidAccess access) override {
    return bus_.Open(path, access);
  }
  void Subscribe(const K2tHostLoop* /*loop*/, NoticeSink sink) override { bus_.Subscribe(std::move(sink)); }
  void Unsubscribe() override { bus_.Unsubscribe(); }
  void ForgetHost() override { bus_.ForgetHost(); }

 private:
  k2t::SimHidBus bus_;
};

}  // namespace k2t::linux_platform
