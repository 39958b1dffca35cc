// Where an array, object or string ends, found by its brackets and quotes alone without reading
// it: a glance ahead for callers that decide what to keep before the value is read.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
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

namespace container_end_detail {

inline constexpr std::ptrdiff_t kBlock = 64;

// The quotes, backslashes and brackets among the 64 bytes at `p`, a bit for each by position.
struct BlockMarks {
  std::uint64_t quotes = 0;
  std::uint64_t backslashes = 0;
  std::uint64_t brackets = 0;
};

#if TARVIK_SSE2
// The marks of the 16 bytes at `p`, added to `marks` at bit `shift`.
inline void mark_part(const char* p, int shift, BlockMarks& marks) {
  const auto bits = [shift](__m128i found) {
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(found)))
           << shift;
  };
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i folded = _mm_or_si128(bytes, _mm_set1_epi8(0x20));
  marks.quotes |= bits(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('"')));
  marks.backslashes |= bits(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\')));
  marks.brackets |= bits(_mm_or_si128(_mm_cmpeq_epi8(folded, _mm_set1_epi8('{')),
                                      _mm_cmpeq_epi8(folded, _mm_set1_epi8('}'))));
}
#endif

inline BlockMarks block_marks(const char* p) {
  BlockMarks marks;
#if TARVIK_SSE2
  // Written out: a loop over the parts was compiled as one, its shifts by a register.
  mark_part(p, 0, marks);
  mark_part(p + 16, 16, marks);
  mark_part(p + 32, 32, marks);
  mark_part(p + 48, 48, marks);
#else
  for (int i = 0; i < kBlock; ++i) {
    marks.quotes |= static_cast<std::uint64_t>(p[i] == '"') << i;
    marks.backslashes |= static_cast<std::uint64_t>(p[i] == '\\') << i;
    marks.brackets |= static_cast<std::uint64_t>((p[i] | 0x20) == '{' || (p[i] | 0x20) == '}') << i;
  }
#endif
  return marks;
}

// The marks of the block at `p`, or of the bytes left before `end` among zeros, which are
// neither quotes, backslashes nor brackets.
inline BlockMarks marks_at(const char* p, const char* end) {
  if (end - p >= kBlock) return block_marks(p);
  char padded[kBlock] = {};
  std::memcpy(padded, p, static_cast<std::size_t>(end - p));
  return block_marks(padded);
}

// A bit for each byte from a quote up to the next one, that one left out: the opening quotes
// and the insides of the strings that open in a block without backslashes.
inline std::uint64_t quoted_bits(std::uint64_t quotes) {
  quotes ^= quotes << 1;
  quotes ^= quotes << 2;
  quotes ^= quotes << 4;
  quotes ^= quotes << 8;
  quotes ^= quotes << 16;
  return quotes ^ (quotes << 32);
}

// The walk both container_end overloads make: `opened(bracket, depth)` at each bracket that
// opens (depth counted from 0 at `open`), `closed(bracket, depth)` at each that closes (depth
// of the container it closes). The text is taken 64 bytes at a time: in a block without a
// backslash the strings are told by their quotes alone, and only the brackets outside them are
// looked at one by one; a block with a backslash is read string by string, past its last one.
template <typename Opened, typename Closed>
inline const char* walk_to_end(const char* open, const char* end, Opened opened, Closed closed) {
  std::size_t depth = 0;
  bool in_string = false;  // at `p`, after the opening quote of a string
  // At one bracket: just past the container's end when it closes it, else nullptr.
  const auto at_bracket = [&](const char* bracket) -> const char* {
    if ((*bracket | 0x20) == '{') {
      opened(bracket, depth);
      ++depth;
      return nullptr;
    }
    closed(bracket, --depth);
    return depth == 0 ? bracket + 1 : nullptr;
  };
  for (const char* p = open;;) {
    if (p == end) return nullptr;
    const BlockMarks marks = marks_at(p, end);
    if (marks.backslashes != 0) {
      const char* const past = p + kBlock - std::countl_zero(marks.backslashes);
      while (p < past) {
        if (in_string) {
          // The string's opening quote, or a byte inside it, stands before `p`.
          p = string_end(p - 1, end);
          if (p == nullptr) return nullptr;
          in_string = false;
          continue;
        }
        p = next_quote_or_bracket(p, end);
        if (p == end) return nullptr;
        if (*p == '"') {
          in_string = true;
        } else if (const char* const found = at_bracket(p)) {
          return found;
        }
        ++p;
      }
      continue;
    }
    std::uint64_t quoted = quoted_bits(marks.quotes);
    if (in_string) quoted = ~quoted;
    for (std::uint64_t brackets = marks.brackets & ~quoted; brackets != 0;
         brackets &= brackets - 1) {
      if (const char* const found = at_bracket(p + std::countr_zero(brackets))) return found;
    }
    if (end - p <= kBlock) return nullptr;
    in_string = (quoted >> (kBlock - 1)) != 0;
    p += kBlock;
  }
}

}  // namespace container_end_detail

// Just past the bracket that closes the array or object whose bracket is at `open`, or nullptr
// when `end` comes first. Exact on valid text; on other text only a guess, as the reader will
// find the fault.
inline const char* container_end(const char* open, const char* end) {
  return container_end_detail::walk_to_end(
      open, end, [](const char*, std::size_t) {}, [](const char*, std::size_t) {});
}

// An object met by a glance ahead: where it opens, and just past where it closes (null when the
// glance ended first).
struct ContainerSpan {
  const char* open;
  const char* end;
};

// As container_end, and notes in `spans` each object it passes over (the one at `open` first,
// then those inside it, in the order they open, 64 levels deep at most), so that a glance at one
// of them later needs no reading again.
inline const char* container_end(const char* open, const char* end,
                                 std::vector<ContainerSpan>& spans) {
  constexpr std::size_t kDeepest = 64;
  constexpr std::size_t kNone = SIZE_MAX;
  std::size_t noted[kDeepest];  // of the containers open, by depth: their spans, or kNone
  return container_end_detail::walk_to_end(
      open, end,
      [&](const char* bracket, std::size_t depth) {
        if (depth >= kDeepest) return;
        noted[depth] = *bracket == '{' ? spans.size() : kNone;
        if (*bracket == '{') spans.push_back({bracket, nullptr});
      },
      [&](const char* bracket, std::size_t depth) {
        if (depth < kDeepest && noted[depth] != kNone) spans[noted[depth]].end = bracket + 1;
      });
}

}  // namespace tarvik::json
