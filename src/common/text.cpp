#include "common/text.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace k2t {

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Copies [src, src+n) into out after left padding to width; cut at cap.
std::size_t PadInto(char* out, std::size_t cap, const char* src, std::size_t n, int width) {
  std::size_t pad = (width > 0 && static_cast<std::size_t>(width) > n) ? width - n : 0;
  std::size_t written = 0;
  for (std::size_t i = 0; i < pad && written < cap; ++i) out[written++] = ' ';
  for (std::size_t i = 0; i < n && written < cap; ++i) out[written++] = src[i];
  return written;
}

// Skips leading white space and one sign; returns the index after them.
std::size_t SkipSpaceAndSign(std::string_view text, bool& negative) {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  return i;
}

}  // namespace

std::size_t FormatFixed(char* out, std::size_t cap, double value, int width, int precision,
                        bool plus) {
  // Large enough for the longest fixed-notation double (309 integer digits)
  // with any precision the module uses.
  char digits[400];
  std::size_t n = 0;
  if (std::isnan(value)) {
    const char* text = std::signbit(value) ? "-nan" : (plus ? "+nan" : "nan");
    n = std::strlen(text);
    std::memcpy(digits, text, n);
  } else if (std::isinf(value)) {
    const char* text = value < 0 ? "-inf" : (plus ? "+inf" : "inf");
    n = std::strlen(text);
    std::memcpy(digits, text, n);
  } else {
    if (plus && !std::signbit(value)) digits[n++] = '+';
    auto res = std::to_chars(digits + n, digits + sizeof digits, value,
                             std::chars_format::fixed, precision);
    n = (res.ec == std::errc()) ? static_cast<std::size_t>(res.ptr - digits) : 0;
  }
  return PadInto(out, cap, digits, n, width);
}

std::size_t FormatInt(char* out, std::size_t cap, long long value) {
  char digits[32];
  auto res = std::to_chars(digits, digits + sizeof digits, value);
  return PadInto(out, cap, digits, static_cast<std::size_t>(res.ptr - digits), 0);
}

std::int32_t ParseLeadingInt(std::string_view text) {
  bool negative;
  std::size_t i = SkipSpaceAndSign(text, negative);
  std::uint32_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = value * 10u + static_cast<std::uint32_t>(text[i] - '0');
  if (negative) value = 0u - value;
  return static_cast<std::int32_t>(value);
}

LeadingInt ParseLeadingInt32(std::string_view text, std::int32_t& value) {
  bool negative;
  std::size_t i = SkipSpaceAndSign(text, negative);
  if (i >= text.size() || text[i] < '0' || text[i] > '9') return LeadingInt::kNone;
  // Magnitude up to 2^31, the most a negative value can take; leading zeros
  // do not count against it.
  constexpr std::uint64_t kLimit = 2147483648u;
  std::uint64_t magnitude = 0;
  bool too_large = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10u + static_cast<std::uint64_t>(text[i] - '0');
    if (magnitude > kLimit) {
      too_large = true;
      magnitude = kLimit + 1;  // stays put while the digits run on
    }
  }
  if (too_large || (!negative && magnitude == kLimit)) return LeadingInt::kOutOfRange;
  value = negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude))
                   : static_cast<std::int32_t>(magnitude);
  return LeadingInt::kValid;
}

double ParseLeadingDouble(std::string_view text) {
  bool negative;
  const std::size_t i = SkipSpaceAndSign(text, negative);
  // from_chars takes no sign of its own here: the sign was consumed above, so
  // "+-1" or "--1" do not start with a number.
  if (i >= text.size() || text[i] == '+' || text[i] == '-') return 0.0;
  double value = 0.0;
  auto res = std::from_chars(text.data() + i, text.data() + text.size(), value,
                             std::chars_format::general);
  if (res.ec == std::errc::result_out_of_range) {
    // A number beyond the range of double: a negative exponent means it is
    // too small (0), anything else too large (infinity), as strtod gives.
    std::string_view number(text.data() + i, static_cast<std::size_t>(res.ptr - (text.data() + i)));
    std::size_t e = number.find_first_of("eE");
    bool tiny = e != std::string_view::npos && e + 1 < number.size() && number[e + 1] == '-';
    value = tiny ? 0.0 : HUGE_VAL;
  } else if (res.ec != std::errc()) {
    return 0.0;
  }
  return negative ? -value : value;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace k2t
