// The configuration dialog on Linux, when the module is built with one.
#pragma once

#include <functional>
#include <string_view>

namespace k2t {
struct PendantSettings;
}

namespace k2t::linux_platform {

// Shows the dialog modally over `settings`, which change only when the user
// confirms with every value valid. False when no dialog could be shown (no
// toolkit in this build, or no display): the settings then stay as they are,
// as after a cancel. While the dialog is open, every_poll_period (if given)
// runs every 25 ms from the dialog's own event loop.
bool RunConfigDialogOnLinux(PendantSettings& settings,
                            const std::function<void()>& every_poll_period = {});

// Shows a warning message box with an OK button modally, where a display is
// reachable (the dialog's rules); false when none could be shown.
bool ShowMessageOnLinux(std::string_view message);

}  // namespace k2t::linux_platform
