// The writer's spelling of a float, in both directions: the writer asks it to write a float, the
// reader whether a float's text is exactly what the writer writes, the messages to print one.
#pragma once

#include <cstddef>
#include <cstdint>

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
};

// Whether the float text [number.digits, end) is exactly what write_float writes for the
// magnitude of `value`, which the text reads back as. The writer's text is fixed by the shortest
// decimal of the value: so the text must spell that decimal, in the writer's layout for it.
bool is_written_float(const NumberText& number, const char* end, double value);

}  // namespace tarvik::json
