// Runs of \u escapes: escape by escape for any processor and, on x86-64, eight escapes a step with
// AVX2, chosen once at run time.
#include "json/text/unicode_escape_run.hpp"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "json/platform/platform.hpp"
#include "json/text/escape_text.hpp"
#include "json/text/simd.hpp"
#include "json/text/utf8.hpp"

#if TARVIK_AVX2
#include <immintrin.h>
#endif

namespace tarvik::json {
namespace {

constexpr std::ptrdiff_t kEscapeSize = 6;

// --- Escape by escape ------------------------------------------------------------------------

// The code unit of the escape at p[0, 6) when it may stand in a run, else -1.
int run_unit(const char* p) {
  if (p[0] != '\\' || p[1] != 'u') return -1;
  const auto* digits = reinterpret_cast<const unsigned char*>(p + 2);
  // Negative when any byte is no hex digit.
  const int unit = (HEX1[digits[0]] | HEX0[digits[1]]) << 8 | HEX1[digits[2]] | HEX0[digits[3]];
  if (unit < 0x20 || (unit >= 0xD800 && unit <= 0xDFFF)) return -1;
  return unit;
}

template <bool kWrite>
DecodedRun read_run_scalar(const char* p, const char* const end, char* out) {
  std::size_t escapes = 0;
  for (; escapes < kMostRunEscapes && end - p >= kEscapeSize; ++escapes, p += kEscapeSize) {
    const int unit = run_unit(p);
    if (unit < 0) break;
    if constexpr (kWrite) out = write_utf8(static_cast<char32_t>(unit), out);
  }
  return {escapes, out};
}

#if TARVIK_AVX2
// --- Eight escapes a step --------------------------------------------------------------------
//
// A block is eight escapes, 48 bytes, loaded as four 16-byte lanes that start 12 bytes apart:
// every lane then holds two escapes at the same bytes (0-5 and 6-11), and one set of constants
// serves them all. Each lane's bytes are checked against the shape of two escapes, their hex
// digits turned into nibbles and the nibbles of each escape into its code unit; the units go into
// one vector, where they are checked and encoded together.

constexpr std::size_t kBlockEscapes = 8;
constexpr std::ptrdiff_t kBlockLoadSize = 52;  // the last lane reads four bytes past the block

// The escape that holds the byte of each bit of a block's faults: two escapes to a lane, in bits
// 0-5 and 6-11 of its 16.
constexpr std::array<std::uint8_t, 64> ESCAPE_OF_FAULT = [] {
  std::array<std::uint8_t, 64> table{};
  for (std::size_t bit = 0; bit < 64; ++bit)
    table[bit] = static_cast<std::uint8_t>(bit / 16 * 2 + (bit % 16 >= 6 ? 1 : 0));
  return table;
}();

// The vectors a block is read with, made once per run rather than once per block.
struct BlockConstants {
  __m256i markers;     // "\u" at bytes 0-1 and 6-7 of each lane
  __m256i at_markers;  // all ones at those bytes
  __m256i zero;
  __m256i digit_zero;
  __m256i nine;
  __m256i case_bit;
  __m256i letter_a;
  __m256i five;
  __m256i ten_below_a;
  __m256i nibble_weights;
  __m256i to_first;
  __m256i to_second;
  __m256i unit_order;
};

__attribute__((target("avx2"))) inline BlockConstants block_constants() {
  constexpr char kNone = -128;  // a shuffle index that gives a zero byte
  return {
      _mm256_setr_epi8('\\', 'u', 0, 0, 0, 0, '\\', 'u', 0, 0, 0, 0, 0, 0, 0, 0,  //
                       '\\', 'u', 0, 0, 0, 0, '\\', 'u', 0, 0, 0, 0, 0, 0, 0, 0),
      _mm256_setr_epi8(-1, -1, 0, 0, 0, 0, -1, -1, 0, 0, 0, 0, 0, 0, 0, 0,  //
                       -1, -1, 0, 0, 0, 0, -1, -1, 0, 0, 0, 0, 0, 0, 0, 0),
      _mm256_setzero_si256(),
      _mm256_set1_epi8('0'),
      _mm256_set1_epi8(9),
      _mm256_set1_epi8(0x20),
      _mm256_set1_epi8('a'),
      _mm256_set1_epi8(5),
      _mm256_set1_epi8('a' - 10),
      // The first digit of a pair counts sixteen times.
      _mm256_set1_epi16(0x0110),
      // A lane's first unit is its digit pairs at bytes 2 (high) and 4, its second at bytes 8
      // and 10; the first two lanes' units go to bytes 0-3, the second two's to bytes 4-7.
      _mm256_setr_epi8(4, 2, 10, 8, kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone,
                       kNone, kNone, kNone,  //
                       4, 2, 10, 8, kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone,
                       kNone, kNone, kNone),
      _mm256_setr_epi8(kNone, kNone, kNone, kNone, 4, 2, 10, 8, kNone, kNone, kNone, kNone, kNone,
                       kNone, kNone, kNone,  //
                       kNone, kNone, kNone, kNone, 4, 2, 10, 8, kNone, kNone, kNone, kNone, kNone,
                       kNone, kNone, kNone),
      // 32-bit lanes 0 (units 0-1), 4 (2-3), 1 (4-5) and 5 (6-7), in that order.
      _mm256_setr_epi32(0, 4, 1, 5, 0, 0, 0, 0),
  };
}

// Bits for the bytes of two lanes (escapes 0-3 or 4-7 of a block) that are not what two escapes
// need there: "\u" at bytes 0-1 and 6-7 of a lane, hex digits at 2-5 and 8-11.
__attribute__((target("avx2"), always_inline)) inline std::uint32_t shape_faults(
    const BlockConstants& c, __m256i lanes) {
  // A byte is at most n exactly when min(byte, n) is the byte (unsigned). Or-ing 0x20 maps
  // 'A'-'F' to 'a'-'f' and no other byte into that range.
  const __m256i digit_value = _mm256_sub_epi8(lanes, c.digit_zero);
  const __m256i digit = _mm256_cmpeq_epi8(_mm256_min_epu8(digit_value, c.nine), digit_value);
  const __m256i letter_value = _mm256_sub_epi8(_mm256_or_si256(lanes, c.case_bit), c.letter_a);
  const __m256i letter = _mm256_cmpeq_epi8(_mm256_min_epu8(letter_value, c.five), letter_value);
  const __m256i good = _mm256_blendv_epi8(_mm256_or_si256(digit, letter),
                                          _mm256_cmpeq_epi8(lanes, c.markers), c.at_markers);
  return ~static_cast<std::uint32_t>(_mm256_movemask_epi8(good)) & 0x0FFF0FFFu;
}

// The byte value of each two hex digits of the lanes, in the 16-bit lane they fill (the first
// digit high). Other bytes give values of no use.
__attribute__((target("avx2"), always_inline)) inline __m256i digit_pairs(const BlockConstants& c,
                                                                          __m256i lanes) {
  // For a digit, lowered - '0' is its value and lowered - 'a' + 10 wraps above it; for a letter
  // the second is its value and the first is 49 or more.
  const __m256i lowered = _mm256_or_si256(lanes, c.case_bit);
  const __m256i nibbles = _mm256_min_epu8(_mm256_sub_epi8(lowered, c.digit_zero),
                                          _mm256_sub_epi8(lowered, c.ten_below_a));
  return _mm256_maddubs_epi16(nibbles, c.nibble_weights);
}

// The code units of the block's eight escapes, in order, from the digit pairs of its two lane
// pairs (escapes 0-3 and 4-7).
__attribute__((target("avx2"), always_inline)) inline __m128i block_units(const BlockConstants& c,
                                                                          __m256i first,
                                                                          __m256i second) {
  const __m256i pairs = _mm256_or_si256(_mm256_shuffle_epi8(first, c.to_first),
                                        _mm256_shuffle_epi8(second, c.to_second));
  return _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(pairs, c.unit_order));
}

// Bit i set when 16-bit lane i of `lanes` is all ones.
__attribute__((target("avx2"), always_inline)) inline unsigned lane_bits(const BlockConstants& c,
                                                                         __m128i lanes) {
  return static_cast<unsigned>(
      _mm_movemask_epi8(_mm_packs_epi16(lanes, _mm256_castsi256_si128(c.zero))));
}

// Bit i set when units[i] is at most `most`.
__attribute__((target("avx2"), always_inline)) inline unsigned at_most(const BlockConstants& c,
                                                                       __m128i units, short most) {
  return lane_bits(c, _mm_cmpeq_epi16(_mm_min_epu16(units, _mm_set1_epi16(most)), units));
}

// Writes the UTF-8 of the first `count` units at `out`, storing at most 28 bytes, and returns its
// end. Runs mostly stay in one script, so a block's characters mostly take as many bytes each.
__attribute__((target("avx2"), always_inline)) inline char* write_block_utf8(
    const BlockConstants& c, __m128i units, std::size_t count, char* out) {
  const unsigned used = (1u << count) - 1;
  const unsigned below_800 = at_most(c, units, 0x7FF) & used;
  if (below_800 == 0) {
    // Three bytes each: 1110xxxx 10xxxxxx 10xxxxxx, made in 32-bit lanes, then packed.
    const __m128i lead = _mm_or_si128(_mm_srli_epi16(units, 12), _mm_set1_epi16(0xE0));
    const __m128i middle = _mm_or_si128(
        _mm_and_si128(_mm_srli_epi16(units, 6), _mm_set1_epi16(0x3F)), _mm_set1_epi16(0x80));
    const __m128i last =
        _mm_or_si128(_mm_and_si128(units, _mm_set1_epi16(0x3F)), _mm_set1_epi16(0x80));
    const __m128i first_two = _mm_or_si128(lead, _mm_slli_epi16(middle, 8));
    const __m128i pack = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_shuffle_epi8(_mm_unpacklo_epi16(first_two, last), pack));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 12),
                     _mm_shuffle_epi8(_mm_unpackhi_epi16(first_two, last), pack));
    return out + 3 * count;
  }
  const unsigned below_80 = at_most(c, units, 0x7F) & used;
  if (below_800 == used && below_80 == 0) {
    // Two bytes each: 110xxxxx 10xxxxxx, one 16-bit lane each.
    const __m128i lead = _mm_or_si128(_mm_srli_epi16(units, 6), _mm_set1_epi16(0xC0));
    const __m128i last =
        _mm_or_si128(_mm_and_si128(units, _mm_set1_epi16(0x3F)), _mm_set1_epi16(0x80));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(lead, _mm_slli_epi16(last, 8)));
    return out + 2 * count;
  }
  if (below_80 == used) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(units, units));
    return out + count;
  }
  alignas(16) std::uint16_t each[kBlockEscapes];
  _mm_store_si128(reinterpret_cast<__m128i*>(each), units);
  for (std::size_t i = 0; i < count; ++i)
    out = write_utf8(each[i], out);
  return out;
}

// How many escapes of a run begin the block at p[0, 52), with their UTF-8 written at `out` (moved
// past it) when kWrite.
template <bool kWrite>
__attribute__((target("avx2"), always_inline)) inline std::size_t read_block(
    const BlockConstants& c, const char* p, char*& out) {
  const __m256i first = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(p + 12),
                                            reinterpret_cast<const __m128i*>(p));
  const __m256i second = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(p + 36),
                                             reinterpret_cast<const __m128i*>(p + 24));
  const std::uint64_t faults =
      shape_faults(c, first) | static_cast<std::uint64_t>(shape_faults(c, second)) << 32;
  const __m128i units = block_units(c, digit_pairs(c, first), digit_pairs(c, second));
  const unsigned control = at_most(c, units, 0x1F);
  const unsigned surrogate =
      lane_bits(c, _mm_cmpeq_epi16(_mm_and_si128(units, _mm_set1_epi16(static_cast<short>(0xF800))),
                                   _mm_set1_epi16(static_cast<short>(0xD800))));
  // The units of escapes with a fault in their bytes are of no use, but the fault ends the run
  // before them.
  const std::size_t shaped =
      faults == 0 ? kBlockEscapes : ESCAPE_OF_FAULT[std::countr_zero(faults)];
  const auto in_run = static_cast<std::size_t>(std::countr_zero(control | surrogate | 0x100u));
  const std::size_t count = shaped < in_run ? shaped : in_run;
  if constexpr (kWrite) out = write_block_utf8(c, units, count, out);
  return count;
}

template <bool kWrite>
__attribute__((target("avx2"))) DecodedRun read_run_avx2(const char* p, const char* const end,
                                                         char* out) {
  const BlockConstants constants = block_constants();
  std::size_t escapes = 0;
  while (escapes < kMostRunEscapes) {
    std::size_t count;
    if (end - p >= kBlockLoadSize) {
      count = read_block<kWrite>(constants, p, out);
    } else {
      // Near the end the block is read from a copy padded with zeros, which end every run.
      char padded[kBlockLoadSize] = {};
      std::memcpy(padded, p, static_cast<std::size_t>(end - p));
      count = read_block<kWrite>(constants, padded, out);
    }
    escapes += count;
    p += kEscapeSize * static_cast<std::ptrdiff_t>(count);
    if (count < kBlockEscapes) break;
  }
  return {escapes, out};
}
#endif

using CountRun = std::size_t (*)(const char*, const char*);
using DecodeRun = DecodedRun (*)(const char*, const char*, char*);

CountRun choose_count_run() {
#if TARVIK_AVX2
  if (unicode_escape_run_detail::has_avx2()) return unicode_escape_run_detail::count_run_avx2;
#endif
  return unicode_escape_run_detail::count_run_scalar;
}

DecodeRun choose_decode_run() {
#if TARVIK_AVX2
  if (unicode_escape_run_detail::has_avx2()) return unicode_escape_run_detail::decode_run_avx2;
#endif
  return unicode_escape_run_detail::decode_run_scalar;
}

}  // namespace

namespace unicode_escape_run_detail {

bool has_avx2() {
  return platform::cpu_has_avx2();
}

std::size_t count_run_scalar(const char* p, const char* end) {
  return read_run_scalar<false>(p, end, nullptr).escapes;
}

DecodedRun decode_run_scalar(const char* p, const char* end, char* out) {
  return read_run_scalar<true>(p, end, out);
}

#if TARVIK_AVX2
std::size_t count_run_avx2(const char* p, const char* end) {
  return read_run_avx2<false>(p, end, nullptr).escapes;
}

DecodedRun decode_run_avx2(const char* p, const char* end, char* out) {
  return read_run_avx2<true>(p, end, out);
}
#endif

}  // namespace unicode_escape_run_detail

std::size_t count_unicode_escape_run(const char* p, const char* end) {
  static const CountRun count = choose_count_run();
  return count(p, end);
}

DecodedRun decode_unicode_escape_run(const char* p, const char* end, char* out) {
  static const DecodeRun decode = choose_decode_run();
  return decode(p, end, out);
}

}  // namespace tarvik::json
