// The core's platform port on Windows.
#pragma once

#include <functional>

#include "plugin/platform.h"

namespace k2t::windows {

class WindowsPlatform final : public Platform {
 public:
  // Shows the configuration dialog modally over the settings; none means
  // Config behaves as a cancelled dialog.
  using DialogRunner = std::function<void(PendantSettings& settings)>;

  explicit WindowsPlatform(DialogRunner dialog = nullptr) : dialog_(std::move(dialog)) {}

  WindowPorts CreateWindowPorts(DrovikWin& window, void* host_window) override;
  std::unique_ptr<XmlDocument> CreateXmlDocument() override;
  std::string ModuleFilePath() override;
  void RunConfigDialog(PendantSettings& settings) override;
  MessageLineWriter HostMessageLine() override;

 private:
  DialogRunner dialog_;
};

}  // namespace k2t::windows
