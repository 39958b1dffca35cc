// The JSON writer: compact UTF-8 text of a Value, appended to a byte buffer (serialize) or to a
// message (display). Both produce the same bytes; neither can fail except by running out of memory.
#pragma once

#include <cstddef>
#include <string>

#include "json/buffer.hpp"
#include "json/value.hpp"

namespace tarvik::json {

// Longest text write_float produces ("-0.000011000000000000001", "-2.2250738585072014e-308").
inline constexpr std::size_t kMaxFloatText = 24;

// Appends the compact JSON text of `value` to `out`: no whitespace, members in entry order,
// minimal string escapes, integers in their form, floats as the shortest text that reads back.
void serialize_value(const Value& value, Buffer& out);

// Appends the same text as serialize_value to a message, never shortened.
void display_value(const Value& value, std::string& out);

// Writes the text of a float into `out` (at least kMaxFloatText bytes) and returns its length:
// shortest round-trip digits, plain decimal for exponents -5..15, otherwise d.ddde±x.
// A non-finite value, which the model never holds, is written as null.
std::size_t write_float(double value, char* out);

}  // namespace tarvik::json
