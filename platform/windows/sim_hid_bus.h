// The HID bus a host executable offers through K2tSimHidBus: an integration
// test's, or a bench's. Same structure and meaning as on Linux; its notices
// come through the bus' subscribe.
#pragma once

#include <functional>
#include <memory>

#include "k2t/sim_hid.h"
#include "link/hid.h"

namespace k2t::windows {

class SimHidBus final : public HidBus {
 public:
  using NoticeSink = std::function<void(int event, const char* path)>;

  explicit SimHidBus(const K2tSimHidBus& bus) : bus_(std::make_shared<const K2tSimHidBus*>(&bus)) {}
  ~SimHidBus() override;

  std::vector<HidInterface> Enumerate() override;
  std::unique_ptr<HidDevice> Open(const std::string& path, HidAccess access) override;
  bool SamePath(std::string_view a, std::string_view b) const override;
  void ForgetHost() override { *bus_ = nullptr; }

  // Notices go to sink from now on (idempotent); Unsubscribe ends them.
  void Subscribe(NoticeSink sink);
  void Unsubscribe();

 private:
  static void OnNotice(void* arg, int event, const char* path);

  // The host's bus, shared with the open devices; null once the host is
  // gone, so that neither the bus nor a device calls into it again.
  std::shared_ptr<const K2tSimHidBus*> bus_;
  NoticeSink sink_;
  bool subscribed_ = false;
};

// The bus the host executable exports, or null (none, or it returned null).
const K2tSimHidBus* HostSimulatedBus();

}  // namespace k2t::windows
