// The scan of a JSON string body: where its run of plain bytes ends (at a quote, a backslash or
// a control byte) and whether the run held any non-ASCII byte, sixteen bytes at a time.
#pragma once

#include <bit>
#include <cstdint>

#include "json/text/simd.hpp"

namespace tarvik::json {

struct StringRun {
  const char* stop;  // the first quote, backslash or byte below 0x20; the end when there is none
  bool non_ascii;    // whether any byte before `stop` is 0x80 or above
};

namespace string_scan_detail {

inline bool ends_string_run(unsigned char byte) {
  return byte == '"' || byte == '\\' || byte < 0x20;
}

#if TARVIK_SSE2
// Bit i set when byte i of `block` is a quote, a backslash or below 0x20.
inline std::uint32_t run_ends(__m128i block) {
  const __m128i quote = _mm_cmpeq_epi8(block, _mm_set1_epi8('"'));
  const __m128i backslash = _mm_cmpeq_epi8(block, _mm_set1_epi8('\\'));
  // SSE2 compares bytes as signed only; a byte is at most 0x1F exactly when max(byte, 0x1F) is
  // 0x1F, comparing unsigned.
  const __m128i control =
      _mm_cmpeq_epi8(_mm_max_epu8(block, _mm_set1_epi8(0x1F)), _mm_set1_epi8(0x1F));
  return static_cast<std::uint32_t>(
      _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(quote, backslash), control)));
}
#endif

// Fewer than sixteen bytes before the end: byte by byte, so nothing past `end` is read.
[[gnu::noinline]] inline StringRun scan_string_tail(const char* p, const char* const end,
                                                    bool non_ascii) {
  unsigned char passed = 0;
  while (p != end && !ends_string_run(static_cast<unsigned char>(*p))) {
    passed |= static_cast<unsigned char>(*p);
    ++p;
  }
  return {p, non_ascii || passed >= 0x80};
}

}  // namespace string_scan_detail

// Moves from `p` to the first quote, backslash or control byte (below 0x20) before `end`, or to
// `end`, and tells whether a byte passed over was non-ASCII. Reads only bytes in [p, end).
inline StringRun scan_string_run(const char* p, const char* const end) {
  std::uint32_t high_bits = 0;  // the high bit of every byte passed over, by position
#if TARVIK_SSE2
  while (end - p >= 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const std::uint32_t ends = string_scan_detail::run_ends(block);
    const auto high = static_cast<std::uint32_t>(_mm_movemask_epi8(block));
    if (ends != 0) {
      // ends - 1 keeps the positions below the first end, and those of the later ends, which
      // are never high bytes.
      return {p + std::countr_zero(ends), (high_bits | (high & (ends - 1))) != 0};
    }
    high_bits |= high;
    p += 16;
  }
#endif
  return string_scan_detail::scan_string_tail(p, end, high_bits != 0);
}

}  // namespace tarvik::json
