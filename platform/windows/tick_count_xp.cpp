// The C++ runtime's thread library (libwinpthread, linked in) imports
// GetTickCount64 for its timed waits, which this module never makes; the
// import alone keeps XP from loading the DLL. The import's pointer is
// defined here, aimed at a clock XP has, so the linker takes none from
// kernel32. This file must be linked as an object, not from an archive:
// the runtime's reference comes after every archive of the module's own.
#include "platform/windows/tick_count_xp.h"

namespace k2t::windows_platform {

ULONGLONG WINAPI TickCount64() {
  LARGE_INTEGER frequency, count;
  // Never fails on XP and later; the 32-bit tick is what is left otherwise.
  if (!::QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0 || !::QueryPerformanceCounter(&count) ||
      count.QuadPart < 0)
    return ::GetTickCount();
  const ULONGLONG f = static_cast<ULONGLONG>(frequency.QuadPart), c = static_cast<ULONGLONG>(count.QuadPart);
  return c / f * 1000 + c % f * 1000 / f;  // c % f < f: times 1000 it stays far inside 64 bits
}

}  // namespace k2t::windows_platform

// The symbol kernel32's import library would otherwise supply.
extern "C" ULONGLONG(WINAPI* k2t_get_tick_count_64)() __asm__("__imp__GetTickCount64@0");
ULONGLONG(WINAPI* k2t_get_tick_count_64)() = &k2t::windows_platform::TickCount64;
