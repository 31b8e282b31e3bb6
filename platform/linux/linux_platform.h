// The core's platform port on Linux.
#pragma once

#include "plugin/platform.h"

namespace k2t::linux_platform {

class LinuxPlatform final : public Platform {
 public:
  WindowPorts CreateWindowPorts(DrovikWin& window, void* host_window) override;
  std::unique_ptr<XmlDocument> CreateXmlDocument() override;
  std::string ModuleFilePath() override;
  void RunConfigDialog(PendantSettings& settings) override;
};

}  // namespace k2t::linux_platform
