// Float texts: the one-product conversion of a decimal to its nearest double, and the reader's
// recognition of texts spelled exactly as the writer spells their value.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "json/read/reader.hpp"
#include "json/text/decimal_to_double.hpp"
#include "json/text/float_text.hpp"
#include "json/text/written_digits.hpp"
#include "json/write/writer.hpp"

namespace tarvik::json {
namespace {

std::uint64_t bits_of(double value) {
  return std::bit_cast<std::uint64_t>(value);
}

std::string decimal_text(std::uint64_t significand, int exponent) {
  return std::to_string(significand) + "e" + std::to_string(exponent);
}

std::uint64_t random_significand(std::mt19937_64& random, int digits) {
  std::uint64_t significand = 1 + random() % 9;
  for (int d = 1; d < digits; ++d)
    significand = significand * 10 + random() % 10;
  return significand;
}

// --- nearest_double -----------------------------------------------------------------------

// Whenever it answers, the answer is strtod's (which rounds correctly); it refuses only for
// results outside the normal doubles or products too close to a rounding boundary.
TEST(NearestDouble, AgreesWithStrtodAcrossTheRange) {
  std::mt19937_64 random(7);
  int answered = 0;
  int normal = 0;
  for (int i = 0; i < 400000; ++i) {
    const int digits =
        i % 2 == 0 ? 16 + static_cast<int>(random() % 4) : 1 + static_cast<int>(random() % 19);
    const std::uint64_t significand = random_significand(random, digits);
    const int exponent = static_cast<int>(random() % 700) - 350;
    const std::string text = decimal_text(significand, exponent);
    const double expected = std::strtod(text.c_str(), nullptr);
    std::uint64_t bits = 0;
    const bool known = nearest_double(significand, exponent, bits);
    if (known) {
      ++answered;
      ASSERT_EQ(bits, bits_of(expected)) << text;
    }
    if (std::isnormal(expected) && exponent >= -float_digits::kPow10MaxExponent) {
      ++normal;
      // An exact power decides every case; an inexact one refuses only products within 2^64 of
      // a boundary, which a random decimal almost never is unless it is exactly on one.
      EXPECT_TRUE(known || exponent < 0) << text;
    }
  }
  EXPECT_GE(answered, normal * 99 / 100);
}

// Decimals that are exactly halfway between two doubles, or one unit in the last digit off it:
// a tie must go to the even significand, or be refused; a near tie must go the right way.
TEST(NearestDouble, DecidesTiesAndNearTiesExactly) {
  std::mt19937_64 random(11);
  int ties_answered = 0;
  for (int i = 0; i < 200000; ++i) {
    // m odd with 54 bits lies halfway between two 53-bit significands; m × 2^shift for shift
    // up to 10 is an integer below 2^64, and m × 5^t × 10^-t = m × 2^-t for t up to 4.
    const std::uint64_t m =
        (std::uint64_t{1} << 53) | (random() & ((std::uint64_t{1} << 53) - 1)) | 1;
    std::uint64_t significand = m;
    int exponent = 0;
    if (random() % 2 == 0) {
      significand <<= random() % 11;
    } else {
      const int t = 1 + static_cast<int>(random() % 4);
      for (int k = 0; k < t; ++k)
        significand *= 5;
      exponent = -t;
    }
    for (const std::uint64_t nearby : {significand - 1, significand, significand + 1}) {
      const std::string text = decimal_text(nearby, exponent);
      std::uint64_t bits = 0;
      if (nearest_double(nearby, exponent, bits)) {
        ASSERT_EQ(bits, bits_of(std::strtod(text.c_str(), nullptr))) << text;
        if (nearby == significand) ++ties_answered;
      }
    }
  }
  EXPECT_GT(ties_answered, 0);  // exact powers decide ties themselves
}

TEST(NearestDouble, HandlesTheEdgesOfItsRange) {
  struct Case {
    std::uint64_t significand;
    int exponent;
  };
  for (const Case c :
       {Case{1, 23}, Case{3, 23}, Case{17976931348623157, 292}, Case{17976931348623158, 292},
        Case{18446744073709551615u, 0}, Case{18446744073709551615u, -292},
        Case{22250738585072014, -324}, Case{22250738585072011, -324}, Case{1, 308},
        Case{9007199254740993, 0}, Case{9007199254740995, 0}, Case{45035996273704965, -1}}) {
    const std::string text = decimal_text(c.significand, c.exponent);
    const double expected = std::strtod(text.c_str(), nullptr);
    std::uint64_t bits = 0;
    if (nearest_double(c.significand, c.exponent, bits)) {
      EXPECT_EQ(bits, bits_of(expected)) << text;
    } else {
      EXPECT_TRUE(!std::isnormal(expected) || c.exponent < 0) << text << " refused";
    }
  }
}

// --- digit runs ---------------------------------------------------------------------------

// Runs of up to sixteen digits are taken at once where sixteen bytes can be read, as many as the
// significand can hold without reaching 20 digits: every split of integer and fraction digits,
// with the input ending at the number or long after it, reads as strtod reads it.
TEST(DigitRuns, ReadEveryLengthOfIntegerAndFraction) {
  std::mt19937_64 random(17);
  for (int integer_digits = 1; integer_digits <= 22; ++integer_digits) {
    for (int fraction_digits = 0; fraction_digits <= 22; ++fraction_digits) {
      std::string digits(1, static_cast<char>('1' + random() % 9));
      for (int d = 1; d < integer_digits; ++d)
        digits += static_cast<char>('0' + random() % 10);
      if (fraction_digits > 0) digits += '.';
      for (int d = 0; d < fraction_digits; ++d)
        digits += static_cast<char>('0' + random() % 10);
      for (const char* exponent : {"", "e-3", "E+21"}) {
        const std::string number = digits + exponent;
        for (const std::string padding : {"", "                  "}) {
          Arena arena;
          auto parsed = parse_value_list("[" + number + padding + "]", arena);
          ASSERT_TRUE(parsed.ok()) << number;
          const Number n = parsed.value()[0].as_number();
          if (n.form() == NumberForm::NonNegative) {
            EXPECT_EQ(std::to_string(n.as_non_negative()), number);
          } else {
            ASSERT_EQ(n.form(), NumberForm::Float) << number;
            EXPECT_EQ(bits_of(n.as_float()), bits_of(std::strtod(number.c_str(), nullptr)))
                << number;
          }
        }
      }
    }
  }
}

// --- canonical float texts ----------------------------------------------------------------

std::string written_float(double value) {
  char text[kMaxFloatText];
  return std::string(text, write_float(value, text));
}

// Whether the reader keeps the nested array of the payload's only row as text the writer would
// write exactly.
bool deferred_as_written(const std::string& payload) {
  Arena arena;
  auto rows = parse_value_list(payload, arena, Build::Rows);
  EXPECT_TRUE(rows.ok()) << payload;
  if (!rows.ok()) return false;
  const Value& cell = rows.value()[0];
  EXPECT_TRUE(cell.is_deferred()) << payload;
  return cell.deferred_form() == TextForm::Written;
}

// Reads `text` as the only cell of a nested array below a row, where the reader keeps the
// array as its text and says whether the writer would write exactly that text. It is read twice:
// near the input's end, where a number is read step by step, and with room after it, where a
// plain number is read whole; both must agree.
bool read_as_canonical(const std::string& text) {
  const bool near_end = deferred_as_written("[[" + text + "]]");
  EXPECT_EQ(deferred_as_written("[[" + text + "]" + std::string(40, ' ') + "]"), near_end) << text;
  return near_end;
}

// Spellings of `value` beside the writer's own: other layouts, extra zeros, other letters and
// signs, other digit counts, and neighbouring digit strings.
std::vector<std::string> spellings(double value) {
  const std::string written = written_float(value);
  std::vector<std::string> texts = {written};
  char buffer[512];  // "%.20f" of the largest double takes 330 bytes
  for (const char* format : {"%.17g", "%.16g", "%.15g", "%.17e", "%.3e", "%.0e", "%.1f", "%.20f"}) {
    std::snprintf(buffer, sizeof buffer, format, value);
    texts.emplace_back(buffer);
  }
  // Exponent-form variants: a capital letter, no sign, leading zeros, an extra zero digit.
  if (const std::size_t letter = written.find('e'); letter != std::string::npos) {
    const std::string mantissa = written.substr(0, letter);
    const char sign = written[letter + 1];
    const std::string magnitude = written.substr(letter + 2);
    texts.push_back(mantissa + "E" + sign + magnitude);
    if (sign == '+') texts.push_back(mantissa + "e" + magnitude);
    texts.push_back(mantissa + "e" + sign + "0" + magnitude);
    texts.push_back(mantissa + (mantissa.find('.') == std::string::npos ? ".0" : "0") + "e" + sign +
                    magnitude);
  } else {
    // Plain-form variants: one more or one less trailing zero, an exponent form, no point.
    texts.push_back(written + "0");
    if (written.ends_with(".0")) {
      texts.push_back(written.substr(0, written.size() - 2));
      texts.push_back(written.substr(0, written.size() - 2) + "e+0");
    }
    texts.push_back(written + "e+0");
    texts.push_back(written + "e0");
  }
  // The last significant digit one down and one up, where that leaves a digit.
  const std::size_t last = written.find_last_of("123456789", written.find('e'));
  if (last != std::string::npos) {
    const bool leading = last == 0 || written[last - 1] == '-';
    if (!(leading && written[last] == '1')) {  // a leading zero is not JSON
      std::string lower = written;
      --lower[last];
      texts.push_back(lower);
    }
    if (written[last] != '9') {
      std::string upper = written;
      ++upper[last];
      texts.push_back(upper);
    }
  }
  return texts;
}

// The reader calls a float text canonical exactly when the writer writes that text for the
// double the text reads as: for random doubles of every binade, for decimals of every length,
// and for the values at the layout boundaries.
TEST(CanonicalFloatText, MatchesTheWriterForManySpellings) {
  std::mt19937_64 random(13);
  std::vector<double> values = {0.0,
                                -0.0,
                                1.0,
                                1e15,
                                1e16,
                                9.99999999999999e15,
                                1e-5,
                                1e-6,
                                9.9e-6,
                                0.1,
                                5e-324,
                                1e-323,
                                2.2250738585072014e-308,
                                2.225073858507201e-308,
                                1.7976931348623157e308,
                                9007199254740993.0,
                                123456789012345680.0,
                                1.1000000000000001e-05};
  // Doubles spaced wider than their texts' last digit: halfway between two 17-digit texts (the
  // even one is written), at the longest exponent judged from the interval and one past it, and
  // coordinates with spacings either side of one last digit.
  values.insert(values.end(), {1125899906842624.25, 1125899906842624.75, 1.2345678901234567e-11,
                               1.2345678901234567e-12, 43.42027300000001, -65.61361699999998});
  // Every binade where a text's neighbours are exact doubles: its lowest double, whose lower
  // neighbour is nearer than its upper one, the double below it, and random significands.
  for (int binade = -30; binade <= 53; ++binade) {
    const double lowest = std::ldexp(1.0, binade);
    values.push_back(lowest);
    values.push_back(std::nextafter(lowest, 0.0));
    values.push_back(std::nextafter(lowest, 2 * lowest));
    for (int i = 0; i < 200; ++i)
      values.push_back(lowest * (1 + static_cast<double>(random() >> 12) * 0x1p-52));
  }
  for (int i = 0; i < 20000; ++i) {
    double value = 0;
    do {
      value = std::bit_cast<double>(random());
    } while (!std::isfinite(value));
    values.push_back(value);
    // Decimals of 1 to 17 digits with small exponents, as data files hold them.
    const std::string text = std::to_string(random_significand(random, 1 + random() % 17)) + "e" +
                             std::to_string(static_cast<int>(random() % 44) - 30);
    values.push_back((random() % 2 ? -1 : 1) * std::strtod(text.c_str(), nullptr));
  }
  int canonical = 0;
  for (const double value : values) {
    for (const std::string& text : spellings(value)) {
      // Texts without a point or exponent may be integers, written as read: the table below
      // has those.
      if (text.find_first_of(".eE") == std::string::npos) continue;
      const double read = std::strtod(text.c_str(), nullptr);
      if (!std::isfinite(read)) continue;
      const bool expected = text == written_float(read);
      ASSERT_EQ(read_as_canonical(text), expected) << text;
      canonical += expected ? 1 : 0;
    }
  }
  EXPECT_GE(canonical, static_cast<int>(values.size()));
}

// Random number texts of every shape (leading and trailing zeros, long and short parts, both
// exponent letters, signs or none, exponents near the plain layout's limits): each reads as
// strtod reads it, and is called canonical exactly when the writer writes it back unchanged.
TEST(CanonicalFloatText, RandomTextsAgreeWithStrtodAndTheWriter) {
  std::mt19937_64 random(19);
  const auto digits = [&](int count, bool zeros) {
    std::string text;
    for (int d = 0; d < count; ++d)
      text += static_cast<char>('0' + (zeros && random() % 2 ? 0 : random() % 10));
    return text;
  };
  int canonical = 0;
  for (int i = 0; i < 200000; ++i) {
    std::string text = random() % 2 ? "-" : "";
    const bool zeros = random() % 3 == 0;
    text += random() % 4 == 0 ? "0"
                              : std::string(1, static_cast<char>('1' + random() % 9)) +
                                    digits(static_cast<int>(random() % 18), zeros);
    const bool point = random() % 8 != 0;
    if (point) text += "." + digits(1 + static_cast<int>(random() % 18), zeros);
    if (!point || random() % 3 == 0) {
      text += random() % 5 == 0 ? "E" : "e";
      const int sign = static_cast<int>(random() % 3);
      text += sign == 0 ? "" : sign == 1 ? "+" : "-";
      if (random() % 8 == 0) text += "0";
      text += std::to_string(random() % 4 == 0 ? random() % 330 : random() % 25);
    }
    const double expected = std::strtod(text.c_str(), nullptr);
    if (!std::isfinite(expected)) continue;
    Arena arena;
    auto built = parse_value_list("[" + text + "]", arena);
    ASSERT_TRUE(built.ok()) << text;
    const Number n = built.value()[0].as_number();
    if (n.form() != NumberForm::Float) continue;
    ASSERT_EQ(bits_of(n.as_float()), bits_of(expected)) << text;
    const bool written = text == written_float(expected);
    ASSERT_EQ(read_as_canonical(text), written) << text;
    canonical += written ? 1 : 0;
  }
  EXPECT_GT(canonical, 1000);
}

// Coordinates as canada holds them: 16 and 17 digits with a fraction, in the plain layout,
// the writer's own digits or others, across magnitudes from 1e-4 to 1e14.
TEST(CanonicalFloatText, LongFractionsAgreeWithTheWriter) {
  std::mt19937_64 random(23);
  int canonical = 0;
  int other = 0;
  for (int i = 0; i < 100000; ++i) {
    const int magnitude = static_cast<int>(random() % 19) - 4;
    const double value =
        (1 + std::ldexp(static_cast<double>(random() >> 11), -53)) * std::pow(10.0, magnitude);
    for (const int digits : {16, 17}) {
      // Fraction digits for `digits` significant ones: after the magnitude + 1 integer digits,
      // or after the -magnitude - 1 zeros that follow "0.".
      const int fraction = digits - magnitude - 1;
      char text[64];
      std::snprintf(text, sizeof text, "%.*f", fraction, value);
      const double read = std::strtod(text, nullptr);
      const bool expected = text == written_float(read);
      ASSERT_EQ(read_as_canonical(text), expected) << text;
      (expected ? canonical : other) += 1;
    }
  }
  EXPECT_GT(canonical, 10000);
  EXPECT_GT(other, 10000);
}

// Plain texts at the limits of reading a number whole (15 and 16 integer digits, 16 and 17
// fraction digits, 19 and 20 digits in all, leading zeros after the point, trailing zeros): each
// reads as strtod reads it, and is called canonical exactly when the writer writes it back.
TEST(CanonicalFloatText, PlainTextsAtTheLimitsOfAWholeRead) {
  std::mt19937_64 random(29);
  int canonical = 0;
  for (int integer_digits = 1; integer_digits <= 17; ++integer_digits) {
    for (int fraction_digits = 1; fraction_digits <= 18; ++fraction_digits) {
      for (int i = 0; i < 40; ++i) {
        const bool leading_zero = integer_digits == 1 && i % 2 == 0;
        std::string text = leading_zero ? "0" : std::to_string(random_significand(random, 1));
        for (int d = 1; d < integer_digits; ++d)
          text += static_cast<char>('0' + random() % 10);
        text += '.';
        const int zeros = leading_zero ? static_cast<int>(random() % 7) : 0;
        for (int d = 0; d < fraction_digits; ++d)
          text += static_cast<char>(d < zeros ? '0' : '0' + random() % 10);
        if (i % 5 == 0) text.back() = '0';
        if (i % 3 == 0) text.insert(0, "-");
        const double read = std::strtod(text.c_str(), nullptr);
        Arena arena;
        auto built = parse_value_list("[" + text + "]" + std::string(40, ' '), arena);
        ASSERT_TRUE(built.ok()) << text;
        ASSERT_EQ(bits_of(built.value()[0].as_number().as_float()), bits_of(read)) << text;
        const bool expected = text == written_float(read);
        ASSERT_EQ(read_as_canonical(text), expected) << text;
        canonical += expected ? 1 : 0;
      }
    }
  }
  EXPECT_GT(canonical, 1000);
}

// The rounding-interval judgement of 16- and 17-digit texts against the shortest digits computed
// in full, for every text that reads back as its double: the double's own shortest, its 16- and
// 17-digit roundings and their neighbours in the last digit, over random doubles, decimals of
// 15 to 17 digits, powers of ten, subnormals and the lowest doubles of binades.
TEST(CanonicalFloatText, IntervalJudgementAgreesWithTheShortestDigits) {
  std::mt19937_64 random(31);
  std::vector<double> values;
  for (int e = -30; e <= 22; ++e)
    values.push_back(std::pow(10.0, e));
  for (int binade = -60; binade <= 60; ++binade)
    values.push_back(std::ldexp(1.0, binade));
  for (int i = 0; i < 60000; ++i) {
    values.push_back(std::abs(std::bit_cast<double>(random())));
    values.push_back(std::ldexp(static_cast<double>(random() >> 12), -1074 - i % 40));
    const std::string text = std::to_string(random_significand(random, 15 + i % 3)) + "e" +
                             std::to_string(static_cast<int>(random() % 40) - 35);
    values.push_back(std::strtod(text.c_str(), nullptr));
  }
  int judged = 0;
  for (const double value : values) {
    if (!std::isfinite(value) || value == 0) continue;
    for (const int digits : {16, 17}) {
      char text[40];
      std::snprintf(text, sizeof text, "%.*e", digits - 1, value);
      // d.ddde±x: the digits without the point, and the exponent of the last.
      const std::string mantissa = std::string(1, text[0]) + std::string(text + 2, digits - 1);
      const int exponent = std::atoi(text + digits + 2) - (digits - 1);
      const std::uint64_t rounded = std::stoull(mantissa);
      for (const std::uint64_t significand : {rounded - 1, rounded, rounded + 1}) {
        constexpr std::uint64_t kLeast16Digits = 1'000'000'000'000'000;
        const std::string decimal = decimal_text(significand, exponent);
        if (significand < kLeast16Digits || std::strtod(decimal.c_str(), nullptr) != value)
          continue;
        ASSERT_EQ(has_written_digits(significand, exponent, bits_of(value)),
                  is_shortest_decimal(significand, exponent, bits_of(value)))
            << decimal;
        ++judged;
      }
    }
  }
  EXPECT_GT(judged, 100000);
}

// Texts whose integer or digit form makes them something other than a writer's float.
TEST(CanonicalFloatText, RecognisesEachLayoutRule) {
  struct Case {
    const char* text;
    bool canonical;
  };
  for (const Case c : {Case{"0.0", true},
                       Case{"-0.0", true},
                       Case{"0", true},  // an integer, written as read
                       Case{"-0", false},
                       Case{"0.00", false},
                       Case{"0e0", false},
                       Case{"100.0", true},
                       Case{"100.00", false},
                       Case{"1e2", false},
                       Case{"1.5", true},
                       Case{"1.50", false},
                       Case{"0.00001", true},
                       Case{"0.000001", false},
                       Case{"1e-6", true},
                       Case{"1e-06", false},
                       Case{"1e-5", false},
                       Case{"1000000000000000.0", true},
                       Case{"10000000000000000.0", false},
                       Case{"1e+16", true},
                       Case{"1e16", false},
                       Case{"1E+16", false},
                       Case{"10e+15", false},
                       Case{"1.0e+16", false},
                       Case{"0.1e+17", false},
                       Case{"18446744073709551616", false},
                       Case{"-9223372036854775809", false},
                       Case{"0.30000000000000004", true},
                       Case{"0.30000000000000005", false},
                       Case{"0.3000000000000000444", false},
                       Case{"9007199254740993.0", false},
                       Case{"9007199254740992.0", true},
                       Case{"5e-324", true},
                       Case{"4e-324", false},
                       Case{"4.9406564584124654e-324", false},
                       Case{"2.2250738585072014e-308", true},
                       Case{"1e-400", false},
                       Case{"123456789012345678901234567890.0", false}}) {
    EXPECT_EQ(read_as_canonical(c.text), c.canonical) << c.text;
  }
}

}  // namespace
}  // namespace tarvik::json
