// The hidden window's timer and notices on Linux: a timer on the host's
// K2tHostLoop and the bus' notices, both delivered to the DrovikWin.
#pragma once

#include "k2t/host_loop.h"
#include "link/drovik_win.h"
#include "platform/linux/notice_source.h"

namespace k2t::linux_platform {

class HostLoopWindow final : public WindowServices {
 public:
  // loop may be null: then there is no timer and there are no notices.
  HostLoopWindow(DrovikWin& window, const K2tHostLoop* loop, NoticeBus* bus)
      : window_(window), loop_(loop), bus_(bus) {}
  ~HostLoopWindow() override;

  void StartTimer(unsigned id, unsigned period_ms) override;
  void RegisterDeviceNotices() override;

 private:
  static void OnTimer(void* arg);

  DrovikWin& window_;
  const K2tHostLoop* loop_;
  NoticeBus* bus_;
  unsigned timer_id_ = 0;
  unsigned window_timer_ = 0;
};

}  // namespace k2t::linux_platform
