// The double nearest to significand × 10^exponent (ties to even), from one product with a 128-bit
// power of ten; it answers only when that product proves the rounding, and says so otherwise.
#pragma once

#include <bit>
#include <cstdint>

#include "json/text/float_digits.hpp"

namespace tarvik::json {

// 10^0 to 10^55 are held exactly in the 128-bit table: 5^55 < 2^128 <= 5^56.
inline constexpr int kExactPow10MaxExponent = 55;

// Writes the bits of the double nearest to `significand` × 10^`exponent` to `bits` and returns
// true, or returns false when one product cannot tell: it lies too close to a rounding boundary
// (an exact tie among them), the power is outside the table, or the result is not a normal
// finite double. `significand` must not be 0.
//
// Why it is exact when it answers. The table holds 10^exponent = G × 2^r with G in [2^127, 2^128)
// and stores g = ceil(G). With w = significand × 2^z normalised into [2^63, 2^64), the value is
// P × 2^(r - z) for the real P = w × G in [2^190, 2^192), and the integer P' = w × g satisfies
// P ≤ P' < P + w < P + 2^64. Let b be the top bit of P', Q = floor(P' / 2^(b-53)) (the 53
// significand bits and the rounding bit) and L = P' mod 2^(b-53). If L ≥ 2^64, then
// Q × 2^(b-53) ≤ P' - 2^64 < P ≤ P' < (Q + 1) × 2^(b-53): P lies strictly inside the same step
// as P', on the same side of the halfway point, and on neither, so the nearest double has the
// significand (Q + 1) / 2 rounded down, and no tie arises. If P had its top bit one place lower
// than P', then P' < 2^b + 2^64 and L < 2^64, so that case is among the undecided. With
// L < 2^64 the answer is known only when g = G, an exact power, and so P' = P.
[[gnu::always_inline]] inline bool nearest_double(std::uint64_t significand, int exponent,
                                                  std::uint64_t& bits) {
  using u128 = unsigned __int128;
  using namespace float_digits;
  if (exponent < -kPow10MaxExponent || exponent > 308) return false;
  const int normalise = std::countl_zero(significand);
  const std::uint64_t w = significand << normalise;
  const Uint128Parts g = POW10_128[-exponent - kPow10MinExponent];
  const u128 low_product = static_cast<u128>(w) * g.low;
  const u128 upper = static_cast<u128>(w) * g.high + static_cast<std::uint64_t>(low_product >> 64);
  const auto top = static_cast<std::uint64_t>(upper >> 64);  // bits 128..191 of P'
  const auto middle = static_cast<std::uint64_t>(upper);     // bits 64..127 of P'
  const int top_is_191 = static_cast<int>(top >> 63);
  const int dropped = 9 + top_is_191;  // bits of `top` below the rounding bit
  const std::uint64_t with_rounding_bit = top >> dropped;
  std::uint64_t mantissa = (with_rounding_bit + 1) >> 1;
  if (((top & ((std::uint64_t{1} << dropped) - 1)) | middle) == 0) [[unlikely]] {
    // Only an exact power (10^0 to 10^55 fit in 128 bits) makes P' = P, and then the bits below
    // tell a tie, which goes to the even significand.
    if (exponent < 0 || exponent > kExactPow10MaxExponent) return false;
    const bool tie = (with_rounding_bit & 1) != 0 && static_cast<std::uint64_t>(low_product) == 0;
    if (tie) mantissa &= ~std::uint64_t{1};
  }
  // Exponent of the leading bit: P' has it at 190 + top_is_191, and 10^exponent = G × 2^r.
  int leading = 190 + top_is_191 + floor_log2_pow10(exponent) - 127 - normalise;
  if (mantissa == std::uint64_t{1} << 53) {  // rounded up into the next binade
    mantissa >>= 1;
    ++leading;
  }
  const int biased = leading + 1023;
  if (biased < 1 || biased > 2046) return false;
  bits = (static_cast<std::uint64_t>(biased) << 52) | (mantissa & ((std::uint64_t{1} << 52) - 1));
  return true;
}

}  // namespace tarvik::json
