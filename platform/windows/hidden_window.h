// The hidden window on Windows: a message-only window of the class
// "DrovikWin" on the thread that created it (the host's GUI thread). It
// needs no parent: its timer and the registered device notices reach it
// all the same. WM_TIMER (id 1) runs the poll tick and WM_DEVICECHANGE
// (arrival 0x8000, removal 0x8004) the device handling of its DrovikWin.
#pragma once

#include <windows.h>

#include "link/drovik_win.h"
#include "platform/windows/sim_hid_bus.h"

namespace k2t::windows {

inline constexpr wchar_t kWindowClass[] = L"DrovikWin";

class HiddenWindow final : public WindowServices {
 public:
  // sim_bus: the host's simulated bus, whose notices are subscribed to
  // instead of the system's; null for the system's.
  HiddenWindow(DrovikWin& window, SimHidBus* sim_bus);
  ~HiddenWindow() override;
  HiddenWindow(const HiddenWindow&) = delete;
  HiddenWindow& operator=(const HiddenWindow&) = delete;

  void StartTimer(unsigned id, unsigned period_ms) override;
  void RegisterDeviceNotices() override;
  // The window, its timer and the system's notices are the module's own;
  // only the simulated bus' subscription is the host's, and it is dropped.
  void ForgetHost() override { sim_bus_ = nullptr; }

  HWND hwnd() const { return hwnd_; }

  // The module's own instance (the DLL's, or the executable's when linked in).
  static HINSTANCE Instance();
  // Removes the window class; windows of it must be gone.
  static void UnregisterClass();

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  void OnTimer(WPARAM id);
  void OnDeviceChange(WPARAM event, LPARAM data);

  DrovikWin& window_;
  SimHidBus* sim_bus_;
  HWND hwnd_ = nullptr;
  HDEVNOTIFY notices_ = nullptr;
  UINT_PTR timer_ = 0;
};

}  // namespace k2t::windows
