#include "platform/windows/ansi_text.h"

#include <windows.h>

#include <climits>

namespace k2t::windows {

namespace {
UINT CodePage(Encoding e) { return e == Encoding::kUtf8 ? CP_UTF8 : CP_ACP; }
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
  const std::wstring wa = Widen(a), wb = Widen(b);
  if (wa.empty() || wb.empty() || wa.size() > INT_MAX || wb.size() > INT_MAX) return false;
  return ::CompareStringOrdinal(wa.data(), static_cast<int>(wa.size()), wb.data(),
                                static_cast<int>(wb.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace k2t::windows
