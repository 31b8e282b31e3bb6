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

  // Shows a warning message modally; false when none could be shown.
  using MessageShower = bool (*)(std::string_view message);

  explicit LinuxPlatform(DialogRunner dialog = nullptr, MessageShower message = nullptr)
      : dialog_(dialog), message_(message) {}

  WindowPorts CreateWindowPorts(DrovikWin& window, void* host_window) override;
  std::unique_ptr<XmlDocument> CreateXmlDocument() override;
  std::string ModuleFileName() override;
  void RunConfigDialog(PendantSettings& settings) override;
  void ShowMessage(std::string_view message) override;

 private:
  DialogRunner dialog_;
  MessageShower message_;
};

// The last part of a path; on Linux only '/' separates folders, so a
// backslash belongs to the name.
std::string_view FileNameOf(std::string_view path);

}  // namespace k2t::linux_platform
