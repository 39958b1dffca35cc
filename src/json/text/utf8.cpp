// Strict UTF-8 validation: a sequence-by-sequence check for any processor and, on x86-64, a
// 32-byte AVX2 check driven by three nibble tables, chosen once at run time.
#include "json/text/utf8.hpp"

#include <array>
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

// --- Sequence by sequence ------------------------------------------------------------------

inline bool is_continuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

bool valid_utf8_by_sequence(const unsigned char* p, const unsigned char* const end) {
  while (p != end) {
    if (*p < 0x80) {
#if TARVIK_SSE2
      // ASCII runs go sixteen bytes at a time (SSE2 is part of every x86-64 processor).
      if (end - p >= 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const auto high = static_cast<unsigned>(_mm_movemask_epi8(block));
        p += high == 0 ? 16 : std::countr_zero(high);
      } else {
        ++p;
      }
#else
      ++p;
#endif
      continue;
    }
    const unsigned char lead = *p;
    const std::ptrdiff_t left = end - p;
    if (lead < 0xC2) {
      return false;  // a continuation byte, or the lead of an overlong two-byte form
    } else if (lead < 0xE0) {
      if (left < 2 || !is_continuation(p[1])) return false;
      p += 2;
    } else if (lead < 0xF0) {
      // E0 needs A0..BF next (no overlong form), ED needs 80..9F (no surrogate).
      if (left < 3 || !is_continuation(p[1]) || !is_continuation(p[2])) return false;
      if ((lead == 0xE0 && p[1] < 0xA0) || (lead == 0xED && p[1] > 0x9F)) return false;
      p += 3;
    } else if (lead < 0xF5) {
      // F0 needs 90..BF next (no overlong form), F4 needs 80..8F (nothing above U+10FFFF).
      if (left < 4 || !is_continuation(p[1]) || !is_continuation(p[2]) || !is_continuation(p[3])) {
        return false;
      }
      if ((lead == 0xF0 && p[1] < 0x90) || (lead == 0xF4 && p[1] > 0x8F)) return false;
      p += 4;
    } else {
      return false;  // F5..FF start no sequence
    }
  }
  return true;
}

#if TARVIK_AVX2
// --- 32 bytes at a time ----------------------------------------------------------------------
//
// Every fault of UTF-8 shows in a pair of neighbouring bytes, except two that need a wider view:
// a continuation byte that should follow but does not, or one too many; and a sequence cut by
// the end of the text.
//
// Pairs. Each kind of faulty pair (previous byte, current byte) is the set of pairs whose
// previous byte has its high nibble in one set, its low nibble in a second set and whose current
// byte has its high nibble in a third. With one bit per kind, three 16-entry tables, indexed by
// those three nibbles, hold the kinds that each nibble value allows; a pair is faulty exactly
// when the three entries share a bit, and one byte shuffle per table looks up 32 pairs at once.
//
// Wider view. A continuation byte after a continuation byte is right exactly at the third byte
// of a three- or four-byte sequence or the fourth of a four-byte one, that is where the byte two
// back is E0 or above or the byte three back is F0 or above. The kind TWO_CONTINUATIONS (bit 7)
// marks every continuation after a continuation, and bit 7 is then flipped at exactly those
// positions: it stays set for a continuation too many, and turns set where one is missing.
//
// End. A sequence cut by the end of the text leaves a lead byte among the last three bytes
// with too few bytes after it; nothing follows to form a faulty pair, so the last block is
// checked for that on its own.

// A set of nibble values, bit n for the value n.
constexpr std::uint16_t nibbles(int first, int last) {
  std::uint16_t set = 0;
  for (int n = first; n <= last; ++n)
    set = static_cast<std::uint16_t>(set | (1u << n));
  return set;
}
constexpr std::uint16_t nibble(int n) {
  return nibbles(n, n);
}

constexpr std::uint16_t kAnyNibble = nibbles(0x0, 0xF);
constexpr std::uint16_t kAscii = nibbles(0x0, 0x7);         // 00..7F
constexpr std::uint16_t kContinuation = nibbles(0x8, 0xB);  // 80..BF
constexpr std::uint16_t kLead = nibbles(0xC, 0xF);          // C0..FF

struct FaultyPairs {
  std::uint16_t previous_high;
  std::uint16_t previous_low;
  std::uint16_t current_high;
};

// Bit i of a table entry stands for FAULTY_PAIRS[i]. The kinds are chosen so that each is
// exactly the product of its three nibble sets; two kinds share no bit, so they never mix.
constexpr std::array<FaultyPairs, 8> FAULTY_PAIRS = {{
    // A lead byte (C0..FF) followed by a byte that is not a continuation: a cut sequence.
    {kLead, kAnyNibble, kAscii | kLead},
    // A continuation right after an ASCII byte.
    {kAscii, kAnyNibble, kContinuation},
    // C0 or C1 and a continuation: an overlong two-byte form (below U+0080).
    {nibble(0xC), nibbles(0x0, 0x1), kContinuation},
    // E0 and 80..9F: an overlong three-byte form (below U+0800).
    {nibble(0xE), nibble(0x0), nibbles(0x8, 0x9)},
    // ED and A0..BF: an encoded surrogate (U+D800 to U+DFFF).
    {nibble(0xE), nibble(0xD), nibbles(0xA, 0xB)},
    // F0 and 80..8F: an overlong four-byte form (below U+10000); F5..FF and 80..8F: above
    // U+10FFFF. One kind, as both sets of leads take the same continuations.
    {nibble(0xF), nibble(0x0) | nibbles(0x5, 0xF), nibble(0x8)},
    // F4..FF and 90..BF: above U+10FFFF.
    {nibble(0xF), nibbles(0x4, 0xF), nibbles(0x9, 0xB)},
    // TWO_CONTINUATIONS: a continuation after a continuation, faulty or not (see above).
    {kContinuation, kAnyNibble, kContinuation},
}};
constexpr std::uint8_t kTwoContinuations = 0x80;

// The table entry for every nibble value: the kinds whose set (chosen by `set_of`) holds it.
template <typename SetOf>
constexpr std::array<std::uint8_t, 16> pair_table(SetOf set_of) {
  std::array<std::uint8_t, 16> table{};
  for (std::size_t n = 0; n < 16; ++n) {
    for (std::size_t kind = 0; kind < FAULTY_PAIRS.size(); ++kind) {
      if ((set_of(FAULTY_PAIRS[kind]) >> n) & 1) table[n] |= static_cast<std::uint8_t>(1u << kind);
    }
  }
  return table;
}
constexpr auto BY_PREVIOUS_HIGH = pair_table([](FaultyPairs k) { return k.previous_high; });
constexpr auto BY_PREVIOUS_LOW = pair_table([](FaultyPairs k) { return k.previous_low; });
constexpr auto BY_CURRENT_HIGH = pair_table([](FaultyPairs k) { return k.current_high; });

static_assert(FAULTY_PAIRS[7].previous_high == kContinuation &&
                  FAULTY_PAIRS[7].current_high == kContinuation,
              "the wider view flips bit 7, which must be TWO_CONTINUATIONS");

// The tables in both 16-byte lanes, as the byte shuffle looks up within each lane.
struct PairTables {
  __m256i by_previous_high;
  __m256i by_previous_low;
  __m256i by_current_high;
};

__attribute__((target("avx2"))) inline __m256i broadcast_table(
    const std::array<std::uint8_t, 16>& table) {
  return _mm256_broadcastsi128_si256(
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(table.data())));
}

// The nibble tables' answer for each byte of `table_index` (values 0..15).
__attribute__((target("avx2"))) inline __m256i look_up(__m256i table, __m256i table_index) {
  return _mm256_shuffle_epi8(table, table_index);
}

__attribute__((target("avx2"))) inline __m256i high_nibbles(__m256i bytes) {
  return _mm256_and_si256(_mm256_srli_epi16(bytes, 4), _mm256_set1_epi8(0x0F));
}

// Nonzero bytes wherever `block`, preceded by `previous` (the block before it, zero at the start
// of the text), holds a fault other than a sequence cut at the end.
__attribute__((target("avx2"))) inline __m256i block_faults(const PairTables& tables,
                                                            __m256i previous, __m256i block) {
  // The 32 bytes before each byte of the block by one, two and three positions: the last
  // bytes of `previous`, then the block itself. The byte shift works within 16-byte lanes, so
  // each lane takes its earlier bytes from `spliced`, the lane just before it.
  const __m256i spliced = _mm256_permute2x128_si256(previous, block, 0x21);
  const __m256i before1 = _mm256_alignr_epi8(block, spliced, 15);
  const __m256i before2 = _mm256_alignr_epi8(block, spliced, 14);
  const __m256i before3 = _mm256_alignr_epi8(block, spliced, 13);

  const __m256i pair_faults = _mm256_and_si256(
      _mm256_and_si256(
          look_up(tables.by_previous_high, high_nibbles(before1)),
          look_up(tables.by_previous_low, _mm256_and_si256(before1, _mm256_set1_epi8(0x0F)))),
      look_up(tables.by_current_high, high_nibbles(block)));

  // Third or fourth byte of a sequence: two back is E0..FF, or three back is F0..FF. The
  // saturating subtractions leave 0 exactly where neither holds, and at most 0x30 elsewhere.
  const __m256i third = _mm256_subs_epu8(before2, _mm256_set1_epi8(static_cast<char>(0xE0 - 1)));
  const __m256i fourth = _mm256_subs_epu8(before3, _mm256_set1_epi8(static_cast<char>(0xF0 - 1)));
  const __m256i continued =
      _mm256_and_si256(_mm256_cmpgt_epi8(_mm256_or_si256(third, fourth), _mm256_setzero_si256()),
                       _mm256_set1_epi8(static_cast<char>(kTwoContinuations)));
  return _mm256_xor_si256(pair_faults, continued);
}

// Nonzero when the block ends inside a sequence: a lead byte (C0..) as the last byte, a lead of
// three or four bytes (E0..) as the one before, or a lead of four bytes (F0..) before that.
__attribute__((target("avx2"))) inline __m256i cut_at_end(__m256i block) {
  const __m256i largest_complete = _mm256_setr_epi8(
      -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,  //
      -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,              //
      static_cast<char>(0xF0 - 1), static_cast<char>(0xE0 - 1), static_cast<char>(0xC0 - 1));
  return _mm256_subs_epu8(block, largest_complete);
}

// Byte shuffle indices: the 16 read from offset s (1 to 16) move bytes s..15 of a vector down to
// its start and clear the other bytes.
constexpr std::array<std::uint8_t, 32> SHIFT_DOWN = [] {
  std::array<std::uint8_t, 32> table{};
  for (std::size_t k = 0; k < 32; ++k)
    table[k] = static_cast<std::uint8_t>(k < 16 ? k : 0x80);
  return table;
}();

template <typename Word>
inline Word load_word(const unsigned char* p) {
  Word word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// The `size` (1 to 31) bytes at `p` followed by zeros, from loads that stay within those bytes
// and may overlap. Zeros are ASCII, so a sequence cut by the end shows as a lead byte that is
// not followed by a continuation. (Copying the bytes to a zeroed buffer would do the same, but
// the wide load right after narrow stores stalls, which costs short texts dearly.)
__attribute__((target("avx2"))) inline __m256i load_tail(const unsigned char* p, std::size_t size) {
  if (size >= 16) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i last = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + size - 16));
    const __m128i high = _mm_shuffle_epi8(
        last, _mm_loadu_si128(reinterpret_cast<const __m128i*>(SHIFT_DOWN.data() + 32 - size)));
    return _mm256_set_m128i(high, low);
  }
  std::uint64_t low = 0;
  std::uint64_t high = 0;
  if (size > 8) {
    low = load_word<std::uint64_t>(p);
    high = load_word<std::uint64_t>(p + size - 8) >> (8 * (16 - size));
  } else if (size >= 4) {
    // The two words overlap where both hold the same bytes, so or-ing them is exact.
    low = load_word<std::uint32_t>(p) | std::uint64_t{load_word<std::uint32_t>(p + size - 4)}
                                            << (8 * (size - 4));
  } else {
    low = p[0] | std::uint64_t{p[size / 2]} << (8 * (size / 2)) |
          std::uint64_t{p[size - 1]} << (8 * (size - 1));
  }
  return _mm256_zextsi128_si256(
      _mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low)));
}

struct Avx2Validation {
  PairTables tables;
  __m256i previous;  // the block checked last
  __m256i faults;    // nonzero bytes once any fault was seen
  __m256i cut;       // whether `previous` ends inside a sequence
};

__attribute__((target("avx2"))) inline void check_block(Avx2Validation& v, __m256i block) {
  if (_mm256_movemask_epi8(block) == 0) {
    // All ASCII: no fault inside, but the block before must not have ended inside a sequence.
    v.faults = _mm256_or_si256(v.faults, v.cut);
    v.cut = _mm256_setzero_si256();
  } else {
    v.faults = _mm256_or_si256(v.faults, block_faults(v.tables, v.previous, block));
    v.cut = cut_at_end(block);
  }
  v.previous = block;
}

__attribute__((target("avx2"))) bool valid_utf8_avx2(const unsigned char* p, std::size_t size) {
  Avx2Validation v{{broadcast_table(BY_PREVIOUS_HIGH), broadcast_table(BY_PREVIOUS_LOW),
                    broadcast_table(BY_CURRENT_HIGH)},
                   _mm256_setzero_si256(),
                   _mm256_setzero_si256(),
                   _mm256_setzero_si256()};
  for (; size >= 32; p += 32, size -= 32)
    check_block(v, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
  if (size != 0) check_block(v, load_tail(p, size));
  return _mm256_testz_si256(_mm256_or_si256(v.faults, v.cut), _mm256_set1_epi8(-1)) != 0;
}
#endif

using Validator = bool (*)(std::string_view);

Validator choose_validator() {
#if TARVIK_AVX2
  return utf8_detail::has_avx2() ? utf8_detail::is_valid_utf8_avx2
                                 : utf8_detail::is_valid_utf8_scalar;
#else
  return utf8_detail::is_valid_utf8_scalar;
#endif
}

}  // namespace

namespace utf8_detail {

bool has_avx2() {
  return platform::cpu_has_avx2();
}

bool is_valid_utf8_scalar(std::string_view text) {
  const auto* const p = reinterpret_cast<const unsigned char*>(text.data());
  return valid_utf8_by_sequence(p, p + text.size());
}

#if TARVIK_AVX2
bool is_valid_utf8_avx2(std::string_view text) {
  return valid_utf8_avx2(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}
#endif

}  // namespace utf8_detail

bool is_valid_utf8(std::string_view text) {
  static const Validator validator = choose_validator();
  return validator(text);
}

}  // namespace tarvik::json
