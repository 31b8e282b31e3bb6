#include "platform/windows/ansi_text.h"

#include <windows.h>

#include <climits>

namespace k2t::windows_platform {

namespace {
UINT CodePage(Encoding e) { return e == Encoding::kUtf8 ? CP_UTF8 : CP_ACP; }

// Upper case by the system's case table, language-neutral (an 'i' is an 'I'
// in Turkish too), one UTF-16 unit for one: what an ordinal comparison that
// ignores case does, with a call XP has.
std::wstring Upper(const std::wstring& text) {
  if (text.empty() || text.size() > INT_MAX) return {};
  const int n = static_cast<int>(text.size());
  std::wstring out(text.size(), L'\0');
  if (::LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, text.data(), n, out.data(), n) != n) return {};
  return out;
}
}  // namespace

std::wstring Widen(std::string_view text, Encoding from) {
  if (text.empty() || text.size() > INT_MAX) return {};
  const int n = static_cast<int>(text.size());
  const int wide = ::MultiByteToWideChar(CodePage(from), 0, text.data(), n, nullptr, 0);
  if (wide <= 0) return {};
  std::wstring out(static_cast<std::size_t>(wide), L'\0');
  if (::MultiByteToWideChar(CodePage(from), 0, text.data(), n, out.data(), wide) != wide) return {};
  return out;
}

std::string Narrow(std::wstring_view wide, Encoding to) {
  if (wide.empty() || wide.size() > INT_MAX) return {};
  const int n = static_cast<int>(wide.size());
  const UINT cp = CodePage(to);
  const int bytes = ::WideCharToMultiByte(cp, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string out(static_cast<std::size_t>(bytes), '\0');
  if (::WideCharToMultiByte(cp, 0, wide.data(), n, out.data(), bytes, nullptr, nullptr) != bytes) return {};
  return out;
}

bool EqualsIgnoreCaseAnsi(std::string_view a, std::string_view b) {
  if (a.empty() || b.empty()) return a.empty() && b.empty();
  const std::wstring ua = Upper(Widen(a)), ub = Upper(Widen(b));
  return !ua.empty() && ua == ub;
}

std::string SystemWords(std::wstring_view words) {
  while (!words.empty() && (words.back() == L'\n' || words.back() == L'\r' || words.back() == L' '))
    words.remove_suffix(1);
  return Narrow(words, Encoding::kUtf8);
}

}  // namespace k2t::windows_platform
