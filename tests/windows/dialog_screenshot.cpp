// Opens the configuration dialog through the DLL's Config and holds it open
// for a screenshot taken from outside (dialog_screenshot.sh): writes the
// dialog's place on the screen to <folder>\dialog_ready, waits for
// <folder>\dialog_done, then closes it. Fails unless the client area is 733 x
// 425 dialog units of the dialog's font, reckoned from the font's own
// metrics.
//   dialog_screenshot <folder, as a Windows path>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dialog_driver.h"
#include "k2t/plugin.h"

namespace {

bool Exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The base units of a dialog's font: the average width of the 52 letters,
// rounded, and the character height.
SIZE BaseUnits(HWND dialog) {
  HDC dc = ::GetDC(dialog);
  HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(dialog, WM_GETFONT, 0, 0)));
  SIZE letters{};
  ::GetTextExtentPoint32W(dc, L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &letters);
  TEXTMETRICW metrics{};
  ::GetTextMetricsW(dc, &metrics);
  ::SelectObject(dc, old);
  ::ReleaseDC(dialog, dc);
  return {(letters.cx / 26 + 1) / 2, metrics.tmHeight};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: dialog_screenshot <folder>\n");
    return 2;
  }
  const std::string folder = argv[1];
  HMODULE lib = ::LoadLibraryW(L"K2TPendant.dll");
  if (!lib) {
    std::fprintf(stderr, "K2TPendant.dll does not load\n");
    return 1;
  }
  auto get = [lib](const char* name) { return ::GetProcAddress(lib, name); };
  bool (*init)(void*, void*, void*, void*) = nullptr;
  char* (*set_pro_name)(const char*) = nullptr;
  void (*post_init)() = nullptr;
  void (*config)() = nullptr;
  void (*stop)() = nullptr;
  FARPROC p = get("InitControl");
  std::memcpy(&init, &p, sizeof p);
  p = get("SetProName");
  std::memcpy(&set_pro_name, &p, sizeof p);
  p = get("PostInitControl");
  std::memcpy(&post_init, &p, sizeof p);
  p = get("Config");
  std::memcpy(&config, &p, sizeof p);
  p = get("StopPlug");
  std::memcpy(&stop, &p, sizeof p);
  if (!init || !set_pro_name || !post_init || !config || !stop) return 1;

  std::vector<unsigned char> motion(K2T_MOTION_RECORD_SIZE), setup(K2T_SETUP_RECORD_SIZE),
      planner(K2T_PLANNER_RECORD_SIZE);
  init(motion.data(), setup.data(), planner.data(), nullptr);
  set_pro_name((folder + "\\screenshot_profile.xml").c_str());
  post_init();  // the poll timer keeps the dialog's loop waking up

  bool size_right = false;
  k2t::dialog_driver::DialogDriver user;
  user.Run({[&](HWND dialog) {
              RECT client{}, window{};
              ::GetClientRect(dialog, &client);
              ::GetWindowRect(dialog, &window);
              const SIZE base = BaseUnits(dialog);
              const int width = ::MulDiv(733, base.cx, 4), height = ::MulDiv(425, base.cy, 8);
              size_right = client.right == width && client.bottom == height;
              std::printf("base units %ld x %ld: 733 x 425 units are %d x %d pixels; client area %ld x %ld\n", base.cx,
                          base.cy, width, height, client.right, client.bottom);
              std::FILE* ready = std::fopen((folder + "\\dialog_ready").c_str(), "w");
              if (ready) {
                std::fprintf(ready, "%ld %ld %ld %ld\n", window.left, window.top, window.right - window.left,
                             window.bottom - window.top);
                std::fclose(ready);
              }
              return true;
            },
            [&](HWND) { return Exists(folder + "\\dialog_done"); }},
           [&] { config(); });
  stop();
  ::FreeLibrary(lib);
  return size_right ? 0 : 1;
}
