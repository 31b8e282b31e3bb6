// Reading a fuzzer's bytes as the choices of one run. Past the end every
// read gives zero or empty, so any input is a complete run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace k2t::fuzz {

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const { return at_ >= size_; }

  std::uint8_t Byte() { return empty() ? 0 : data_[at_++]; }
  bool Flag() { return (Byte() & 1) != 0; }
  // A number in [0, count), count > 0.
  unsigned Below(unsigned count) { return Byte() % count; }
  // A value of any bit pattern (for doubles: NaN, infinities, huge values).
  template <class T>
  T Raw() {
    unsigned char bytes[sizeof(T)] = {};
    for (auto& b : bytes) b = Byte();
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
  }
  // A text of up to 255 bytes: a length byte, then the bytes.
  std::string Text() {
    std::size_t n = Byte();
    if (n > size_ - at_) n = empty() ? 0 : size_ - at_;
    std::string text(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return text;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// A broken property: said on stderr, then a crash that the fuzzer (or the
// corpus run under ctest) reports with the input that caused it.
[[noreturn]] inline void Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
  std::abort();
}

inline void Check(bool ok, const std::string& what) {
  if (!ok) Fail(what);
}

}  // namespace k2t::fuzz
