// Texts between the process code page, in which the host and the core keep
// them, and the UTF-16 of the Windows API, MSXML and the dialog's controls.
#pragma once

#include <string>
#include <string_view>

namespace k2t::windows {

std::wstring Widen(std::string_view ansi);
std::string Narrow(std::wstring_view wide);

// Equal without regard to letter case, as two texts of the process code page
// (multibyte characters compare whole, never byte by byte).
bool EqualsIgnoreCaseAnsi(std::string_view a, std::string_view b);

}  // namespace k2t::windows
