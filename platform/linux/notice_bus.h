// A Linux HID bus that can also deliver arrival and removal notices.
#pragma once

#include <functional>

#include "k2t/host_loop.h"
#include "link/hid.h"

namespace k2t::linux_platform {

using NoticeSink = std::function<void(int event, const char* path)>;

class NoticeBus : public HidBus {
 public:
  // Starts delivering notices to sink on the host's GUI thread; loop may be
  // used to watch a file descriptor. Idempotent.
  virtual void Subscribe(const K2tHostLoop* loop, NoticeSink sink) = 0;
  virtual void Unsubscribe() = 0;
};

}  // namespace k2t::linux_platform
