#include "platform/linux/poll_window.h"

#include "common/guarded.h"

namespace k2t::linux_platform {

HostLoopWindow* HostLoopWindow::live_ = nullptr;

HostLoopWindow::~HostLoopWindow() {
  if (live_ == this) live_ = nullptr;
  if (loop_ && timer_id_ && loop_->remove_timer) loop_->remove_timer(loop_->context, timer_id_);
  timer_id_ = 0;
  if (bus_) bus_->Unsubscribe();
}

void HostLoopWindow::StartTimer(unsigned id, unsigned period_ms) {
  if (!loop_ || !loop_->add_timer || timer_id_ != 0) return;
  window_timer_ = id;
  timer_id_ = loop_->add_timer(loop_->context, period_ms, &HostLoopWindow::OnTimer, this);
}

void HostLoopWindow::RegisterDeviceNotices() {
  if (!loop_ || !bus_) return;
  bus_->Subscribe(loop_, [this](int event, const char* path) {
    window_.HandleDeviceChange(event, path);
  });
}

void HostLoopWindow::OnTimer(void* arg) {
  auto* self = static_cast<HostLoopWindow*>(arg);
  self->host_ticked_ = true;
  Guarded([self] { self->window_.OnPollTick(self->window_timer_); });
}

void HostLoopWindow::PollWhileHostWaits() {
  HostLoopWindow* self = live_;
  if (!self || self->timer_id_ == 0) return;  // no timer: the window does not poll
  if (self->host_ticked_) {
    self->host_ticked_ = false;
    return;
  }
  self->window_.OnPollTick(self->window_timer_);
}

}  // namespace k2t::linux_platform
