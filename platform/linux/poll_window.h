// The hidden window's timer and notices on Linux: a timer on the host's
// K2tHostLoop and the bus' notices, both delivered to the DrovikWin.
#pragma once

#include "k2t/host_loop.h"
#include "link/drovik_win.h"
#include "platform/linux/notice_bus.h"

namespace k2t::linux_platform {

class HostLoopWindow final : public WindowServices {
 public:
  // loop may be null: then there is no timer and there are no notices.
  HostLoopWindow(DrovikWin& window, const K2tHostLoop* loop, NoticeBus* bus)
      : window_(window), loop_(loop), bus_(bus) {
    live_ = this;
  }
  ~HostLoopWindow() override;

  void StartTimer(unsigned id, unsigned period_ms) override;
  void RegisterDeviceNotices() override;
  void ForgetHost() override { loop_ = nullptr; }

  // One poll tick of the live window, for a modal loop of the module's own
  // (the configuration dialog) during which the host's loop cannot run. A
  // host whose timers still fire there (one sharing that loop) keeps its
  // ticks: this one is skipped when the host's timer fired since the last.
  static void PollWhileHostWaits();

 private:
  static void OnTimer(void* arg);
  static HostLoopWindow* live_;
  bool host_ticked_ = false;

  DrovikWin& window_;
  const K2tHostLoop* loop_;
  NoticeBus* bus_;
  unsigned timer_id_ = 0;
  unsigned window_timer_ = 0;
};

}  // namespace k2t::linux_platform
