// Powers of ten for reading and writing numbers: POW10[i] is 10^i as a double, exact up to
// 10^22 (no double beyond holds one); POW10_U64[i] is 10^i for every i that fits 64 bits.
#pragma once

#include <array>
#include <cstdint>

namespace tarvik::json {

inline constexpr double POW10[23] = {
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22,
};

inline constexpr std::array<std::uint64_t, 20> POW10_U64 = [] {
  std::array<std::uint64_t, 20> table{};
  std::uint64_t power = 1;
  for (std::uint64_t& entry : table) {
    entry = power;
    power *= 10;
  }
  return table;
}();

}  // namespace tarvik::json
