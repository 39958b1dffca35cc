// Shortest decimal digits of a double: the fewest significant digits that read back as exactly
// that double under round-to-nearest-even, the nearest such string, ties to an even last digit.
#pragma once

#include <cstdint>

namespace tarvik::json {

// A positive decimal significand × 10^exponent; the significand may end in zeros.
struct DecimalFloat {
  std::uint64_t significand;
  int exponent;
};

namespace float_digits {

struct Uint128Parts {
  std::uint64_t high;
  std::uint64_t low;
};

#include "json/text/float_digits_table.inc"

inline int floor_log10_pow2(int e) {
  return (e * kLog10Pow2Multiplier) >> kLog10Pow2Shift;
}

inline int floor_log10_three_quarters_pow2(int e) {
  return (e * kLog10ThreeQuartersPow2Multiplier + kLog10ThreeQuartersPow2Offset) >>
         kLog10ThreeQuartersPow2Shift;
}

inline int floor_log2_pow10(int e) {
  return (e * kLog2Pow10Multiplier) >> kLog2Pow10Shift;
}

// floor(scaled × g / 2^128), with the lowest bit set when the fraction is not zero (rounding to
// odd keeps every comparison with an even integer exact). A fraction below 2^-67 counts as zero:
// the generator proves that only the table's upward rounding produces one.
inline std::uint64_t scale_round_to_odd(Uint128Parts g, std::uint64_t scaled) {
  using u128 = unsigned __int128;
  const u128 low_product = static_cast<u128>(g.low) * scaled;
  const u128 middle =
      static_cast<u128>(g.high) * scaled + static_cast<std::uint64_t>(low_product >> 64);
  const auto fraction_high = static_cast<std::uint64_t>(middle);
  const auto fraction_low = static_cast<std::uint64_t>(low_product);
  const std::uint64_t inexact = (fraction_high | (fraction_low >> 61)) != 0 ? 1 : 0;
  return static_cast<std::uint64_t>(middle >> 64) | inexact;
}

}  // namespace float_digits

// `bits` are those of a finite, positive, non-zero double. The double is c × 2^q; every decimal
// inside its rounding interval reads back as it. Values are scaled by 10^-k, with 10^k no wider
// than the interval, so the interval holds at least one multiple of 10^k and at most one multiple
// of 10^(k+1): the latter, when present, is the shortest string, else the nearer of the former.
[[gnu::always_inline]] inline DecimalFloat shortest_decimal(std::uint64_t bits) {
  using namespace float_digits;
  constexpr int kFractionBits = 52;
  constexpr std::uint64_t kHidden = std::uint64_t{1} << kFractionBits;
  const std::uint64_t fraction = bits & (kHidden - 1);
  const int biased_exponent = static_cast<int>(bits >> kFractionBits);

  std::uint64_t c = fraction;
  int q = -1074;
  if (biased_exponent != 0) {
    c |= kHidden;
    q = biased_exponent - 1075;
    // An integer below 2^53: its neighbours are at most 1 away, so no shorter text reads back.
    if (q < 0 && q > -kFractionBits - 1) {
      const std::uint64_t integral = c >> -q;
      if (integral << -q == c) return {integral, 0};
    }
  }

  // Rounding interval in units of 2^(q-2): [cb_left, cb_right] around cb, closed when c is even
  // because a tie reads back as the even significand.
  const std::uint64_t cb = c << 2;
  const std::uint64_t cb_right = cb + 2;
  std::uint64_t cb_left = cb - 2;
  int k = 0;
  if (fraction != 0 || biased_exponent <= 1) {
    k = floor_log10_pow2(q);
  } else {
    // The lowest significand of a binade: its lower neighbour is twice as close.
    cb_left = cb - 1;
    k = floor_log10_three_quarters_pow2(q);
  }
  const int shift = q + floor_log2_pow10(-k) + 1;
  const Uint128Parts g = POW10_128[k - kPow10MinExponent];
  // `shift` is 1 to 4 for every finite double; clang's analyzer does not follow the log
  // approximations that bound it.
  // NOLINTBEGIN(clang-analyzer-core.UndefinedBinaryOperatorResult)
  const std::uint64_t vb = scale_round_to_odd(g, cb << shift);
  const std::uint64_t vb_left = scale_round_to_odd(g, cb_left << shift);
  const std::uint64_t vb_right = scale_round_to_odd(g, cb_right << shift);
  // NOLINTEND(clang-analyzer-core.UndefinedBinaryOperatorResult)
  const std::uint64_t open = c & 1;

  const std::uint64_t s = vb >> 2;
  const std::uint64_t s_tens = s / 10 * 10;
  const std::uint64_t t_tens = s_tens + 10;
  const bool s_tens_in = vb_left + open <= s_tens << 2;
  const bool t_tens_in = (t_tens << 2) + open <= vb_right;
  const std::uint64_t t = s + 1;
  const bool s_in = vb_left + open <= s << 2;
  const bool t_in = (t << 2) + open <= vb_right;
  // When both s and t read back, the nearer one wins, an exact tie to the even digit.
  const std::uint64_t midpoint = (s << 2) + 2;
  const bool s_nearer = vb < midpoint || (vb == midpoint && (s & 1) == 0);
  // Selections rather than branches: which case applies depends on the digits, not on data
  // patterns a predictor could learn.
  const std::uint64_t longer = s_in && (!t_in || s_nearer) ? s : t;
  const std::uint64_t shorter = s_tens_in ? s_tens : t_tens;
  return {s_tens_in != t_tens_in ? shorter : longer, k};
}

}  // namespace tarvik::json
