// Texts between the byte encodings and the UTF-16 of the Windows API, MSXML
// and the dialog's controls. Texts that cross the host's boundary (the
// profile's name, the title, device paths) are in the process code page;
// the settings' texts are UTF-8 in the core, whatever the code page, so that
// a profile's characters survive the round trip through the dialog.
#pragma once

#include <string>
#include <string_view>

namespace k2t::windows_platform {

enum class Encoding { kProcessCodePage, kUtf8 };

std::wstring Widen(std::string_view text, Encoding from = Encoding::kProcessCodePage);
std::string Narrow(std::wstring_view wide, Encoding to = Encoding::kProcessCodePage);

// Equal without regard to letter case, as two texts of the process code page
// (multibyte characters compare whole, never byte by byte).
bool EqualsIgnoreCaseAnsi(std::string_view a, std::string_view b);

// Words the system wrote for a person (FormatMessage, MSXML's parse error)
// as one UTF-8 line: the line end and spaces they close with dropped.
std::string SystemWords(std::wstring_view words);

}  // namespace k2t::windows_platform
