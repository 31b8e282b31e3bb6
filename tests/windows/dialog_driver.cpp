#include "dialog_driver.h"

#include <gtest/gtest.h>

namespace k2t::dialog_driver {

namespace {

std::deque<Step> g_steps;
HWND g_dialog = nullptr;
std::vector<std::string> g_message_boxes;
HHOOK g_hook = nullptr;

bool IsDialogClass(HWND hwnd) {
  wchar_t name[16] = {};
  return ::GetClassNameW(hwnd, name, 16) && std::wstring(name) == L"#32770";
}

// A message box of the dialog: its text taken (the longest static text in
// it), closed with OK.
LRESULT CALLBACK MessageBoxHook(int code, WPARAM wparam, LPARAM lparam) {
  HWND hwnd = reinterpret_cast<HWND>(wparam);
  if (code == HCBT_ACTIVATE && g_dialog && hwnd != g_dialog && ::GetWindow(hwnd, GW_OWNER) == g_dialog &&
      IsDialogClass(hwnd)) {
    std::wstring text;
    for (HWND child = ::GetWindow(hwnd, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
      wchar_t name[16] = {};
      ::GetClassNameW(child, name, 16);
      const std::wstring t = TextOf(child);
      if (std::wstring(name) == L"Static" && t.size() > text.size()) text = t;
    }
    g_message_boxes.push_back(Utf8(text));
    ::PostMessageW(hwnd, WM_COMMAND, IDOK, 0);
  }
  return ::CallNextHookEx(g_hook, code, wparam, lparam);
}

LRESULT CALLBACK OwnerProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_ENTERIDLE && wparam == MSGF_DIALOGBOX) {
    g_dialog = reinterpret_cast<HWND>(lparam);
    if (!g_steps.empty() && g_steps.front()(g_dialog)) {
      g_steps.pop_front();
      // The loop waits again only after a message: one for the next step.
      ::PostMessageW(g_dialog, WM_NULL, 0, 0);
    }
    return 0;
  }
  return ::DefWindowProcW(hwnd, message, wparam, lparam);
}

void CALLBACK Rescue(HWND, UINT, UINT_PTR, DWORD) {
  ADD_FAILURE() << "the dialog was still open after 30 s; " << g_steps.size() << " steps left";
  g_steps.clear();
  if (g_dialog) ::EndDialog(g_dialog, IDCANCEL);
}

}  // namespace

DialogDriver::DialogDriver() {
  WNDCLASSW owner_class{};
  owner_class.lpfnWndProc = &OwnerProc;
  owner_class.hInstance = ::GetModuleHandleW(nullptr);
  owner_class.lpszClassName = L"K2tTestHost";
  ::RegisterClassW(&owner_class);
  owner_ = ::CreateWindowExW(0, L"K2tTestHost", L"Test host", WS_OVERLAPPEDWINDOW, 0, 0, 320, 200, nullptr, nullptr,
                             ::GetModuleHandleW(nullptr), nullptr);
  ::ShowWindow(owner_, SW_SHOW);
  ::SetActiveWindow(owner_);
}

DialogDriver::~DialogDriver() {
  if (owner_) ::DestroyWindow(owner_);
}

std::vector<std::string> DialogDriver::Run(std::vector<Step> steps, const std::function<void()>& open) {
  g_steps.assign(steps.begin(), steps.end());
  g_steps.push_back([](HWND dialog) {
    Key(dialog, VK_ESCAPE);
    return true;
  });
  g_dialog = nullptr;
  g_message_boxes.clear();
  g_hook = ::SetWindowsHookExW(WH_CBT, &MessageBoxHook, nullptr, ::GetCurrentThreadId());
  const UINT_PTR rescue = ::SetTimer(nullptr, 0, 30000, &Rescue);
  ::SetActiveWindow(owner_);
  open();
  ::KillTimer(nullptr, rescue);
  ::UnhookWindowsHookEx(g_hook);
  g_hook = nullptr;
  g_dialog = nullptr;
  // The closing Escape may stay unused when a step ended the dialog.
  if (!g_steps.empty()) g_steps.pop_back();
  EXPECT_TRUE(g_steps.empty()) << g_steps.size() << " steps never ran";
  g_steps.clear();
  return g_message_boxes;
}

HWND Item(HWND dialog, int id) { return ::GetDlgItem(dialog, id); }

void Type(HWND dialog, int id, const std::wstring& text) {
  ::SendMessageW(Item(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void Click(HWND dialog, int id) { ::PostMessageW(Item(dialog, id), BM_CLICK, 0, 0); }

void Key(HWND dialog, UINT key) {
  HWND focus = ::GetFocus();
  ::PostMessageW(focus ? focus : dialog, WM_KEYDOWN, key, 0);
  ::PostMessageW(focus ? focus : dialog, WM_KEYUP, key, 0xC0000000);
}

std::wstring TextOf(HWND hwnd) {
  const int n = ::GetWindowTextLengthW(hwnd);
  std::wstring text(static_cast<std::size_t>(n > 0 ? n : 0) + 1, L'\0');
  text.resize(static_cast<std::size_t>(::GetWindowTextW(hwnd, text.data(), n + 1)));
  return text;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace k2t::dialog_driver
