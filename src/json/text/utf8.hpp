// UTF-8: the encoding of a code point, and strict validation of string contents, 32 bytes at a
// time with AVX2 where the processor has it and sequence by sequence otherwise (the same answer).
#pragma once

#include <cstddef>
#include <cstdint>
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

// is_valid_utf8 for a text the reader has just scanned, where every byte before `readable_end`
// may be read. A text of at most 32 bytes, with 32 bytes readable from its start, whose non-ASCII
// bytes are all leads of two-byte forms (C2..DF) and continuations (Latin-1 letters, Greek,
// Cyrillic, ...) is judged right here, without a call: it is valid exactly when every
// continuation follows a lead and every lead is followed by one. Any other goes to is_valid_utf8.
[[gnu::always_inline]] inline bool is_valid_utf8_scanned(std::string_view text,
                                                         const char* readable_end) {
#if TARVIK_SSE2
  const std::size_t size = text.size();
  if (size <= 32 && readable_end - text.data() >= 32) {
    const auto* const blocks = reinterpret_cast<const __m128i*>(text.data());
    const __m128i low = _mm_loadu_si128(blocks);
    const __m128i high = _mm_loadu_si128(blocks + 1);
    // Bit i of a mask for byte i of the two blocks.
    const auto mask = [](__m128i low_bytes, __m128i high_bytes) {
      return std::uint64_t{static_cast<std::uint32_t>(_mm_movemask_epi8(low_bytes))} |
             std::uint64_t{static_cast<std::uint32_t>(_mm_movemask_epi8(high_bytes))} << 16;
    };
    // As signed bytes, continuations are -128..-65; C2..DF moved down by 0x42 are -128..-99.
    const auto continuation = [](__m128i bytes) {
      return _mm_cmplt_epi8(bytes, _mm_set1_epi8(-64));
    };
    const auto lead = [](__m128i bytes) {
      return _mm_cmplt_epi8(_mm_sub_epi8(bytes, _mm_set1_epi8(0x42)), _mm_set1_epi8(-98));
    };
    const std::uint64_t in_text = (std::uint64_t{1} << size) - 1;
    const std::uint64_t non_ascii = mask(low, high) & in_text;
    const std::uint64_t leads = mask(lead(low), lead(high)) & in_text;
    const std::uint64_t continuations = mask(continuation(low), continuation(high)) & in_text;
    // A lead as the last byte moves to bit `size`, where no continuation is: a cut sequence.
    if ((leads | continuations) == non_ascii) return continuations == leads << 1;
  }
#else
  static_cast<void>(readable_end);
#endif
  return is_valid_utf8(text);
}

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
