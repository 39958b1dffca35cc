// UTF-8: the encoding of a code point, and strict validation of string contents, 32 bytes at a
// time with AVX2 where the processor has it and sequence by sequence otherwise (the same answer).
#pragma once

#include <string_view>

#include "json/text/simd.hpp"

namespace tarvik::json {

// Writes the UTF-8 of `c` (at most U+10FFFF) at `at` and returns its end.
inline char* write_utf8(char32_t c, char* at) {
  if (c < 0x80) {
    at[0] = static_cast<char>(c);
    return at + 1;
  }
  if (c < 0x800) {
    at[0] = static_cast<char>(0xC0 | (c >> 6));
    at[1] = static_cast<char>(0x80 | (c & 0x3F));
    return at + 2;
  }
  if (c < 0x10000) {
    at[0] = static_cast<char>(0xE0 | (c >> 12));
    at[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    at[2] = static_cast<char>(0x80 | (c & 0x3F));
    return at + 3;
  }
  at[0] = static_cast<char>(0xF0 | (c >> 18));
  at[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  at[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  at[3] = static_cast<char>(0x80 | (c & 0x3F));
  return at + 4;
}

// Whether `text` is well-formed UTF-8: every sequence complete, in its shortest form, no encoded
// surrogate (U+D800 to U+DFFF) and nothing above U+10FFFF. The empty text is valid.
//
// Reads exactly the bytes of `text`, never one past its end, so the text need not be padded.
// Threads: pure; the implementation is chosen once per process, on the first call, from what
// the processor supports (a thread-safe one-time initialisation).
bool is_valid_utf8(std::string_view text);

// The implementations behind is_valid_utf8, exposed so that tests can hold each one to the
// same answers. `is_valid_utf8_avx2` (x86-64 only) may only be called when `has_avx2()` is true.
namespace utf8_detail {
bool has_avx2();
bool is_valid_utf8_scalar(std::string_view text);
#if TARVIK_AVX2
bool is_valid_utf8_avx2(std::string_view text);
#endif
}  // namespace utf8_detail

}  // namespace tarvik::json
