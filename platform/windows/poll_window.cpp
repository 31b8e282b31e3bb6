#include "platform/windows/poll_window.h"

#include <dbt.h>

#include <cstddef>
#include <cstring>
#include <string>

// HidD_GetHidGuid; the HID library's headers declare no C linkage.
extern "C" {
#include <hidsdi.h>
}

#include "platform/windows/ansi_text.h"

namespace k2t::windows_platform {

namespace {

bool RegisterWindowClass(HINSTANCE instance, WNDPROC proc) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (::GetClassInfoExW(instance, kWindowClass, &existing)) {
    if (existing.lpfnWndProc == proc) return true;
    // Left by an earlier load of this module at the same address.
    ::UnregisterClassW(kWindowClass, instance);
  }
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.lpszClassName = kWindowClass;
  return ::RegisterClassExW(&wc) != 0;
}

// Size and device type of a notice's header, and the interface path of a
// device-interface notice, read within the size the notice gives.
struct Notice {
  DWORD type = 0;
  std::wstring name;
};

bool ReadNotice(LPARAM data, Notice& notice) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(data);
  if (!bytes) return false;
  DWORD size = 0;
  std::memcpy(&size, bytes, sizeof size);
  if (size < sizeof(DEV_BROADCAST_HDR) || size > 65536) return false;
  std::memcpy(&notice.type, bytes + offsetof(DEV_BROADCAST_HDR, dbch_devicetype), sizeof notice.type);
  if (notice.type != DBT_DEVTYP_DEVICEINTERFACE) return true;
  constexpr std::size_t kName = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  if (size <= kName) return true;
  const std::size_t max_chars = (size - kName) / sizeof(wchar_t);
  for (std::size_t i = 0; i < max_chars; ++i) {
    wchar_t c;
    std::memcpy(&c, bytes + kName + i * sizeof c, sizeof c);
    if (c == L'\0') break;
    notice.name.push_back(c);
  }
  return true;
}

}  // namespace

HINSTANCE HiddenWindow::Instance() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&HiddenWindow::WindowProc), &module);
  return module;
}

void HiddenWindow::UnregisterClass() { ::UnregisterClassW(kWindowClass, Instance()); }

HiddenWindow::HiddenWindow(DrovikWin& window, SimHidBus* sim_bus) : window_(window), sim_bus_(sim_bus) {
  HINSTANCE instance = Instance();
  if (!instance || !RegisterWindowClass(instance, &HiddenWindow::WindowProc)) return;
  // A failed creation is not reported: the module then runs without
  // timer and notices, as a host without a window would leave it.
  hwnd_ = ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr, instance, this);
}

HiddenWindow::~HiddenWindow() {
  if (sim_bus_) sim_bus_->Unsubscribe();
  if (notices_ && !unloading_) ::UnregisterDeviceNotification(notices_);
  notices_ = nullptr;
  if (!hwnd_) return;
  // Under the loader lock (unloading) these two User32 calls are the ones
  // kept: without them a timer tick or a message would run code that is
  // about to be unmapped, and the host would crash.
  if (timer_) ::KillTimer(hwnd_, timer_);
  // From here on nothing reaches this object, even if the window outlives it.
  ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
  if (!::DestroyWindow(hwnd_)) {
    // Another thread's window (the module unloaded from elsewhere): it must
    // not call into this module's code once that is gone.
    ::SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&::DefWindowProcW));
  }
  hwnd_ = nullptr;
}

void HiddenWindow::StartTimer(unsigned id, unsigned period_ms) {
  if (!hwnd_ || timer_) return;
  timer_ = ::SetTimer(hwnd_, id, period_ms, nullptr);
}

void HiddenWindow::RegisterDeviceNotices() {
  if (sim_bus_) {
    sim_bus_->Subscribe([this](int event, const char* path) { window_.HandleDeviceChange(event, path); });
    return;
  }
  if (!hwnd_ || notices_) return;
  DEV_BROADCAST_DEVICEINTERFACE_W filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  ::HidD_GetHidGuid(&filter.dbcc_classguid);
  notices_ = ::RegisterDeviceNotificationW(hwnd_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

void HiddenWindow::OnTimer(WPARAM id) {
  // A host callback that pumps messages delivers a tick inside a tick: the
  // core decides what such a tick may do (the E-stop must still be heard).
  if (id != kPollTimerId) return;
  window_.OnPollTick(static_cast<unsigned>(id));
}

void HiddenWindow::OnDeviceChange(WPARAM event, LPARAM data) {
  if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return;
  Notice notice;
  if (!ReadNotice(data, notice)) return;
  // Only a device-interface notice names a path; others can never be the
  // pendant's removal.
  const std::string path = notice.type == DBT_DEVTYP_DEVICEINTERFACE ? Narrow(notice.name) : std::string();
  window_.HandleDeviceChange(static_cast<int>(event), path);
}

LRESULT CALLBACK HiddenWindow::WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    return ::DefWindowProcW(hwnd, message, wparam, lparam);
  }
  auto* self = reinterpret_cast<HiddenWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  // Nothing thrown may unwind through the system's dispatch into the host.
  try {
    switch (message) {
      case WM_TIMER:
        if (self) self->OnTimer(wparam);
        return 0;
      case WM_DEVICECHANGE:
        if (self) self->OnDeviceChange(wparam, lparam);
        return TRUE;
      default:
        break;
    }
  } catch (...) {
    return message == WM_DEVICECHANGE ? TRUE : 0;
  }
  return ::DefWindowProcW(hwnd, message, wparam, lparam);
}

}  // namespace k2t::windows_platform
