// The reader's numbers: digit runs sixteen at a time, the exact path through one rounding, the
// 128-bit product and the whole-text fallback, and where each part of the number's text stands.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
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

#if TARVIK_SSE2
// Bit i is set when byte i of `bytes` is a digit.
[[gnu::always_inline]] inline unsigned digit_bits(__m128i bytes) {
  const __m128i values = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
  // As an unsigned byte, a digit's value is at most 9 and every other byte's is above.
  const __m128i above_nine = _mm_subs_epu8(values, _mm_set1_epi8(9));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(above_nine, _mm_setzero_si128())));
}

// The number the first `count` (0 to 16) bytes of `bytes` spell, all of them digits.
[[gnu::always_inline]] inline std::uint64_t digit_run_value(__m128i bytes, int count) {
  const __m128i values = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
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
  return (padded >> zeros) * INV_POW5[zeros];
}

// The number the first `count` (1 to 8) bytes at `p` spell, all of them digits: the digits, moved
// to the top of a word behind zeros, combine into pairs, fours and the eight.
[[gnu::always_inline]] inline std::uint64_t short_run_value(const char* p, int count) {
  std::uint64_t word = 0;
  std::memcpy(&word, p, sizeof word);
  // Digit bytes are '0' or above: the subtraction borrows only from the bytes shifted out.
  word = (word - 0x3030'3030'3030'3030) << (64 - 8 * count);
  word = (word * (10 << 8 | 1)) >> 8;
  word = ((word & 0x00FF'00FF'00FF'00FF) * (100 << 16 | 1)) >> 16;
  return ((word & 0x0000'FFFF'0000'FFFF) * (std::uint64_t{10000} << 32 | 1)) >> 32;
}

// Bit i is set when byte i of `bytes` is the digit 0.
[[gnu::always_inline]] inline unsigned zero_bits(__m128i bytes) {
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('0'))));
}

// Bit i is set when byte i of `bytes` is a point.
[[gnu::always_inline]] inline unsigned point_bits(__m128i bytes) {
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('.'))));
}

[[gnu::always_inline]] inline __m128i load_16(const char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
#endif

inline DigitRun read_digit_run(const char* p, int most) {
#if TARVIK_SSE2
  const __m128i bytes = load_16(p);
  const int count = std::min(std::countr_zero(~digit_bits(bytes)), most);  // ~ has bit 16 set
  return {count, digit_run_value(bytes, count)};
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
        return read_number(false, out);
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
        return read_number(true, out);
      default:
        return fail_peek(ErrorCode::ExpectedSomeValue);
    }
  }

  // A number after its optional "-" was consumed: in plain form where it can, else step by step.
  // Out of line, so that literals are read without saving the registers a number needs.
  [[gnu::noinline]] bool read_number(bool positive, Value& out) {
#if TARVIK_SSE2
    if (end_ - pos_ >= kPlainWindow && read_plain_number(positive, out)) return true;
#endif
    return parse_integer(positive, out);
  }

  // A number at the read position, which holds a "-" or a digit, read only to tell whether the
  // writer writes it as its text stands (`written`): an integer in range is written as the digits
  // it was read from, any other number by the float writer. False with the error stored.
  [[gnu::always_inline]] bool skim_number(bool& written) {
    const bool positive = peek() != '-';
    if (!positive) ++pos_;
#if TARVIK_SSE2
    if (end_ - pos_ >= kPlainWindow) {
      if (const PlainForm form = skim_plain_number(positive); form != PlainForm::Unread) {
        written = form == PlainForm::Written;
        return true;
      }
    }
#endif
    Value value;
    if (!read_number(positive, value)) return false;
    const Number number = value.as_number();
    written =
        number.form() != NumberForm::Float || is_written_float(number_, pos_, number.as_float());
    return true;
  }

#if TARVIK_SSE2
  // The bytes read_plain_number may look at, from the number's first digit: sixteen, a point and
  // sixteen after it, and the one after those.
  static constexpr std::ptrdiff_t kPlainWindow = 34;

  // A number in plain form, "ddd" or "ddd.ddd" with at most 15 integer digits and 19 digits in
  // all, which most numbers are: where the point and the end are is read off the digit bits of
  // the sixteen bytes from the first digit and of the sixteen after the point, and the digits'
  // value from one vector that holds the first sixteen without the point. Returns false, having
  // consumed nothing, for any other text: parse_integer then reads it, errors included.
  [[gnu::always_inline]] bool read_plain_number(bool positive, Value& out) {
    const char* const p = pos_;
    if (const unsigned char second = p[1]; !is_digit(second) && second != '.') {
      // A single digit, the most common integer: no vector needed.
      const unsigned lead = static_cast<unsigned char>(*p - '0');
      if (lead > 9 || (second | 0x20) == 'e') return false;
      number_.digits = p;
      number_.plain = PlainForm::Unread;
      pos_ = p + 1;
      return store_integer(positive, lead, out);
    }
    const __m128i head = load_16(p);
    const int integer_digits = std::countr_zero(~digit_bits(head));  // ~ has bit 16 set
    const char* const after = p + integer_digits;
    if (integer_digits == 0 || integer_digits == kRunDigits || (*p == '0' && integer_digits > 1)) {
      return false;
    }
    number_.digits = p;
    if (*after != '.') {
      if ((*after | 0x20) == 'e') return false;
      number_.plain = PlainForm::Unread;  // an integer; a float only as "-0" or beyond 2^63
      pos_ = after;
      constexpr int kShortRun = 8;
      return store_integer(positive,
                           integer_digits <= kShortRun ? short_run_value(p, integer_digits)
                                                       : digit_run_value(head, integer_digits),
                           out);
    }
    PlainDecimal decimal{};
    if (!read_plain_decimal(p, integer_digits, decimal)) return false;
    const std::uint64_t significand = plain_significand(p, head, decimal);
    number_.point = after;
    number_.significand = significand;
    number_.exponent = -decimal.fraction_digits;
    pos_ = decimal.end;
    double f = 0.0;
    if (!plain_double(significand, decimal.fraction_digits, f)) {
      number_.plain = PlainForm::Unread;
      return scale_by_large_power(positive, significand, -decimal.fraction_digits, out);
    }
    number_.plain =
        plain_form(decimal.significant_digits, decimal.first_exponent, decimal.fraction_digits,
                   decimal.end[-1], significand, std::bit_cast<std::uint64_t>(f));
    out = Value::number(Number::floating(positive ? f : -f));
    return true;
  }

  // A number in plain form read only to tell how its text stands to the writer's spelling, as
  // read_plain_number reads it, the double computed only when the digits are to be judged: an
  // integer of at most 15 digits is written as read ("-0" is a float, left unread). Unread,
  // having consumed nothing, for any other text, or where the digits cannot be judged at once.
  [[gnu::always_inline]] PlainForm skim_plain_number(bool positive) {
    const char* const p = pos_;
    const __m128i head = load_16(p);
    const int integer_digits = std::countr_zero(~digit_bits(head));  // ~ has bit 16 set
    const char* const after = p + integer_digits;
    if (integer_digits == 0 || integer_digits == kRunDigits || (*p == '0' && integer_digits > 1)) {
      return PlainForm::Unread;
    }
    if (*after != '.') {
      if ((*after | 0x20) == 'e' || (!positive && *p == '0')) return PlainForm::Unread;
      pos_ = after;
      return PlainForm::Written;
    }
    PlainDecimal decimal{};
    if (!read_plain_decimal(p, integer_digits, decimal)) return PlainForm::Unread;
    PlainForm form = plain_layout_form(decimal.significant_digits, decimal.first_exponent,
                                       decimal.fraction_digits, decimal.end[-1]);
    if (form == PlainForm::Unread) {
      const std::uint64_t significand = plain_significand(p, head, decimal);
      double f = 0.0;
      if (!plain_double(significand, decimal.fraction_digits, f)) return PlainForm::Unread;
      form = plain_digits_form(significand, decimal.fraction_digits, decimal.end[-1],
                               std::bit_cast<std::uint64_t>(f));
      if (form == PlainForm::Unread) return PlainForm::Unread;
    }
    pos_ = decimal.end;
    return form;
  }

  // Where the parts of a plain decimal "ddd.ddd" stand.
  struct PlainDecimal {
    const char* end;         // past its last digit
    int integer_digits;      // 1 to 15
    int fraction_digits;     // 1 to 16, at most 19 digits in all
    int significant_digits;  // from the first non-zero digit to the end, 0 when all are zero
    int first_exponent;      // the exponent of the first non-zero digit
  };

  // The fraction of a number whose `integer_digits` from `p` are followed by a point: false for
  // a text that is not a plain decimal. Where the significant digits begin is known from the
  // positions alone, before the value.
  [[gnu::always_inline]] static bool read_plain_decimal(const char* p, int integer_digits,
                                                        PlainDecimal& out) {
    const char* const after = p + integer_digits;
    const __m128i fraction = load_16(after + 1);
    const int fraction_digits = std::countr_zero(~digit_bits(fraction));
    const int digit_count = integer_digits + fraction_digits;
    const char* const end = after + 1 + fraction_digits;
    if (fraction_digits == 0 || digit_count > kMostPlainDigits || is_digit(*end) ||
        (*end | 0x20) == 'e') {
      return false;
    }
    out = {end, integer_digits, fraction_digits, digit_count, integer_digits - 1};
    if (*p == '0') {
      const int zeros = std::countr_zero(~zero_bits(fraction));
      out.significant_digits = zeros >= fraction_digits ? 0 : fraction_digits - zeros;
      out.first_exponent = -1 - zeros;
    }
    return true;
  }

  // The value of a plain decimal's digits, from one vector that holds the first sixteen without
  // the point (`head` holds the sixteen bytes from the first digit `p`).
  [[gnu::always_inline]] static std::uint64_t plain_significand(const char* p, __m128i head,
                                                                const PlainDecimal& decimal) {
    const int digit_count = decimal.integer_digits + decimal.fraction_digits;
    // The integer digits stay, the fraction moves one byte back over the point.
    const __m128i keep = first_bytes(decimal.integer_digits);
    const __m128i run =
        _mm_or_si128(_mm_and_si128(keep, head), _mm_andnot_si128(keep, load_16(p + 1)));
    std::uint64_t significand = digit_run_value(run, std::min(digit_count, kRunDigits));
    // Digits past the sixteenth are in the fraction, one byte after their place.
    for (int d = kRunDigits; d < digit_count; ++d)
      significand = significand * 10 + static_cast<unsigned char>(p[d + 1] - '0');
    return significand;
  }

  // The double nearest significand × 10^-fraction_digits: one division where the significand is
  // an exact double (the power always is), else one 128-bit product nearly always; false where
  // that cannot tell.
  [[gnu::always_inline]] static bool plain_double(std::uint64_t significand, int fraction_digits,
                                                  double& out) {
    if (constexpr std::uint64_t kExactSignificand = std::uint64_t{1} << 53;
        significand <= kExactSignificand) {
      out = static_cast<double>(significand) / POW10[fraction_digits];
      return true;
    }
    std::uint64_t bits = 0;
    if (!nearest_double(significand, -fraction_digits, bits)) return false;
    out = std::bit_cast<double>(bits);
    return true;
  }

  static constexpr int kMostPlainDigits = 19;  // below 10^19, so below 2^64
  static constexpr int kRunDigits = 16;
#endif

  // A number after its optional "-" was consumed, step by step.
  [[gnu::noinline]] bool parse_integer(bool positive, Value& out) {
    number_.digits = pos_;
    number_.plain = PlainForm::Unread;
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
    return store_integer(positive, significand, out);
  }

  // An integer's value: its digits' value `significand` and its sign.
  [[gnu::always_inline]] bool store_integer(bool positive, std::uint64_t significand, Value& out) {
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
