#include "platform/linux/platform.h"

#include <dlfcn.h>

#include <cstring>

#include "k2t/host_loop.h"
#include "k2t/sim_hid.h"
#include "platform/linux/hid_bus.h"
#include "platform/linux/poll_window.h"
#include "platform/linux/profile_document.h"
#include "platform/linux/sim_hid_bus.h"

namespace k2t::linux_platform {

namespace {

// The bus a host executable offers, if any; null means the real bus.
K2tSimHidBus* HostSimulatedBus() {
  void* symbol = ::dlsym(RTLD_DEFAULT, K2T_SIM_HID_BUS_SYMBOL);
  if (!symbol) return nullptr;
  K2tSimHidBusFn fn = nullptr;
  static_assert(sizeof fn == sizeof symbol);
  std::memcpy(&fn, &symbol, sizeof fn);
  return fn();
}

}  // namespace

WindowPorts LinuxPlatform::CreateWindowPorts(DrovikWin& window, void* host_window) {
  std::unique_ptr<NoticeBus> bus;
  if (K2tSimHidBus* sim = HostSimulatedBus()) bus = std::make_unique<SimHidBus>(*sim);
  else bus = std::make_unique<HidrawBus>();
  NoticeBus* notices = bus.get();
  auto services = std::make_unique<HostLoopWindow>(window, static_cast<const K2tHostLoop*>(host_window), notices);
  return {std::move(bus), std::move(services)};
}

std::unique_ptr<XmlDocument> LinuxPlatform::CreateXmlDocument() {
  return std::make_unique<ProfileDocument>();
}

std::string_view FileNameOf(std::string_view path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string LinuxPlatform::ModuleFileName() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&HostSimulatedBus), &info) && info.dli_fname)
    return std::string(FileNameOf(info.dli_fname));
  return {};
}

void LinuxPlatform::RunConfigDialog(PendantSettings& settings) {
  if (dialog_) dialog_(settings, [] { HostLoopWindow::PollWhileHostWaits(); });
}

void LinuxPlatform::ShowMessage(std::string_view message) {
  if (message_) message_(message);
}

}  // namespace k2t::linux_platform
