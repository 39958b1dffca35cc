// The writer's spelling of a float, both ways: writing the shortest digits in their layout, and
// judging a read text against it (the layout first, the double's rounding interval, the shortest).
#include "json/text/float_text.hpp"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <utility>

#include "json/text/simd.hpp"

#include "json/text/first_bytes.hpp"
#include "json/text/float_digits.hpp"
#include "json/text/pow10.hpp"
#include "json/text/written_digits.hpp"

namespace tarvik::json {

namespace {

static_assert(std::endian::native == std::endian::little, "digit words put the first digit low");

// Whether a × 10^ea and b × 10^eb are the same decimal, for a and b from 1 up.
inline bool same_decimal(std::uint64_t a, int ea, std::uint64_t b, int eb) {
  if (ea < eb) {
    std::swap(a, b);
    std::swap(ea, eb);
  }
  // b has no more than 20 digits, so a × 10^(ea - eb) with a larger gap exceeds it.
  return ea - eb < static_cast<int>(POW10_U64.size()) &&
         static_cast<unsigned __int128>(a) * POW10_U64[ea - eb] == b;
}

// "e-324" to "e+308": the exponent part of a float, indexed by the exponent + 324.
struct ExponentText {
  char bytes[7];
  std::uint8_t length;
};
constexpr int kMinDecimalExponent = -324;
constexpr int kMaxDecimalExponent = 308;
constexpr std::array<ExponentText, kMaxDecimalExponent - kMinDecimalExponent + 1> EXPONENT_TEXT =
    [] {
      std::array<ExponentText, kMaxDecimalExponent - kMinDecimalExponent + 1> table{};
      for (int e = kMinDecimalExponent; e <= kMaxDecimalExponent; ++e) {
        ExponentText& entry = table[e - kMinDecimalExponent];
        int magnitude = e < 0 ? -e : e;
        const int digits = magnitude >= 100 ? 3 : magnitude >= 10 ? 2 : 1;
        entry.bytes[0] = 'e';
        entry.bytes[1] = e < 0 ? '-' : '+';
        for (int i = digits - 1; i >= 0; --i) {
          entry.bytes[2 + i] = static_cast<char>('0' + magnitude % 10);
          magnitude /= 10;
        }
        entry.length = static_cast<std::uint8_t>(2 + digits);
      }
      return table;
    }();

#if TARVIK_SSE2
// The sixteen decimal digits of high × 10^8 + low (both below 10^8) as byte values 0..9, the
// first digit in the lowest byte. Each step splits all groups at once, with multiply-shift
// divisions exact in their ranges: by 10^4 below 2^32, by 100 below 10^4, by 10 below 100.
[[gnu::always_inline]] inline __m128i sixteen_digit_values(std::uint32_t high, std::uint32_t low) {
  const __m128i eights = _mm_set_epi64x(low, high);
  const __m128i fours_high = _mm_srli_epi64(_mm_mul_epu32(eights, _mm_set1_epi64x(0xD1B71759)), 45);
  const __m128i fours_low =
      _mm_sub_epi64(eights, _mm_mul_epu32(fours_high, _mm_set1_epi64x(10000)));
  const __m128i fours = _mm_or_si128(fours_high, _mm_slli_epi64(fours_low, 32));
  const __m128i twos_high = _mm_srli_epi16(_mm_mulhi_epu16(fours, _mm_set1_epi16(5243)), 3);
  const __m128i twos_low = _mm_sub_epi16(fours, _mm_mullo_epi16(twos_high, _mm_set1_epi16(100)));
  const __m128i twos = _mm_or_si128(twos_high, _mm_slli_epi32(twos_low, 16));
  const __m128i tens = _mm_mulhi_epu16(twos, _mm_set1_epi16(6554));
  const __m128i units = _mm_sub_epi16(twos, _mm_mullo_epi16(tens, _mm_set1_epi16(10)));
  return _mm_or_si128(tens, _mm_slli_epi16(units, 8));
}

// Lays out significand × 10^exponent at `p` and returns the end of the text. The significand is
// first scaled to exactly 17 digits d1..d17 (trailing zeros are digits too), so the first digit
// is known to lead and the other sixteen sit in one vector in order; each layout is then a few
// stores of that vector at its place, and the plain layout with a point among the digits blends
// the vector with itself moved by one byte. Needs 36 bytes of room at `p`.
char* write_decimal(DecimalFloat decimal, char* p) {
  constexpr std::uint64_t kTen8 = 100'000'000;
  constexpr std::uint64_t kTen16 = kTen8 * kTen8;
  constexpr int kDigits = 17;
  const int count = decimal_digit_count(decimal.significand);
  const std::uint64_t scaled = decimal.significand * POW10_U64[kDigits - count];
  const int e = decimal.exponent + count - 1;  // the exponent of d1
  const std::uint64_t first = scaled / kTen16;
  const std::uint64_t rest = scaled - first * kTen16;
  const std::uint64_t upper = rest / kTen8;
  const __m128i values = sixteen_digit_values(static_cast<std::uint32_t>(upper),
                                              static_cast<std::uint32_t>(rest - upper * kTen8));
  // Bit i is set when d(i+2) is not zero; d1 never is.
  const auto nonzero = static_cast<unsigned>(
      ~_mm_movemask_epi8(_mm_cmpeq_epi8(values, _mm_setzero_si128())) & 0xFFFF);
  const int n = 1 + std::bit_width(nonzero);                      // significant digits
  const __m128i tail = _mm_or_si128(values, _mm_set1_epi8('0'));  // d2..d17 as text
  const char lead = static_cast<char>('0' + first);

  if (e < 0 && e >= kLeastPlainExponent) {
    std::memcpy(p, "0.000000", 8);
    p[1 - e] = lead;
    store_16(p + 2 - e, tail);
    return p + 1 - e + n;
  }
  if (e < kLeastPlainExponent || e > kMostPlainExponent) {
    p[0] = lead;
    p[1] = '.';
    store_16(p + 2, tail);
    p += n > 1 ? n + 1 : 1;
    const ExponentText& exponent = EXPONENT_TEXT[e - kMinDecimalExponent];
    std::memcpy(p, exponent.bytes, sizeof exponent.bytes);
    return p + exponent.length;
  }
  p[0] = lead;
  if (e >= n - 1) {
    // Integral: d1..d(e+1), zeros included, then ".0".
    store_16(p + 1, tail);
    std::memcpy(p + e + 1, ".0", 2);
    return p + e + 3;
  }
  // d1..d(e+1), the point, d(e+2)..dn: the first e of the sixteen stay, the rest move one on.
  const __m128i keep = first_bytes(e);
  store_16(p + 1, _mm_or_si128(_mm_and_si128(keep, tail),
                               _mm_andnot_si128(keep, _mm_slli_si128(tail, 1))));
  p[e + 1] = '.';
  p[17] = static_cast<char>(_mm_extract_epi16(tail, 7) >> 8);  // d17, which moved past the store
  return p + n + 1;
}
#else
// write_decimal with the sixteen digits d2..d17 in bytes: the same layouts, the same bytes
// written at `p` (36 bytes of room).
char* write_decimal(DecimalFloat decimal, char* p) {
  constexpr std::uint64_t kTen16 = 10'000'000'000'000'000;
  constexpr int kDigits = 17;
  const int count = decimal_digit_count(decimal.significand);
  const std::uint64_t scaled = decimal.significand * POW10_U64[kDigits - count];
  const int e = decimal.exponent + count - 1;  // the exponent of d1
  const std::uint64_t first = scaled / kTen16;
  std::uint64_t rest = scaled - first * kTen16;
  char tail[16];  // d2..d17 as text
  for (int i = 15; i >= 0; --i, rest /= 10)
    tail[i] = static_cast<char>('0' + rest % 10);
  int n = kDigits;  // significant digits
  while (n > 1 && tail[n - 2] == '0')
    --n;
  const char lead = static_cast<char>('0' + first);

  if (e < 0 && e >= kLeastPlainExponent) {
    std::memcpy(p, "0.000000", 8);
    p[1 - e] = lead;
    std::memcpy(p + 2 - e, tail, sizeof tail);
    return p + 1 - e + n;
  }
  if (e < kLeastPlainExponent || e > kMostPlainExponent) {
    p[0] = lead;
    p[1] = '.';
    std::memcpy(p + 2, tail, sizeof tail);
    p += n > 1 ? n + 1 : 1;
    const ExponentText& exponent = EXPONENT_TEXT[e - kMinDecimalExponent];
    std::memcpy(p, exponent.bytes, sizeof exponent.bytes);
    return p + exponent.length;
  }
  p[0] = lead;
  if (e >= n - 1) {
    std::memcpy(p + 1, tail, sizeof tail);
    std::memcpy(p + e + 1, ".0", 2);
    return p + e + 3;
  }
  std::memcpy(p + 1, tail, e);
  p[e + 1] = '.';
  std::memcpy(p + e + 2, tail + e, sizeof tail - e);
  return p + n + 1;
}
#endif

}  // namespace

bool is_shortest_decimal(std::uint64_t significand, int exponent, std::uint64_t magnitude) {
  const DecimalFloat shortest = shortest_decimal(magnitude);
  return same_decimal(significand, exponent, shortest.significand, shortest.exponent);
}

std::size_t write_float_text(double value, char* out) {
  constexpr std::uint64_t kSignBit = std::uint64_t{1} << 63;
  constexpr std::uint64_t kExponentBits = std::uint64_t{0x7FF} << 52;
  const auto bits = std::bit_cast<std::uint64_t>(value);
  if ((bits & kExponentBits) == kExponentBits) {
    std::memcpy(out, "null", 4);
    return 4;
  }
  char* p = out;
  if ((bits & kSignBit) != 0) *p++ = '-';
  const std::uint64_t magnitude = bits & ~kSignBit;
  if (magnitude == 0) {
    std::memcpy(p, "0.0", 3);
    return static_cast<std::size_t>(p + 3 - out);
  }
  return static_cast<std::size_t>(write_decimal(shortest_decimal(magnitude), p) - out);
}

std::size_t write_float(double value, char* out) {
  char text[kFloatRoom];
  const std::size_t length = write_float_text(value, text);
  std::memcpy(out, text, length);
  return length;
}

bool is_written_float_text(const NumberText& number, const char* end, double value) {
  constexpr std::uint64_t kSignBit = std::uint64_t{1} << 63;
  constexpr std::uint64_t kSmallestNormal = std::uint64_t{1} << 52;
  constexpr std::uint64_t kMostWrittenDigits = POW10_U64[17];
  const std::uint64_t magnitude = std::bit_cast<std::uint64_t>(value) & ~kSignBit;
  if (magnitude == 0) return end - number.digits == 3 && std::memcmp(number.digits, "0.0", 3) == 0;
  // A float always has a point or an exponent. Its digits, with the zeros of an integral plain
  // text, never reach 18.
  if ((!number.has_point() && !number.has_exponent()) || number.truncated() ||
      number.significand >= kMostWrittenDigits) {
    return false;
  }
  const int digit_count = decimal_digit_count(number.significand);
  // The exponent of the first digit; a non-zero double keeps the exponent far from its limits.
  const int first_exponent = digit_count + number.exponent - 1;
  if (number.has_exponent()) {
    const char* const letter = number.exponent_letter;
    // d[.ddd]e±x: one non-zero digit before any point, no zero last digit, a lowercase letter,
    // a sign always, no leading zero in the exponent, which is outside the plain range.
    const char* const integral_end = number.has_point() ? number.point : letter;
    if (integral_end - number.digits != 1 || *number.digits == '0' || letter[-1] == '0' ||
        letter[0] != 'e' || letter[1] != (first_exponent < 0 ? '-' : '+') || letter[2] == '0' ||
        is_plain_exponent(first_exponent)) {
      return false;
    }
  } else {
    // ddd.ddd, 0.000ddd or ddd000.0: a zero last digit only in ".0".
    if (!is_plain_exponent(first_exponent) || (end[-1] == '0' && end - number.point != 2)) {
      return false;
    }
  }
  // Distinct decimals of at most 15 digits never read back as one normal double (their spacing
  // exceeds the doubles' by a factor above 4), so such a text is the shortest of its value.
  if (digit_count <= kShortestDigits) {
    if (magnitude >= kSmallestNormal) [[likely]]
      return true;
    return is_shortest_decimal(number.significand, number.exponent, magnitude);
  }
  return has_written_digits(number.significand, number.exponent, magnitude);
}

}  // namespace tarvik::json
