// The glance ahead over the brackets and quotes of a text, 64 bytes at a time: marked sixteen
// bytes a step, or thirty-two with AVX2 where the processor has it, chosen once at run time.
#include "json/text/container_end.hpp"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "json/platform/platform.hpp"
#include "json/text/simd.hpp"

#if TARVIK_AVX2
#include <immintrin.h>
#include <wmmintrin.h>
#endif

namespace tarvik::json {
namespace container_end_detail {
namespace {

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

// The marks of the block at `p` as `Blocks` finds them, or of the bytes left before `end` among
// zeros, which are neither quotes, backslashes nor brackets.
template <typename Blocks>
inline BlockMarks marks_at(const char* p, const char* end) {
  if (end - p >= kBlock) return Blocks::marks(p);
  char padded[kBlock] = {};
  std::memcpy(padded, p, static_cast<std::size_t>(end - p));
  return Blocks::marks(padded);
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

// The walk every glance makes, each block taken as `Blocks` takes it:
// `opened(bracket, depth)` at each bracket that opens (depth counted from 0 at `open`),
// `closed(bracket, depth)` at each that closes (depth of the container it closes). The text is
// taken 64 bytes at a time: in a block without a backslash the strings are told by their quotes
// alone, and only the brackets outside them are looked at one by one; a block with a backslash is
// read string by string, past its last one.
template <typename Blocks, typename Opened, typename Closed>
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
    const BlockMarks marks = marks_at<Blocks>(p, end);
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
    std::uint64_t quoted = Blocks::quoted(marks.quotes);
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

#if TARVIK_AVX2
// A bit for each byte found in the two halves of 64 bytes, by position.
__attribute__((target("avx2"))) inline std::uint64_t found_bits(__m256i low, __m256i high) {
  return static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(low))) |
         static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(high))) << 32;
}

// The brackets among 32 bytes: with the 0x20 bit set, "[" reads as "{" and "]" as "}".
__attribute__((target("avx2"))) inline __m256i found_brackets(__m256i bytes) {
  const __m256i folded = _mm256_or_si256(bytes, _mm256_set1_epi8(0x20));
  return _mm256_or_si256(_mm256_cmpeq_epi8(folded, _mm256_set1_epi8('{')),
                         _mm256_cmpeq_epi8(folded, _mm256_set1_epi8('}')));
}

// quoted_bits in one carry-less multiply by all ones: bit i of the product is the parity of the
// quotes at and below i.
__attribute__((target("pclmul"))) inline std::uint64_t clmul_quoted_bits(std::uint64_t quotes) {
  const __m128i product =
      _mm_clmulepi64_si128(_mm_cvtsi64_si128(static_cast<long long>(quotes)), _mm_set1_epi8(-1), 0);
  return static_cast<std::uint64_t>(_mm_cvtsi128_si64(product));
}

// The marks of the 64 bytes at `p`, thirty-two bytes a step.
__attribute__((target("avx2"))) inline BlockMarks avx2_block_marks(const char* p) {
  const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
  const __m256i quote = _mm256_set1_epi8('"');
  const __m256i backslash = _mm256_set1_epi8('\\');
  BlockMarks marks;
  marks.quotes = found_bits(_mm256_cmpeq_epi8(low, quote), _mm256_cmpeq_epi8(high, quote));
  marks.backslashes =
      found_bits(_mm256_cmpeq_epi8(low, backslash), _mm256_cmpeq_epi8(high, backslash));
  marks.brackets = found_bits(found_brackets(low), found_brackets(high));
  return marks;
}
#endif

// The two ways of taking a block: sixteen bytes a step, on any processor; thirty-two, with the
// quoted bits in one multiply, where the processor has AVX2 (and the multiply, which every such
// processor has).
struct BaseBlocks {
  static BlockMarks marks(const char* p) { return block_marks(p); }
  static std::uint64_t quoted(std::uint64_t quotes) { return quoted_bits(quotes); }
};

#if TARVIK_AVX2
struct Avx2Blocks {
  __attribute__((target("avx2"))) static BlockMarks marks(const char* p) {
    return avx2_block_marks(p);
  }
  __attribute__((target("pclmul"))) static std::uint64_t quoted(std::uint64_t quotes) {
    return clmul_quoted_bits(quotes);
  }
};
#endif

// The glances themselves, for a way of taking blocks.
const auto ignore = [](const char*, std::size_t) {};

template <typename Blocks>
inline const char* plain_end(const char* open, const char* end) {
  return walk_to_end<Blocks>(open, end, ignore, ignore);
}

template <typename Blocks>
inline const char* noted_end(const char* open, const char* end, std::vector<ContainerSpan>& spans) {
  constexpr std::size_t kDeepest = 64;
  constexpr std::size_t kNone = SIZE_MAX;
  std::size_t noted[kDeepest];  // of the containers open, by depth: their spans, or kNone
  return walk_to_end<Blocks>(
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

}  // namespace

bool has_avx2() noexcept {
  return platform::cpu_has_avx2() && platform::cpu_has_clmul();
}

const char* container_end_base(const char* open, const char* end) {
  return plain_end<BaseBlocks>(open, end);
}

const char* container_end_base(const char* open, const char* end,
                               std::vector<ContainerSpan>& spans) {
  return noted_end<BaseBlocks>(open, end, spans);
}

#if TARVIK_AVX2
// Flattened: the walk and the ways of a block are inlined into these functions, which they could
// not be into a walk compiled for any processor.
__attribute__((target("avx2,pclmul"), flatten)) const char* container_end_avx2(const char* open,
                                                                               const char* end) {
  return plain_end<Avx2Blocks>(open, end);
}

__attribute__((target("avx2,pclmul"), flatten)) const char* container_end_avx2(
    const char* open, const char* end, std::vector<ContainerSpan>& spans) {
  return noted_end<Avx2Blocks>(open, end, spans);
}
#endif

}  // namespace container_end_detail

namespace {

const bool glance_with_avx2 = TARVIK_AVX2 && container_end_detail::has_avx2();

}  // namespace

const char* container_end(const char* open, const char* end) {
#if TARVIK_AVX2
  if (glance_with_avx2) return container_end_detail::container_end_avx2(open, end);
#endif
  return container_end_detail::container_end_base(open, end);
}

const char* container_end(const char* open, const char* end, std::vector<ContainerSpan>& spans) {
#if TARVIK_AVX2
  if (glance_with_avx2) return container_end_detail::container_end_avx2(open, end, spans);
#endif
  return container_end_detail::container_end_base(open, end, spans);
}

}  // namespace tarvik::json
