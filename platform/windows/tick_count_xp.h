// The clock that stands in for GetTickCount64 (Vista and later) in this
// module's import table.
#pragma once

#include <windows.h>

namespace k2t::windows_platform {

// Milliseconds from the performance counter: 64 bits, never going back.
ULONGLONG WINAPI TickCount64();

}  // namespace k2t::windows_platform
