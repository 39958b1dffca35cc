// The judgement of a float's text against the writer's spelling of its value: the layout first,
// then the decimals next to the text, then the shortest decimal itself.
#include "json/read/written_float.hpp"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <utility>

#include "json/float_digits.hpp"
#include "json/pow10.hpp"

namespace tarvik::json::reading {

namespace {

// The number of decimal digits of a value from 1 up: the bit width gives it to within one.
inline int decimal_digit_count(std::uint64_t value) {
  const int guess = (std::bit_width(value) * 1233) >> 12;  // 1233 / 2^12 is just above log10(2)
  return guess + (value >= POW10_U64[guess] ? 1 : 0);
}

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

// 5^i for every i whose power fits 64 bits.
constexpr std::array<std::uint64_t, 28> POW5 = [] {
  std::array<std::uint64_t, 28> table{};
  std::uint64_t power = 1;
  for (std::uint64_t& entry : table) {
    entry = power;
    power *= 5;
  }
  return table;
}();

enum class Verdict { Written, NotWritten, Unknown };

// Whether the writer's digits for the double with bits `magnitude` are those of the text
// significand × 10^exponent that reads back as it, which has at least 16 digits, judged by the
// decimals next to the text; Unknown where that would take more than single correctly rounded
// operations on exact doubles and exact integer comparisons. (Within the exponents taken, the
// double is a normal one.)
//
// The decimals that read back as the double form an interval holding the text. The decimals
// with a digit less nearest to the text, just below and just above it, lie between it and any
// other shorter decimal, so if neither reads back, no shorter decimal does. Then the writer
// takes, among the decimals of the text's length that read back, the nearest to the double:
// the text, unless its neighbour on the double's side reads back and is nearer (a tie goes to
// the even last digit). A neighbour nearer to the double than the text always reads back, the
// interval reaching equally far to both sides, except below the lowest double of a binade.
Verdict judge_by_neighbours(std::uint64_t significand, int exponent, std::uint64_t magnitude) {
  using u128 = unsigned __int128;
  constexpr std::uint64_t kExactSignificand = std::uint64_t{1} << 53;
  constexpr int kExactPower = 22;
  constexpr std::uint64_t kFraction = (std::uint64_t{1} << 52) - 1;
  const std::uint64_t last_digit = significand % 10;
  const std::uint64_t shorter = significand / 10;
  if (last_digit == 0 || shorter >= kExactSignificand || exponent < -kExactPower - 1 ||
      exponent >= kExactPower) {
    return Verdict::Unknown;
  }
  const auto reads_back = [magnitude](std::uint64_t decimal, int power) {
    const auto f = static_cast<double>(decimal);
    return std::bit_cast<std::uint64_t>(power >= 0 ? f * POW10[power] : f / POW10[-power]) ==
           magnitude;
  };
  if (reads_back(shorter, exponent + 1) || reads_back(shorter + 1, exponent + 1)) {
    return Verdict::NotWritten;
  }
  bool below_reads_back = true;
  bool above_reads_back = true;
  if (significand < kExactSignificand && exponent >= -kExactPower) {
    below_reads_back = reads_back(significand - 1, exponent);
    above_reads_back = reads_back(significand + 1, exponent);
    if (!below_reads_back && !above_reads_back) return Verdict::Written;
  } else if ((magnitude & kFraction) == 0) {
    return Verdict::Unknown;
  }
  // The double is m × 2^q; in units of the text's last digit it is D = m × 5^-exponent ×
  // 2^(q - exponent), compared with the significand scaled by 2^(exponent - q). With at least
  // 16 digits the scale stays within 64 bits.
  const int shift = static_cast<int>(magnitude >> 52) - 1075 - exponent;
  if (exponent >= 0 || shift >= 0 || shift < -64) return Verdict::Unknown;
  const std::uint64_t m = (magnitude & kFraction) | (kFraction + 1);
  const u128 scaled_double = static_cast<u128>(m) * POW5[-exponent];
  const u128 scaled_text = static_cast<u128>(significand) << -shift;
  const bool double_above = scaled_double > scaled_text;
  if (!(double_above ? above_reads_back : below_reads_back)) return Verdict::Written;
  const u128 distance = double_above ? scaled_double - scaled_text : scaled_text - scaled_double;
  const u128 half_step = static_cast<u128>(1) << (-shift - 1);
  return distance < half_step || (distance == half_step && significand % 2 == 0)
             ? Verdict::Written
             : Verdict::NotWritten;
}

// Whether significand × 10^exponent is the shortest decimal of the double with bits `magnitude`.
// Out of line: the judgements before it mostly decide without it.
[[gnu::noinline]] bool is_shortest_decimal(std::uint64_t significand, int exponent,
                                           std::uint64_t magnitude) {
  const DecimalFloat shortest = shortest_decimal(magnitude);
  return same_decimal(significand, exponent, shortest.significand, shortest.exponent);
}

}  // namespace

bool is_written_float(const NumberText& number, const char* end, double value) {
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
        (first_exponent >= -5 && first_exponent <= 15)) {
      return false;
    }
  } else {
    // ddd.ddd, 0.000ddd or ddd000.0: a zero last digit only in ".0".
    if (first_exponent < -5 || first_exponent > 15 || (end[-1] == '0' && end - number.point != 2)) {
      return false;
    }
  }
  // Distinct decimals of at most 15 digits never read back as one normal double (their spacing
  // exceeds the doubles' by a factor above 4), so such a text is the shortest of its value.
  if (digit_count <= 15 && magnitude >= kSmallestNormal) return true;
  if (const Verdict verdict = judge_by_neighbours(number.significand, number.exponent, magnitude);
      verdict != Verdict::Unknown) {
    return verdict == Verdict::Written;
  }
  return is_shortest_decimal(number.significand, number.exponent, magnitude);
}

}  // namespace tarvik::json::reading
