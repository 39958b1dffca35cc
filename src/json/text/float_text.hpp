// The writer's spelling of a float, in both directions: the writer asks it to write a float, the
// reader whether a float's text is exactly what the writer writes, the messages to print one.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "json/text/pow10.hpp"
#include "json/text/written_digits.hpp"

namespace tarvik::json {

// Longest text write_float produces ("-0.000011000000000000001", "-2.2250738585072014e-308").
inline constexpr std::size_t kMaxFloatText = 24;

// Room write_float_text needs: the text is at most kMaxFloatText bytes, but it is laid out with
// fixed-width stores that may reach past its end.
inline constexpr std::size_t kFloatRoom = 40;

// Writes the text of a float into `out` (at least kMaxFloatText bytes) and returns its length:
// shortest round-trip digits, plain decimal for exponents -5..15, otherwise d.ddde±x.
// A non-finite value, which the model never holds, is written as null.
std::size_t write_float(double value, char* out);

// write_float into `out` with kFloatRoom bytes, some of which past the text may be overwritten.
std::size_t write_float_text(double value, char* out);

// The writer's layouts by the exponent of the first digit: plain from kLeastPlainExponent to
// kMostPlainExponent ("0.00001", "1000000000000000.0"), d.ddde±x outside.
inline constexpr int kLeastPlainExponent = -5;
inline constexpr int kMostPlainExponent = 15;

[[gnu::always_inline]] inline bool is_plain_exponent(int first_exponent) {
  return first_exponent >= kLeastPlainExponent && first_exponent <= kMostPlainExponent;
}

// Distinct decimals of at most 15 digits never read back as one normal double (their spacing
// exceeds the doubles' by a factor above 4), so such a text is the shortest of its value.
inline constexpr int kShortestDigits = 15;

// The number of decimal digits of a value from 1 up: the bit width gives it to within one.
[[gnu::always_inline]] inline int decimal_digit_count(std::uint64_t value) {
  // 1233 / 2^12 is just above log10(2); or-ing 1 spares the test for 0.
  const int guess = (std::bit_width(value | 1) * 1233) >> 12;
  return guess + (value >= POW10_U64[guess] ? 1 : 0);
}

// How the text of a float read in plain form ("ddd.ddd" with no exponent and at most 19 digits,
// which most floats are) stands to the writer's spelling. The reader judges it as it reads, while
// the digits and the double are at hand, so the check of written floats has only to look it up.
enum class PlainForm : std::uint8_t {
  Unread,   // not read in plain form, or its digits not judged: the check judges the whole text
  Written,  // the writer's text
  Other,    // not the writer's text
};

// The plain form of a text "ddd.ddd" with `fraction_digits` after the point (1 or more), whose
// first non-zero digit has the exponent `first_exponent`, `significant_digits` from there to the
// end (0 when all are zero) and `last` as its last byte, as far as its layout decides it: Unread
// when only its 16 or 17 significant digits can (plain_digits_form). A plain text's value is 0 or
// at least 10^-18, a normal double.
[[gnu::always_inline]] inline PlainForm plain_layout_form(int significant_digits,
                                                          int first_exponent, int fraction_digits,
                                                          char last) {
  constexpr int kMostWrittenDigits = 17;
  if (significant_digits == 0) return fraction_digits == 1 ? PlainForm::Written : PlainForm::Other;
  // ddd.ddd, 0.000ddd or ddd000.0: a zero last digit only in ".0".
  if (significant_digits > kMostWrittenDigits || !is_plain_exponent(first_exponent) ||
      (last == '0' && fraction_digits != 1)) {
    return PlainForm::Other;
  }
  return significant_digits <= kShortestDigits ? PlainForm::Written : PlainForm::Unread;
}

// The plain form of a text whose layout leaves it to its digits: significand ×
// 10^-fraction_digits, its last byte `last`, read back as the positive double with bits
// `magnitude`. Unread where the rounding interval cannot tell.
[[gnu::always_inline]] inline PlainForm plain_digits_form(std::uint64_t significand,
                                                          int fraction_digits, char last,
                                                          std::uint64_t magnitude) {
  const written_digits::Judgement judgement = written_digits::judge_by_interval(
      significand, static_cast<std::uint64_t>(last - '0'), fraction_digits, magnitude);
  if (!judgement.known) [[unlikely]]
    return PlainForm::Unread;
  return judgement.written ? PlainForm::Written : PlainForm::Other;
}

// The plain form of a text, by its layout and then its digits (as the two above).
[[gnu::always_inline]] inline PlainForm plain_form(int significant_digits, int first_exponent,
                                                   int fraction_digits, char last,
                                                   std::uint64_t significand,
                                                   std::uint64_t magnitude) {
  const PlainForm by_layout =
      plain_layout_form(significant_digits, first_exponent, fraction_digits, last);
  if (by_layout != PlainForm::Unread) return by_layout;
  return plain_digits_form(significand, fraction_digits, last, magnitude);
}

// A number as the reader saw it: where its parts stand in the text and the decimal it spells.
// The marks are left from earlier numbers unless they lie past `digits`, which spares clearing
// them for every number: the read position only grows.
struct NumberText {
  explicit NumberText(const char* input)
      : digits(input), point(input), exponent_letter(input), truncation(input) {}
  bool has_point() const { return point > digits; }
  bool has_exponent() const { return exponent_letter > digits; }
  bool truncated() const { return truncation > digits; }

  const char* digits;           // the first digit, after any "-"
  const char* point;            // the "." if past `digits`
  const char* exponent_letter;  // the "e" or "E" if past `digits`
  const char* truncation;       // past `digits` when digits beyond 64 bits were dropped
  // Unless truncated, the number is significand × 10^exponent.
  std::uint64_t significand = 0;
  std::int32_t exponent = 0;
  PlainForm plain = PlainForm::Unread;  // set for every number
};

// is_written_float for a text whose plain form is Unread, from its marks and text.
bool is_written_float_text(const NumberText& number, const char* end, double value);

// Whether the float text [number.digits, end) is exactly what write_float writes for the
// magnitude of `value`, which the text reads back as. The writer's text is fixed by the shortest
// decimal of the value: so the text must spell that decimal, in the writer's layout for it.
[[gnu::always_inline]] inline bool is_written_float(const NumberText& number, const char* end,
                                                    double value) {
  if (number.plain != PlainForm::Unread) return number.plain == PlainForm::Written;
  return is_written_float_text(number, end, value);
}

}  // namespace tarvik::json
