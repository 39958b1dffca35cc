// Whether a float text's significant digits are the ones the writer writes for its double: judged
// inline from the double's rounding interval in exact 64-bit integers, computed only when not.
#pragma once

#include <array>
#include <cstdint>

#include "json/text/float_digits.hpp"

namespace tarvik::json {

namespace written_digits {

// The most digits after the point that the interval judges: 5^27 is the largest power of five
// below 2^63.
inline constexpr int kMostFives = 27;

// 5^i for i up to kMostFives.
inline constexpr std::array<std::uint64_t, kMostFives + 1> POW5 = [] {
  std::array<std::uint64_t, kMostFives + 1> table{};
  std::uint64_t power = 1;
  for (std::uint64_t& entry : table) {
    entry = power;
    power *= 5;
  }
  return table;
}();

// What the interval tells: `written` holds when `known`.
struct Judgement {
  bool known;
  bool written;
};

// Whether the writer's digits for the double with bits `magnitude` are those of the text
// significand × 10^-k (whose last digit is `last_digit`) that reads back as it, for k from 1 to
// kMostFives, judged from the double's rounding interval in exact 64-bit integers. Not known for
// a last digit 0 and the lowest double of a binade (whose interval is lopsided). (Within the
// exponents taken, the double is a normal one.)
//
// Let U be the doubles' spacing there in units of the text's last digit. Below 1, the interval
// (U wide) holds no other decimal of the text's length or shorter: the text is written. Else
// the writer takes the fewest digits, so no multiple of ten (units) may read back; of these, only
// the two around the text need testing, the interval being one run. Then it takes, among the
// decimals of the text's length that read back, the nearest to the double (a tie to the even
// last digit): the text, unless its neighbour on the double's side is nearer. That neighbour then
// reads back: it is less than half a unit from the double, and the interval reaches U / 2 >= 1/2
// units to each side.
//
// Which of these holds depends on the digits, not on patterns a branch predictor could learn,
// and the tests wait on the whole conversion of the text: a wrong guess would throw away much
// work done ahead. So every test is made, and the judgement combined from them without a branch.
[[gnu::always_inline]] inline Judgement judge_by_interval(std::uint64_t significand,
                                                          std::uint64_t last_digit, int k,
                                                          std::uint64_t magnitude) {
  using float_digits::floor_log2_pow10;
  constexpr std::uint64_t kFraction = (std::uint64_t{1} << 52) - 1;
  // The double is m × 2^q; U = 2^q × 10^k < 1 exactly when q + floor(k log2 10) < 0.
  const int q = static_cast<int>(magnitude >> 52) - 1075;
  const bool below_one = q + floor_log2_pow10(k) < 0;
  // Positions in ticks of 2^-shift of the last digit, relative to the text, with shift = 1 - q -
  // k: the double lies at `offset` = 2m × 5^k - significand × 2^shift, and the interval reaches
  // 5^k ticks to both sides. With U >= 1, shift is at most k log2(5) + 1 < 64, and the text
  // within the interval bounds |offset| by 5^k < 2^63: the offset is exact in 64 bits, computed
  // modulo 2^64. Whether the interval's edges read back does not matter: they are midpoints
  // between doubles, with 1 - q > k digits after the point, so no decimal here lies on one. With
  // U < 1 the shift may pass 63 (it is taken modulo 64), and what follows from it is not used.
  const int shift = 1 - q - k;
  const int ticks = shift & 63;
  const std::uint64_t m = (magnitude & kFraction) | (kFraction + 1);
  const std::uint64_t reach = POW5[k];
  const std::uint64_t offset = 2 * m * reach - (significand << ticks);
  // d × step <= x exactly when d <= floor(x / step), for the multiples of ten below and above.
  const bool ten_reads_back =
      (last_digit <= (reach - offset) >> ticks) | (10 - last_digit <= (reach + offset) >> ticks);
  const std::uint64_t sign = 0 - (offset >> 63);  // all ones when the offset is negative
  const std::uint64_t distance = (offset ^ sign) - sign;
  // Nearer than half a unit, or half a unit away with an even last digit.
  const bool nearest = 2 * distance + (significand & 1) <= std::uint64_t{1} << ticks;
  // A shift below 1 takes U of ten and more, where the offset may leave 64 bits.
  const bool known = (last_digit != 0) & ((magnitude & kFraction) != 0) & (below_one | (shift > 0));
  const bool written = below_one | (!ten_reads_back & nearest);
  return {known, written};
}

}  // namespace written_digits

// Whether significand × 10^exponent is the shortest decimal of the double with bits `magnitude`,
// computed in full (out of line: the interval mostly decides without it).
bool is_shortest_decimal(std::uint64_t significand, int exponent, std::uint64_t magnitude);

// Whether the text significand × 10^exponent, of 16 or more digits and read back as the positive
// double with bits `magnitude`, has the digits the writer writes for it.
inline bool has_written_digits(std::uint64_t significand, int exponent, std::uint64_t magnitude) {
  using written_digits::kMostFives;
  if (exponent < 0 && exponent >= -kMostFives) {
    const written_digits::Judgement judgement =
        written_digits::judge_by_interval(significand, significand % 10, -exponent, magnitude);
    if (judgement.known) return judgement.written;
  }
  return is_shortest_decimal(significand, exponent, magnitude);
}

}  // namespace tarvik::json
