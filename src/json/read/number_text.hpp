// The reader's numbers: digit runs sixteen at a time, the exact path through one rounding, the
// 128-bit product and the whole-text fallback, and where each part of the number's text stands.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "json/text/simd.hpp"

#include "json/read/cursor.hpp"
#include "json/text/decimal_to_double.hpp"
#include "json/text/first_bytes.hpp"
#include "json/text/float_text.hpp"
#include "json/text/pow10.hpp"

namespace tarvik::json::reading {
// Internal to each file that includes it, like all reader layers: the compiler then inlines
// and specializes them as freely as code of that one file (in a named namespace it inlines
// less, and the reader is measurably slower).
namespace {  // NOLINT(cert-dcl59-cpp)

// s * 10 + d overflows 64 bits exactly when s > this, or s == this and d > 5.
inline constexpr std::uint64_t kMaxSignificandDiv10 =
    std::numeric_limits<std::uint64_t>::max() / 10;
// x * 10 + d overflows 32 bits exactly when x > this, or x == this and d > 7.
inline constexpr std::int32_t kMaxExponentDiv10 = std::numeric_limits<std::int32_t>::max() / 10;
// A significand of at most this many digits stays below 10^19, so below 2^64.
inline constexpr std::ptrdiff_t kSafeSignificandDigits = 19;

inline std::int32_t saturate_exponent(std::int64_t exponent) {
  return static_cast<std::int32_t>(
      std::clamp<std::int64_t>(exponent, std::numeric_limits<std::int32_t>::min(),
                               std::numeric_limits<std::int32_t>::max()));
}

// INV_POW5[k] × 5^k = 1 modulo 2^64, so a multiple of 10^k divided by 10^k is a shift and a
// product.
inline constexpr std::array<std::uint64_t, 17> INV_POW5 = [] {
  std::array<std::uint64_t, 17> table{};
  std::uint64_t power = 1;
  for (std::uint64_t& entry : table) {
    // Newton's step x(2 - px) doubles the correct low bits; x = p is right to three bits.
    std::uint64_t inverse = power;
    for (int step = 0; step < 5; ++step)
      inverse *= 2 - power * inverse;
    entry = inverse;
    power *= 5;
  }
  return table;
}();

// The digits that start the sixteen bytes at `p`, at most `most` (0 to 16) of them: how many
// and their value.
struct DigitRun {
  int count;
  std::uint64_t value;
};

inline DigitRun read_digit_run(const char* p, int most) {
#if TARVIK_SSE2
  const __m128i values =
      _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), _mm_set1_epi8('0'));
  // As an unsigned byte, a digit's value is at most 9 and every other byte's is above.
  const __m128i above_nine = _mm_subs_epu8(values, _mm_set1_epi8(9));
  const auto digits =
      static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(above_nine, _mm_setzero_si128())));
  const int count = std::min(std::countr_zero(~digits), most);  // ~digits has bit 16 set
  // The run followed by zeros reads as a sixteen-digit number, the run's value × 10^(16-count):
  // neighbouring digits combine into pairs, fours and eights.
  const __m128i run = _mm_and_si128(values, first_bytes(count));
  const __m128i pairs =
      _mm_add_epi16(_mm_mullo_epi16(_mm_and_si128(run, _mm_set1_epi16(0xFF)), _mm_set1_epi16(10)),
                    _mm_srli_epi16(run, 8));
  const __m128i fours = _mm_madd_epi16(pairs, _mm_set1_epi32(0x0001'0064));  // × 100, × 1
  const __m128i eights =
      _mm_madd_epi16(_mm_packs_epi32(fours, fours), _mm_set1_epi32(0x0001'2710));  // × 10^4, × 1
  const auto halves = static_cast<std::uint64_t>(_mm_cvtsi128_si64(eights));
  const std::uint64_t padded = (halves & 0xFFFF'FFFF) * 100'000'000 + (halves >> 32);
  const int zeros = 16 - count;
  return {count, (padded >> zeros) * INV_POW5[zeros]};
#else
  DigitRun run{0, 0};
  while (run.count < most && is_digit(p[run.count]))
    run.value = run.value * 10 + static_cast<unsigned char>(p[run.count++] - '0');
  return run;
#endif
}

// Reads numbers, and the literals and numbers together as the scalars that are neither strings
// nor containers; `number_` keeps the parts of the number read last.
class NumberReader : public Cursor {
 protected:
  explicit NumberReader(std::string_view input) : Cursor(input) {}

  // null, true, false or a number at the read position, which holds a byte.
  bool read_literal_or_number(Value& out) {
    switch (peek()) {
      case 'n':
      case 't':
      case 'f':
        return read_literal(out);
      case '-':
        ++pos_;
        return parse_integer(false, out);
      case '0':
      case '1':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7':
      case '8':
      case '9':
        return parse_integer(true, out);
      default:
        return fail_peek(ErrorCode::ExpectedSomeValue);
    }
  }

  // A number after its optional "-" was consumed.
  bool parse_integer(bool positive, Value& out) {
    number_.digits = pos_;
    if (pos_ == end_) return fail(ErrorCode::EofWhileParsingValue);
    const unsigned char first = peek();
    ++pos_;
    if (first == '0') {
      if (pos_ != end_ && is_digit(peek())) return fail_peek(ErrorCode::InvalidNumber);
      return read_number_tail(positive, 0, out);
    }
    if (!is_digit(first)) return fail(ErrorCode::InvalidNumber);
    std::uint64_t significand = first - '0';
    // Floats mostly have one or two integer digits: only a third digit calls for a run.
    if (pos_ != end_ && is_digit(peek())) {
      if (end_ - pos_ < 2 || !is_digit(pos_[1])) {
        significand = significand * 10 + (peek() - '0');
        ++pos_;
      } else {
        take_digit_run(significand, 1);
        while (pos_ != end_ && is_digit(peek())) {
          const unsigned digit = peek() - '0';
          if (significand > kMaxSignificandDiv10 ||
              (significand == kMaxSignificandDiv10 && digit > 5)) {
            return parse_long_integer(positive, significand, out);
          }
          ++pos_;
          significand = significand * 10 + digit;
        }
      }
    }
    return read_number_tail(positive, significand, out);
  }

  // Takes up to sixteen digits at once, as many as keep the significand, which holds
  // `significand_digits` digits or fewer, below 19 digits; the digit-by-digit loops that follow
  // take the rest with the exact overflow test.
  void take_digit_run(std::uint64_t& significand, std::ptrdiff_t significand_digits) {
    if (end_ - pos_ < 16 || significand_digits >= kSafeSignificandDigits) return;
    const DigitRun run =
        read_digit_run(pos_, static_cast<int>(std::min<std::ptrdiff_t>(
                                 16, kSafeSignificandDigits - significand_digits)));
    significand = significand * POW10_U64[run.count] + run.value;
    pos_ += run.count;
  }

  // After the integer digits: a fraction, an exponent, or the end of an integer. This step, the
  // fraction and the exact scaling are inlined into parse_integer, the common path of a float.
  [[gnu::always_inline]] bool read_number_tail(bool positive, std::uint64_t significand,
                                               Value& out) {
    if (pos_ != end_) {
      if (*pos_ == '.') return parse_decimal(positive, significand, 0, out);
      if ((*pos_ | 0x20) == 'e') return parse_exponent(positive, significand, 0, out);
    }
    if (positive) {
      out = Value::number(Number::non_negative(significand));
    } else if (significand == 0) {
      out = Value::number(Number::floating(-0.0));  // "-0" is a float, not the integer 0
    } else if (significand <= (1ULL << 63)) {
      out = Value::number(Number::negative(static_cast<std::int64_t>(0 - significand)));
    } else {
      out = Value::number(Number::floating(-static_cast<double>(significand)));
    }
    return true;
  }

  // Integer digits beyond 64 bits are dropped; each one raises the exponent instead.
  [[gnu::noinline]] bool parse_long_integer(bool positive, std::uint64_t significand, Value& out) {
    number_.truncation = pos_;
    const char* const first = pos_;
    while (pos_ != end_ && is_digit(peek()))
      ++pos_;
    const std::int32_t exponent = saturate_exponent(pos_ - first);
    if (pos_ != end_) {
      if (*pos_ == '.') return parse_decimal(positive, significand, exponent, out);
      if ((*pos_ | 0x20) == 'e') return parse_exponent(positive, significand, exponent, out);
    }
    return scale_by_power_of_ten(positive, significand, exponent, out);
  }

  [[gnu::always_inline]] bool parse_decimal(bool positive, std::uint64_t significand,
                                            std::int32_t exponent, Value& out) {
    number_.point = pos_;
    ++pos_;
    const char* const first = pos_;
    // The integer digits, leading zero included, bound those of the significand.
    take_digit_run(significand, first - 1 - number_.digits);
    while (pos_ != end_ && is_digit(peek())) {
      const unsigned digit = peek() - '0';
      if (significand > kMaxSignificandDiv10 ||
          (significand == kMaxSignificandDiv10 && digit > 5)) {
        return parse_decimal_overflow(
            positive, significand, saturate_exponent(std::int64_t{exponent} - (pos_ - first)), out);
      }
      ++pos_;
      significand = significand * 10 + digit;
    }
    if (pos_ == first) {
      return fail_peek(pos_ == end_ ? ErrorCode::EofWhileParsingValue : ErrorCode::InvalidNumber);
    }
    // Only a significand of 0 takes unboundedly many digits here, hence the saturation.
    const std::int32_t scaled = saturate_exponent(std::int64_t{exponent} - (pos_ - first));
    if (pos_ != end_ && (*pos_ | 0x20) == 'e') {
      return parse_exponent(positive, significand, scaled, out);
    }
    return scale_by_power_of_ten(positive, significand, scaled, out);
  }

  // Fraction digits beyond 64 bits are dropped without changing the exponent.
  [[gnu::noinline]] bool parse_decimal_overflow(bool positive, std::uint64_t significand,
                                                std::int32_t exponent, Value& out) {
    number_.truncation = pos_;
    while (pos_ != end_ && is_digit(peek()))
      ++pos_;
    if (pos_ != end_ && (*pos_ | 0x20) == 'e') {
      return parse_exponent(positive, significand, exponent, out);
    }
    return scale_by_power_of_ten(positive, significand, exponent, out);
  }

  bool parse_exponent(bool positive, std::uint64_t significand, std::int32_t exponent, Value& out) {
    number_.exponent_letter = pos_;
    ++pos_;
    bool positive_exponent = true;
    if (pos_ != end_ && (*pos_ == '+' || *pos_ == '-')) {
      positive_exponent = *pos_ == '+';
      ++pos_;
    }
    if (pos_ == end_) return fail(ErrorCode::EofWhileParsingValue);
    const unsigned char first = peek();
    ++pos_;
    if (!is_digit(first)) return fail(ErrorCode::InvalidNumber);
    std::int32_t written = first - '0';
    while (pos_ != end_ && is_digit(peek())) {
      const int digit = peek() - '0';
      ++pos_;
      if (written > kMaxExponentDiv10 || (written == kMaxExponentDiv10 && digit > 7)) {
        return parse_exponent_overflow(positive, significand, positive_exponent, out);
      }
      written = written * 10 + digit;
    }
    const std::int64_t total =
        positive_exponent ? std::int64_t{exponent} + written : std::int64_t{exponent} - written;
    return scale_by_power_of_ten(positive, significand, saturate_exponent(total), out);
  }

  // A written exponent beyond 32 bits: too large for any significand but 0, or else zero.
  [[gnu::noinline]] bool parse_exponent_overflow(bool positive, std::uint64_t significand,
                                                 bool positive_exponent, Value& out) {
    if (significand != 0 && positive_exponent) return fail(ErrorCode::NumberOutOfRange);
    while (pos_ != end_ && is_digit(peek()))
      ++pos_;
    out = Value::number(Number::floating(positive ? 0.0 : -0.0));
    return true;
  }

  // The double nearest to the number just read (ties to even), held as significand *
  // 10^exponent with digits past 64 bits dropped. When the significand and the power of ten are
  // both exact doubles, one multiplication or division rounds correctly.
  [[gnu::always_inline]] bool scale_by_power_of_ten(bool positive, std::uint64_t significand,
                                                    std::int32_t exponent, Value& out) {
    constexpr std::uint64_t kExactSignificand = std::uint64_t{1} << 53;
    constexpr std::int32_t kExactPower = 22;
    number_.significand = significand;
    number_.exponent = exponent;
    if (significand > kExactSignificand || exponent < -kExactPower || exponent > kExactPower) {
      return scale_by_large_power(positive, significand, exponent, out);
    }
    double f = static_cast<double>(significand);
    f = exponent >= 0 ? f * POW10[exponent] : f / POW10[-exponent];
    out = Value::number(Number::floating(positive ? f : -f));
    return true;
  }

  // The rest of scale_by_power_of_ten: one 128-bit product decides nearly always. When it
  // cannot, or digits were dropped, the number's whole text is converted, so no digit and no
  // rounding step is lost.
  [[gnu::noinline]] bool scale_by_large_power(bool positive, std::uint64_t significand,
                                              std::int32_t exponent, Value& out) {
    double f = 0.0;
    if (std::uint64_t bits = 0;
        significand != 0 && !number_.truncated() && nearest_double(significand, exponent, bits)) {
      f = std::bit_cast<double>(bits);
    } else {
      const auto [end, status] = std::from_chars(number_.digits, pos_, f);
      if (end != pos_) throw std::logic_error("number text not read to its end");
      if (status == std::errc::result_out_of_range) {
        // Out of range above for a non-negative exponent, below (towards zero) otherwise.
        if (exponent >= 0) return fail(ErrorCode::NumberOutOfRange);
        f = 0.0;
      }
    }
    out = Value::number(Number::floating(positive ? f : -f));
    return true;
  }

  NumberText number_{begin_};  // the number being read
};

}  // namespace
}  // namespace tarvik::json::reading
