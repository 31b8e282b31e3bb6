// The core's platform port on Windows.
#pragma once

#include "plugin/platform.h"

namespace k2t::windows_platform {

class WindowsPlatform final : public Platform {
 public:
  WindowPorts CreateWindowPorts(DrovikWin& window, void* host_window) override;
  std::unique_ptr<XmlDocument> CreateXmlDocument() override;
  std::string ModuleFileName() override;
  void RunConfigDialog(PendantSettings& settings) override;
  void ShowMessage(std::string_view message) override;
  MessageLineWriter HostMessageLine() override;
};

}  // namespace k2t::windows_platform
