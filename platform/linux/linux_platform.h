// The core's platform port on Linux.
#pragma once

#include <functional>

#include "plugin/platform.h"

namespace k2t::linux_platform {

class LinuxPlatform final : public Platform {
 public:
  // Shows the configuration dialog over the settings; false when none could
  // be shown. Without one, Config behaves as a cancelled dialog.
  using DialogRunner = bool (*)(PendantSettings& settings, const std::function<void()>& every_poll_period);

  explicit LinuxPlatform(DialogRunner dialog = nullptr) : dialog_(dialog) {}

  WindowPorts CreateWindowPorts(DrovikWin& window, void* host_window) override;
  std::unique_ptr<XmlDocument> CreateXmlDocument() override;
  std::string ModuleFileName() override;
  void RunConfigDialog(PendantSettings& settings) override;

 private:
  DialogRunner dialog_;
};

// The last part of a path; on Linux only '/' separates folders, so a
// backslash belongs to the name.
std::string_view FileNameOf(std::string_view path);

}  // namespace k2t::linux_platform
