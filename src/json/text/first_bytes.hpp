// Sixteen-byte blocks: a mask that keeps the first n bytes, for the reader's digit runs and the
// float layout, and an unaligned store.
#pragma once

#include <array>

#include "json/text/simd.hpp"

#if TARVIK_SSE2
namespace tarvik::json {

namespace first_bytes_detail {

// Sixteen bytes of 0xFF, then sixteen of 0: the sixteen from 16 - n on keep the first n bytes.
inline constexpr std::array<unsigned char, 32> MASKS = [] {
  std::array<unsigned char, 32> table{};
  for (int i = 0; i < 16; ++i)
    table[i] = 0xFF;
  return table;
}();

}  // namespace first_bytes_detail

// 0xFF in the first `count` bytes (0 to 16), 0 in the others.
inline __m128i first_bytes(int count) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(&first_bytes_detail::MASKS[16 - count]));
}

inline void store_16(char* at, __m128i bytes) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(at), bytes);
}

}  // namespace tarvik::json
#endif
