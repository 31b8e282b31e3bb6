// Locale-independent number formatting and parsing, without allocation.
// The host may run under a comma locale; every number the module sends or
// shows uses a dot, and every decimal text it reads is parsed with a dot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace k2t {

// A fixed-capacity, NUL-terminated text. Appends past the capacity are cut,
// so callers size it for the longest text they can produce.
template <std::size_t N>
class TextBuffer {
 public:
  TextBuffer() { data_[0] = '\0'; }
  const char* c_str() const { return data_; }
  std::size_t size() const { return size_; }
  std::string_view view() const { return {data_, size_}; }
  void clear() {
    size_ = 0;
    data_[0] = '\0';
  }
  TextBuffer& Append(std::string_view text) {
    for (char c : text) Push(c);
    return *this;
  }
  TextBuffer& Push(char c) {
    if (size_ + 1 < N) {
      data_[size_++] = c;
      data_[size_] = '\0';
    }
    return *this;
  }
  // printf "%<plus><width>.<precision>f"
  TextBuffer& AppendFixed(double value, int width, int precision, bool plus = false);
  // printf "%d"
  TextBuffer& AppendInt(long long value);

 private:
  char data_[N];
  std::size_t size_ = 0;
};

// Writes printf("%+W.Pf")-style text into out (capacity cap, not terminated);
// returns the number of characters. Handles every double, inf and nan included.
std::size_t FormatFixed(char* out, std::size_t cap, double value, int width, int precision,
                        bool plus);
std::size_t FormatInt(char* out, std::size_t cap, long long value);

// The standard integer conversion: leading white space, an optional sign,
// decimal digits up to the first other character; no digits gives 0. Values
// beyond 32 bits wrap modulo 2^32 rather than overflow.
std::int32_t ParseLeadingInt(std::string_view text);

// The same conversion for text a person typed, where a number that does not
// fit must not come out as another number.
enum class LeadingInt {
  kNone,        // no integer at the start
  kOutOfRange,  // an integer beyond 32 bits
  kValid,
};
LeadingInt ParseLeadingInt32(std::string_view text, std::int32_t& value);

// Decimal text with a dot as separator, prefix-style: leading white space, an
// optional sign, then a number; text that does not start with a number gives 0.
double ParseLeadingDouble(std::string_view text);

// Case-insensitive equality of two paths (ASCII letters folded).
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

template <std::size_t N>
TextBuffer<N>& TextBuffer<N>::AppendFixed(double value, int width, int precision, bool plus) {
  char tmp[400];
  std::size_t n = FormatFixed(tmp, sizeof tmp, value, width, precision, plus);
  return Append(std::string_view(tmp, n));
}

template <std::size_t N>
TextBuffer<N>& TextBuffer<N>::AppendInt(long long value) {
  char tmp[32];
  std::size_t n = FormatInt(tmp, sizeof tmp, value);
  return Append(std::string_view(tmp, n));
}

}  // namespace k2t
