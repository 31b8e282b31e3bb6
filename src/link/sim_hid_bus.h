// The HID bus a host offers through K2tSimHidBus (the bench's virtual
// pendant, a test host's): plain function pointers, so both platforms reach
// it through this one class and differ only in how they find it and how
// notices are wired to the host.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "k2t/sim_hid.h"
#include "link/hid.h"

namespace k2t {

class SimHidBus : public HidBus {
 public:
  using NoticeSink = std::function<void(int event, const char* path)>;

  explicit SimHidBus(const K2tSimHidBus& bus) : bus_(std::make_shared<const K2tSimHidBus*>(&bus)) {}
  ~SimHidBus() override;

  std::vector<HidInterface> Enumerate() override;
  std::unique_ptr<HidDevice> Open(const std::string& path, HidAccess access) override;
  void ForgetHost() override;

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

}  // namespace k2t
