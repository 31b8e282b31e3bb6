// UTF-8, the encoding of every text the core keeps (settings, labels): the
// platform converts at its edges, from the profile's encoding and to its
// dialog's widgets.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace k2t {

// What DecodeUtf8 gives for a byte that does not start a valid sequence.
inline constexpr char32_t kInvalidUtf8 = 0xFFFFFFFF;

// Decodes the character at the start of a non-empty text and returns its
// length in bytes. A byte that does not start a well-formed sequence (stray
// continuation byte, overlong form, surrogate, beyond U+10FFFF, cut short)
// gives kInvalidUtf8 and length 1, so a caller moves on byte by byte.
std::size_t DecodeUtf8(std::string_view text, char32_t& cp);

// Appends the UTF-8 form of a code point (at most U+10FFFF).
void AppendUtf8(std::string& out, char32_t cp);

}  // namespace k2t
