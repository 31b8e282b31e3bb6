#include "platform/windows/platform.h"

#include <windows.h>

#include <vector>

#include "platform/windows/ansi_text.h"
#include "platform/windows/dialog_view.h"
#include "platform/windows/hid_bus.h"
#include "platform/windows/host_string.h"
#include "platform/windows/poll_window.h"
#include "platform/windows/profile_document.h"
#include "platform/windows/sim_hid_bus.h"
#include "plugin/module.h"

namespace k2t::windows_platform {

// The fourth InitControl argument (the host's main-window object) is not
// used: a message-only window needs no parent.
WindowPorts WindowsPlatform::CreateWindowPorts(DrovikWin& window, void* /*host_window*/) {
  if (const K2tSimHidBus* sim = HostSimulatedBus()) {
    auto bus = std::make_unique<SimHidBus>(*sim);
    auto services = std::make_unique<HiddenWindow>(window, bus.get());
    return {std::move(bus), std::move(services)};
  }
  return {std::make_unique<SetupApiBus>(), std::make_unique<HiddenWindow>(window, nullptr)};
}

std::unique_ptr<XmlDocument> WindowsPlatform::CreateXmlDocument() { return MsxmlDocument::Create(); }

std::string WindowsPlatform::ModuleFileName() {
  HINSTANCE instance = HiddenWindow::Instance();
  if (!instance) return {};
  std::vector<wchar_t> path(MAX_PATH);
  for (int attempt = 0; attempt < 8; ++attempt) {
    const DWORD n = ::GetModuleFileNameW(instance, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      // On Windows both '\\' and '/' separate folders.
      const std::wstring_view full(path.data(), n);
      const std::size_t slash = full.find_last_of(L"\\/");
      return Narrow(slash == std::wstring_view::npos ? full : full.substr(slash + 1));
    }
    path.resize(path.size() * 2);
  }
  return {};
}

void WindowsPlatform::RunConfigDialog(PendantSettings& settings) { RunConfigDialogWin32(settings); }

// Titled with the module's name, as the dialog's own messages are.
void WindowsPlatform::ShowMessage(std::string_view message) {
  const std::string name = ModuleFileName();
  ::MessageBoxW(::GetActiveWindow(), Widen(message, Encoding::kUtf8).c_str(),
                Widen(ModuleBaseName(name)).c_str(), MB_OK | MB_ICONEXCLAMATION);
}

MessageLineWriter WindowsPlatform::HostMessageLine() { return &AssignFrameworkString; }

}  // namespace k2t::windows_platform
