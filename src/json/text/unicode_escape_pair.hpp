// Two \u escapes read at once: text spelled in escapes comes in long runs of them, so the hex
// digits of two escapes are checked and turned into their code units together.
#pragma once

#include <array>
#include <cstdint>

#include "json/text/simd.hpp"

#include "json/text/escape_text.hpp"

namespace tarvik::json {

// The code units of two escapes in a row.
struct UnicodeEscapePair {
  std::uint16_t first;
  std::uint16_t second;
};

// Whether p[0, 12) is two well-formed escapes \uXXXX\uXXXX (hex digits of either case), with
// their code units in `out`. Byte by byte, for any processor; reads only p[0, 12).
inline bool read_unicode_escape_pair_scalar(const char* p, UnicodeEscapePair& out) {
  if (p[0] != '\\' || p[1] != 'u' || p[6] != '\\' || p[7] != 'u') return false;
  const auto* d = reinterpret_cast<const unsigned char*>(p);
  const int first = (HEX1[d[2]] | HEX0[d[3]]) << 8 | HEX1[d[4]] | HEX0[d[5]];
  const int second = (HEX1[d[8]] | HEX0[d[9]]) << 8 | HEX1[d[10]] | HEX0[d[11]];
  if ((first | second) < 0) return false;
  out = {static_cast<std::uint16_t>(first), static_cast<std::uint16_t>(second)};
  return true;
}

#if TARVIK_SSE2
// read_unicode_escape_pair_scalar on one 16-byte block: p[0, 16) must be readable.
inline bool read_unicode_escape_pair_sse2(const char* p, UnicodeEscapePair& out) {
  const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  // "\u" as the 16-bit lanes 0 and 3 (bytes 0-1 and 6-7).
  const __m128i marker = _mm_cmpeq_epi16(block, _mm_set1_epi16('\\' | ('u' << 8)));
  // Signed compares: bytes from 0x80 up are negative and fail both ranges. Or-ing 0x20 maps
  // 'A'-'F' to 'a'-'f' and no other byte into that range.
  const __m128i lower = _mm_or_si128(block, _mm_set1_epi8(0x20));
  const __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(block, _mm_set1_epi8('0' - 1)),
                                      _mm_cmplt_epi8(block, _mm_set1_epi8('9' + 1)));
  const __m128i letter = _mm_and_si128(_mm_cmpgt_epi8(lower, _mm_set1_epi8('a' - 1)),
                                       _mm_cmplt_epi8(lower, _mm_set1_epi8('f' + 1)));
  constexpr int kMarkerBytes = 0x00C3;  // bytes 0, 1, 6 and 7
  constexpr int kDigitBytes = 0x0F3C;   // bytes 2-5 and 8-11
  const int marked = _mm_movemask_epi8(marker);
  const int hex = _mm_movemask_epi8(_mm_or_si128(digit, letter));
  if ((marked & kMarkerBytes) != kMarkerBytes || (hex & kDigitBytes) != kDigitBytes) return false;
  const __m128i nibbles =
      _mm_or_si128(_mm_and_si128(digit, _mm_sub_epi8(block, _mm_set1_epi8('0'))),
                   _mm_andnot_si128(digit, _mm_sub_epi8(lower, _mm_set1_epi8('a' - 10))));
  // Each 16-bit lane of two digit bytes becomes their byte value (the first digit is the high
  // nibble); lanes 1-2 then make the first unit and lanes 4-5 the second.
  const __m128i bytes = _mm_or_si128(
      _mm_slli_epi16(_mm_and_si128(nibbles, _mm_set1_epi16(0xFF)), 4), _mm_srli_epi16(nibbles, 8));
  const __m128i units = _mm_or_si128(_mm_slli_epi16(bytes, 8), _mm_srli_si128(bytes, 2));
  out = {static_cast<std::uint16_t>(_mm_extract_epi16(units, 1)),
         static_cast<std::uint16_t>(_mm_extract_epi16(units, 4))};
  return true;
}
#endif

// read_unicode_escape_pair_scalar, with p[0, 16) readable.
inline bool read_unicode_escape_pair(const char* p, UnicodeEscapePair& out) {
#if TARVIK_SSE2
  return read_unicode_escape_pair_sse2(p, out);
#else
  return read_unicode_escape_pair_scalar(p, out);
#endif
}

}  // namespace tarvik::json
