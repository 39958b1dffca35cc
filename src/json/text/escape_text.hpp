// The writer's spelling of a string's bytes, in both directions: which bytes it escapes and how,
// the one hex alphabet, and the decoding of \u digits with the test of a read escape against it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tarvik::json {

// The escape letter of each byte; 0 copies the byte unchanged, 'u' writes \u00XX.
inline constexpr std::array<char, 256> ESCAPE = [] {
  std::array<char, 256> table{};
  for (int byte = 0; byte < 0x20; ++byte)
    table[byte] = 'u';
  table['\b'] = 'b';
  table['\t'] = 't';
  table['\n'] = 'n';
  table['\f'] = 'f';
  table['\r'] = 'r';
  table['"'] = '"';
  table['\\'] = '\\';
  return table;
}();

// The length of the text the writer writes for a string of these bytes, its quotes included.
inline std::size_t written_string_size(std::string_view text) {
  std::size_t size = 2 + text.size();
  for (const char byte : text) {
    const char escape = ESCAPE[static_cast<unsigned char>(byte)];
    if (escape != 0) size += escape == 'u' ? 5 : 1;
  }
  return size;
}

// The digits the writer writes in \u escapes.
inline constexpr char HEX_DIGITS[] = "0123456789abcdef";

namespace escape_text_detail {

// The value of each hex digit of either case, shifted left by `shift`; any other byte maps to -1.
constexpr std::array<std::int16_t, 256> make_hex_table(int shift) {
  std::array<std::int16_t, 256> table{};
  table.fill(-1);
  for (int digit = 0; digit < 16; ++digit) {
    const auto lower = static_cast<unsigned char>(HEX_DIGITS[digit]);
    const auto value = static_cast<std::int16_t>(digit << shift);
    table[lower] = value;
    if (lower >= 'a') table[lower - 'a' + 'A'] = value;
  }
  return table;
}

}  // namespace escape_text_detail

// Digit values for \u escapes: HEX0[b] is the value of hex digit b, HEX1[b] that value shifted
// left by four; any other byte maps to -1, so or-ing two entries stays negative.
inline constexpr std::array<std::int16_t, 256> HEX0 = escape_text_detail::make_hex_table(0);
inline constexpr std::array<std::int16_t, 256> HEX1 = escape_text_detail::make_hex_table(4);

// Whether the \u escape with the four hex `digits` of code unit `unit` is the one the writer
// writes: it spells a control character without a letter escape as \u00 and two lowercase hex
// digits, and writes every other character itself.
inline bool is_written_unicode_escape(std::uint16_t unit, const char* digits) {
  if (unit >= 0x20 || ESCAPE[unit] != 'u') return false;
  const char expected[4] = {'0', '0', HEX_DIGITS[unit >> 4], HEX_DIGITS[unit & 0xF]};
  return std::memcmp(digits, expected, 4) == 0;
}

}  // namespace tarvik::json
