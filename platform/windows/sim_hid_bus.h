// The HID bus a host executable offers through K2tSimHidBus: an integration
// test's, or a bench's. Same structure and meaning as on Linux; its notices
// come through the bus' subscribe.
#pragma once

#include <functional>
#include <memory>

#include "k2t/sim_hid.h"
#include "link/hid.h"

namespace k2t::windows {

// Cleared when the module is unloaded without StopPlug: the host's
// functions may be gone, so none is called any more.
using HostAlive = std::shared_ptr<bool>;

class SimHidBus final : public HidBus {
 public:
  using NoticeSink = std::function<void(int event, const char* path)>;

  SimHidBus(const K2tSimHidBus& bus, HostAlive alive) : bus_(bus), alive_(std::move(alive)) {}
  ~SimHidBus() override;

  std::vector<HidInterface> Enumerate() override;
  std::unique_ptr<HidDevice> Open(const std::string& path, HidAccess access) override;
  bool SamePath(std::string_view a, std::string_view b) const override;

  // Notices go to sink from now on (idempotent); Unsubscribe ends them.
  void Subscribe(NoticeSink sink);
  void Unsubscribe();

 private:
  static void OnNotice(void* arg, int event, const char* path);
  bool HostAlive() const { return alive_ && *alive_; }

  const K2tSimHidBus& bus_;
  ::k2t::windows::HostAlive alive_;
  NoticeSink sink_;
  bool subscribed_ = false;
};

// The bus the host executable exports, or null (none, or it returned null).
const K2tSimHidBus* HostSimulatedBus();

}  // namespace k2t::windows
