// Runs of \u escapes: escape by escape for any processor and, on x86-64, eight escapes a step with
// AVX2, chosen once at run time.
#include "json/text/unicode_escape_run.hpp"

#include <algorithm>
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

// The code unit of the escape \uXXXX at p[0, 6), or -1 when the bytes are no such escape.
int escape_unit(const char* p) {
  if (p[0] != '\\' || p[1] != 'u') return -1;
  const auto* digits = reinterpret_cast<const unsigned char*>(p + 2);
  // Negative when any byte is no hex digit.
  return (HEX1[digits[0]] | HEX0[digits[1]]) << 8 | HEX1[digits[2]] | HEX0[digits[3]];
}

bool is_lead_surrogate(int unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool is_trail_surrogate(int unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

template <bool kWrite>
DecodedRun read_run_scalar(const char* p, const char* const end, char* out) {
  std::size_t escapes = 0;
  while (escapes < kMostRunEscapes && end - p >= kEscapeSize) {
    const int unit = escape_unit(p);
    if (unit < 0x20 || is_trail_surrogate(unit)) break;
    char32_t c = static_cast<char32_t>(unit);
    std::size_t taken = 1;
    if (is_lead_surrogate(unit)) {
      if (escapes + 2 > kMostRunEscapes || end - p < 2 * kEscapeSize) break;
      const int trail = escape_unit(p + kEscapeSize);
      if (!is_trail_surrogate(trail)) break;
      c = 0x10000 + ((c - 0xD800) << 10) + static_cast<char32_t>(trail - 0xDC00);
      taken = 2;
    }
    if constexpr (kWrite) out = write_utf8(c, out);
    escapes += taken;
    p += kEscapeSize * static_cast<std::ptrdiff_t>(taken);
  }
  return {escapes, out};
}

#if TARVIK_AVX2
// --- Eight escapes a step --------------------------------------------------------------------
//
// A block is eight escapes, 48 bytes, loaded as four 16-byte lanes that start 12 bytes apart:
// every lane then holds two escapes at the same bytes (0-5 and 6-11), and one set of constants
// serves them all. Each byte's class is looked up by its two nibbles and checked against the
// shape of two escapes, the hex digits turned into their values and each escape's digits into
// its code unit; the units go into one vector, where they are checked and encoded together.

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

// The classes of the bytes an escape is made of, one bit each. A byte is of a class exactly when
// the entries of its high and its low nibble share the class's bit.
constexpr std::uint8_t kDecimalDigit = 1;  // 0-9
constexpr std::uint8_t kHexLetter = 2;     // A-F, a-f
constexpr std::uint8_t kBackslash = 4;
constexpr std::uint8_t kLetterU = 8;
constexpr std::uint8_t kHexDigit = kDecimalDigit | kHexLetter;

using LaneBytes = std::array<std::uint8_t, 16>;

constexpr LaneBytes BY_HIGH_NIBBLE = {0,          0,          0,          kDecimalDigit,
                                      kHexLetter, kBackslash, kHexLetter, kLetterU};
constexpr LaneBytes BY_LOW_NIBBLE = {kDecimalDigit,
                                     kDecimalDigit | kHexLetter,
                                     kDecimalDigit | kHexLetter,
                                     kDecimalDigit | kHexLetter,
                                     kDecimalDigit | kHexLetter,
                                     kDecimalDigit | kHexLetter | kLetterU,
                                     kDecimalDigit | kHexLetter,
                                     kDecimalDigit,
                                     kDecimalDigit,
                                     kDecimalDigit,
                                     0,
                                     0,
                                     kBackslash};
// The class each byte of a lane must have: "\u" and four hex digits, twice; the last four bytes
// are the next lane's.
constexpr LaneBytes ESCAPE_SHAPE = {kBackslash, kLetterU,  kHexDigit,  kHexDigit,
                                    kHexDigit,  kHexDigit, kBackslash, kLetterU,
                                    kHexDigit,  kHexDigit, kHexDigit,  kHexDigit};
// What a hex digit's value adds to its low nibble, by its high nibble: 9 for a letter.
constexpr LaneBytes LETTER_VALUE = {0, 0, 0, 0, 9, 0, 9};

// The vectors a block is read with, made once per run rather than once per block.
struct BlockConstants {
  __m256i by_high_nibble;
  __m256i by_low_nibble;
  __m256i escape_shape;
  __m256i letter_value;
  __m256i low_nibble;
  __m256i nibble_weights;
  __m256i to_first;
  __m256i to_second;
  __m256i unit_order;
};

__attribute__((target("avx2"))) inline __m256i in_both_lanes(const LaneBytes& bytes) {
  return _mm256_broadcastsi128_si256(
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.data())));
}

__attribute__((target("avx2"))) inline BlockConstants block_constants() {
  constexpr char kNone = -128;  // a shuffle index that gives a zero byte
  return {
      in_both_lanes(BY_HIGH_NIBBLE),
      in_both_lanes(BY_LOW_NIBBLE),
      in_both_lanes(ESCAPE_SHAPE),
      in_both_lanes(LETTER_VALUE),
      _mm256_set1_epi8(0x0F),
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

// Two lanes (escapes 0-3 or 4-7 of a block) read: bits for the bytes that are not what two
// escapes need there, and the byte value of each two hex digits, in the 16-bit lane they fill
// (the first digit high; other bytes give values of no use).
struct LanesRead {
  std::uint32_t faults;
  __m256i digit_pairs;
};

__attribute__((target("avx2"), always_inline)) inline LanesRead read_lanes(const BlockConstants& c,
                                                                           __m256i lanes) {
  const __m256i high = _mm256_and_si256(_mm256_srli_epi16(lanes, 4), c.low_nibble);
  const __m256i low = _mm256_and_si256(lanes, c.low_nibble);
  const __m256i classes = _mm256_and_si256(_mm256_shuffle_epi8(c.by_high_nibble, high),
                                           _mm256_shuffle_epi8(c.by_low_nibble, low));
  const __m256i misfit =
      _mm256_cmpeq_epi8(_mm256_and_si256(classes, c.escape_shape), _mm256_setzero_si256());
  const __m256i values = _mm256_add_epi8(low, _mm256_shuffle_epi8(c.letter_value, high));
  return {static_cast<std::uint32_t>(_mm256_movemask_epi8(misfit)) & 0x0FFF0FFFu,
          _mm256_maddubs_epi16(values, c.nibble_weights)};
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

// Bit i set when 16-bit lane i of `low` is all ones, bit 8 + i when that of `high` is.
__attribute__((target("avx2"), always_inline)) inline unsigned lane_bits(__m128i low,
                                                                         __m128i high) {
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(low, high)));
}

// All ones in the lanes of units at most `most`.
__attribute__((target("avx2"), always_inline)) inline __m128i at_most(__m128i units, short most) {
  return _mm_cmpeq_epi16(_mm_min_epu16(units, _mm_set1_epi16(most)), units);
}

// Writes the UTF-8 of the first `count` units at `out`, storing at most 28 bytes, and returns its
// end; bit i of `below_800` is set when units[i] is below U+0800, of `surrogates` when it is a
// surrogate (the first `count` units never end between the halves of a pair). Runs mostly stay
// in one script, so a block's characters mostly take as many bytes each.
__attribute__((target("avx2"), always_inline)) inline char* write_block_utf8(
    __m128i units, unsigned below_800, unsigned surrogates, std::size_t count, char* out) {
  const unsigned used = (1u << count) - 1;
  if (((below_800 | surrogates) & used) == 0) {
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
  const unsigned below_80 = lane_bits(at_most(units, 0x7F), _mm_setzero_si128()) & used;
  if ((below_800 & used) == used && below_80 == 0) {
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
  for (std::size_t i = 0; i < count; ++i) {
    char32_t c = each[i];
    if (is_lead_surrogate(each[i])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (each[i + 1] - 0xDC00u);
      ++i;
    }
    out = write_utf8(c, out);
  }
  return out;
}

// What a block gives its run: how many escapes it takes, and whether the run may go on after
// them.
struct BlockRead {
  std::size_t taken;
  bool goes_on;
};

// The escapes of a run that begin the block at p[0, 52), `limit` (1 to 8) at most, with their
// UTF-8 written at `out` (moved past it) when kWrite.
template <bool kWrite>
__attribute__((target("avx2"), always_inline)) inline BlockRead read_block(const BlockConstants& c,
                                                                           const char* p,
                                                                           std::size_t limit,
                                                                           char*& out) {
  const LanesRead first =
      read_lanes(c, _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(p + 12),
                                        reinterpret_cast<const __m128i*>(p)));
  const LanesRead second =
      read_lanes(c, _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(p + 36),
                                        reinterpret_cast<const __m128i*>(p + 24)));
  const __m128i units = block_units(c, first.digit_pairs, second.digit_pairs);
  const __m128i surrogate =
      _mm_cmpeq_epi16(_mm_and_si128(units, _mm_set1_epi16(static_cast<short>(0xF800))),
                      _mm_set1_epi16(static_cast<short>(0xD800)));
  const unsigned unit_bits = lane_bits(_mm_or_si128(at_most(units, 0x1F), surrogate),
                                       kWrite ? at_most(units, 0x7FF) : _mm_setzero_si128());
  unsigned not_in_run = 0;
  unsigned leads = 0;
  unsigned surrogates = 0;
  if ((unit_bits & 0xFF) != 0) {
    // Rarer: a control character, or surrogates, which stand in a run as pairs: a lead needs a
    // trail right after it (the next block's first escape tells for the last one), a trail a
    // lead right before it.
    const __m128i kind = _mm_and_si128(units, _mm_set1_epi16(static_cast<short>(0xFC00)));
    const unsigned halves =
        lane_bits(_mm_cmpeq_epi16(kind, _mm_set1_epi16(static_cast<short>(0xD800))),
                  _mm_cmpeq_epi16(kind, _mm_set1_epi16(static_cast<short>(0xDC00))));
    leads = halves & 0xFF;
    const unsigned trails = halves >> 8;
    surrogates = leads | trails;
    not_in_run = (unit_bits & ~surrogates & 0xFF) | (leads & ~(trails >> 1) & 0x7F) |
                 (trails & ~(leads << 1));
  }
  // The units of escapes with a fault in their bytes are of no use, but the fault ends the run
  // before them.
  const std::uint64_t faults = first.faults | static_cast<std::uint64_t>(second.faults) << 32;
  const std::size_t shaped =
      faults == 0 ? kBlockEscapes : ESCAPE_OF_FAULT[std::countr_zero(faults)];
  const auto in_run = static_cast<std::size_t>(std::countr_zero(not_in_run | 0x100u));
  const std::size_t reach = std::min({shaped, in_run, limit});
  // A run never ends between the halves of a pair: a lead that comes last waits for the next
  // block, which begins with it.
  const std::size_t taken = reach != 0 && (leads >> (reach - 1) & 1) != 0 ? reach - 1 : reach;
  if constexpr (kWrite) out = write_block_utf8(units, unit_bits >> 8, surrogates, taken, out);
  return {taken, reach == limit && taken != 0};
}

template <bool kWrite>
__attribute__((target("avx2"))) DecodedRun read_run_avx2(const char* p, const char* const end,
                                                         char* out) {
  const BlockConstants constants = block_constants();
  std::size_t escapes = 0;
  for (;;) {
    const std::size_t limit = std::min(kBlockEscapes, kMostRunEscapes - escapes);
    BlockRead read;
    if (end - p >= kBlockLoadSize) {
      read = read_block<kWrite>(constants, p, limit, out);
    } else {
      // Near the end the block is read from a copy padded with zeros, which end every run.
      char padded[kBlockLoadSize] = {};
      std::memcpy(padded, p, static_cast<std::size_t>(end - p));
      read = read_block<kWrite>(constants, padded, limit, out);
    }
    escapes += read.taken;
    p += kEscapeSize * static_cast<std::ptrdiff_t>(read.taken);
    if (!read.goes_on || escapes == kMostRunEscapes) break;
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
