// A build without a dialog toolkit: Config behaves as a cancelled dialog.
#include "platform/linux/config_dialog.h"

namespace k2t::linux_platform {

bool RunConfigDialogOnLinux(PendantSettings& /*settings*/, const std::function<void()>& /*every_poll_period*/) {
  return false;
}

bool ShowMessageOnLinux(std::string_view /*message*/) { return false; }

}  // namespace k2t::linux_platform
