// The search of JSON text for its strings that hold escapes: the quotes and backslashes of each
// 64-byte block as bits, followed string by string; the bits made with SSE2 or byte by byte for
// any processor and, on x86-64, with AVX2, chosen once at run time.
#include "json/text/escaped_string_search.hpp"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "json/platform/platform.hpp"
#include "json/text/simd.hpp"

#if TARVIK_AVX2
#include <immintrin.h>
#endif

namespace tarvik::json {
namespace {

constexpr std::ptrdiff_t kBlockSize = 64;

// The quotes and backslashes of a block, bit i for byte i.
struct Marks {
  std::uint64_t quotes;
  std::uint64_t backslashes;
};

// Where the search stands between blocks: in a string since `open`, or outside any.
struct Search {
  const char* open = nullptr;
  bool inside = false;
};

// Follows the strings through the block at `block` with these marks. Returns the opening quote
// of the first string with a backslash, or null when there is none by the block's end.
[[gnu::always_inline]] inline const char* follow(Search& search, const char* block, Marks marks) {
  if (marks.backslashes == 0) {
    // Most blocks: only whole strings without escapes, or the ends of one. An odd number of
    // quotes changes sides; a block that ends inside a string has its opening quote last.
    search.inside = search.inside != ((std::popcount(marks.quotes) & 1) != 0);
    if (search.inside && marks.quotes != 0) {
      search.open = block + 63 - std::countl_zero(marks.quotes);
    }
    return nullptr;
  }
  // Quote by quote. A backslash stands only in a string, so none comes before the next quote
  // while outside one, and each quote passed over is the lowest bit left.
  for (;;) {
    if (!search.inside) {
      if (marks.quotes == 0) return nullptr;
      search.open = block + std::countr_zero(marks.quotes);
      search.inside = true;
      marks.quotes &= marks.quotes - 1;
    }
    const std::uint64_t first_backslash = marks.backslashes & (0 - marks.backslashes);
    if ((marks.quotes & (first_backslash - 1)) == 0 && first_backslash != 0) return search.open;
    if (marks.quotes == 0) return nullptr;
    search.inside = false;  // the closing quote
    marks.quotes &= marks.quotes - 1;
  }
}

// The search over whole blocks, then over the last bytes copied into a block of zeros, which
// are neither quotes nor backslashes.
template <Marks (*kMarksOf)(const char*)>
[[gnu::always_inline]] inline const char* search_blocks(const char* p, const char* const end) {
  Search search;
  for (; end - p >= kBlockSize; p += kBlockSize) {
    if (const char* found = follow(search, p, kMarksOf(p))) return found;
  }
  if (p == end) return end;
  char padded[kBlockSize] = {};
  std::memcpy(padded, p, static_cast<std::size_t>(end - p));
  const char* const found = follow(search, p, kMarksOf(padded));
  return found != nullptr ? found : end;
}

[[gnu::always_inline]] inline Marks marks_portable(const char* p) {
  Marks marks{0, 0};
#if TARVIK_SSE2
  for (int part = 0; part < 4; ++part) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * part));
    marks.quotes |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(
                        _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('"')))))
                    << (16 * part);
    marks.backslashes |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(
                             _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\')))))
                         << (16 * part);
  }
#else
  for (int i = 0; i < kBlockSize; ++i) {
    marks.quotes |= static_cast<std::uint64_t>(p[i] == '"') << i;
    marks.backslashes |= static_cast<std::uint64_t>(p[i] == '\\') << i;
  }
#endif
  return marks;
}

#if TARVIK_AVX2
__attribute__((target("avx2"))) inline std::uint64_t equal_bits(__m256i low, __m256i high,
                                                                __m256i byte) {
  const auto low_bits =
      static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, byte)));
  const auto high_bits =
      static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, byte)));
  return low_bits | static_cast<std::uint64_t>(high_bits) << 32;
}

__attribute__((target("avx2"))) inline Marks marks_avx2(const char* p) {
  const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
  return {equal_bits(low, high, _mm256_set1_epi8('"')),
          equal_bits(low, high, _mm256_set1_epi8('\\'))};
}
#endif

using Find = const char* (*)(const char*, const char*);

Find choose_find() {
#if TARVIK_AVX2
  if (escaped_string_search_detail::has_avx2()) {
    return escaped_string_search_detail::find_escaped_string_avx2;
  }
#endif
  return escaped_string_search_detail::find_escaped_string_portable;
}

}  // namespace

namespace escaped_string_search_detail {

bool has_avx2() {
  return platform::cpu_has_avx2();
}

const char* find_escaped_string_portable(const char* p, const char* end) {
  return search_blocks<marks_portable>(p, end);
}

#if TARVIK_AVX2
// Flattened: the search and the marks are compiled for AVX2 here, in one loop.
__attribute__((target("avx2,popcnt"), flatten)) const char* find_escaped_string_avx2(
    const char* p, const char* end) {
  return search_blocks<marks_avx2>(p, end);
}
#endif

}  // namespace escaped_string_search_detail

const char* find_escaped_string(const char* p, const char* end) {
  static const Find find = choose_find();
  return find(p, end);
}

}  // namespace tarvik::json
