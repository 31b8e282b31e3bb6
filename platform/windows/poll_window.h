// The hidden window on Windows: a message-only window of the class
// "DrovikWin" on the thread that created it (the host's GUI thread). It
// needs no parent: its timer and the registered device notices reach it
// all the same. WM_TIMER (id 1) runs the poll tick and WM_DEVICECHANGE
// (arrival 0x8000, removal 0x8004) the device handling of its DrovikWin.
#pragma once

#include <windows.h>

#include "link/drovik_win.h"
#include "platform/windows/sim_hid_bus.h"

namespace k2t::windows_platform {

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
  // The library is being freed without StopPlug: destruction then runs in
  // DllMain, under the loader lock. The simulated bus' subscription is the
  // host's and is dropped; the system's notices are not unregistered (that
  // calls into the system's device services): once the window is gone they
  // reach nothing.
  void ForgetHost() override {
    sim_bus_ = nullptr;
    unloading_ = true;
  }

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
  bool unloading_ = false;
};

}  // namespace k2t::windows_platform
