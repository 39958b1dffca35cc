// Where an array, object or string ends, found by its brackets and quotes alone without reading
// it: a glance ahead for callers that decide what to keep before the value is read.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "json/text/simd.hpp"

namespace tarvik::json {

namespace container_end_detail {

// The first quote or bracket at or after `p`, or `end`.
inline const char* next_quote_or_bracket(const char* p, const char* end) {
#if TARVIK_SSE2
  while (end - p >= 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // With the 0x20 bit set, "[" reads as "{" and "]" as "}"; no other byte does.
    const __m128i folded = _mm_or_si128(block, _mm_set1_epi8(0x20));
    const __m128i found = _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8('"')),
                                       _mm_or_si128(_mm_cmpeq_epi8(folded, _mm_set1_epi8('{')),
                                                    _mm_cmpeq_epi8(folded, _mm_set1_epi8('}'))));
    const auto mask = static_cast<std::uint32_t>(_mm_movemask_epi8(found));
    if (mask != 0) return p + std::countr_zero(mask);
    p += 16;
  }
#endif
  while (p != end && *p != '"' && (*p | 0x20) != '{' && (*p | 0x20) != '}')
    ++p;
  return p;
}

// The first quote at or after `p`, or `end`.
inline const char* next_quote(const char* p, const char* end) {
#if TARVIK_SSE2
  while (end - p >= 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const auto mask =
        static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8('"'))));
    if (mask != 0) return p + std::countr_zero(mask);
    p += 16;
  }
#endif
  while (p != end && *p != '"')
    ++p;
  return p;
}

}  // namespace container_end_detail

// Just past the string whose opening quote is at `quote`, or nullptr when `end` comes first.
inline const char* string_end(const char* quote, const char* end) {
  for (const char* from = quote + 1;;) {
    const char* const closing = container_end_detail::next_quote(from, end);
    if (closing == end) return nullptr;
    // The closing quote is the first one after an even run of backslashes.
    const char* run = closing;
    while (*(run - 1) == '\\')
      --run;
    if ((closing - run) % 2 == 0) return closing + 1;
    from = closing + 1;
  }
}

// Just past the bracket that closes the array or object whose bracket is at `open`, or nullptr
// when `end` comes first. Exact on valid text; on other text only a guess, as the reader will
// find the fault.
const char* container_end(const char* open, const char* end);

// An object met by a glance ahead: where it opens, and just past where it closes (null when the
// glance ended first).
struct ContainerSpan {
  const char* open;
  const char* end;
};

// As container_end, and notes in `spans` each object it passes over (the one at `open` first,
// then those inside it, in the order they open, 64 levels deep at most), so that a glance at one
// of them later needs no reading again.
const char* container_end(const char* open, const char* end, std::vector<ContainerSpan>& spans);

// The glances behind both, sixteen bytes at a time and (x86-64 only) thirty-two, exposed so that
// tests can hold each one to the same answers. The AVX2 ones may only be called when has_avx2()
// is true (AVX2 and the carry-less multiply); container_end takes them then, chosen once per
// process.
namespace container_end_detail {
bool has_avx2() noexcept;
const char* container_end_base(const char* open, const char* end);
const char* container_end_base(const char* open, const char* end,
                               std::vector<ContainerSpan>& spans);
#if TARVIK_AVX2
const char* container_end_avx2(const char* open, const char* end);
const char* container_end_avx2(const char* open, const char* end,
                               std::vector<ContainerSpan>& spans);
#endif
}  // namespace container_end_detail

}  // namespace tarvik::json
