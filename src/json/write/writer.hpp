// The JSON writer: compact UTF-8 text of a Value, appended to a byte buffer (serialize) or to a
// message (display). Both produce the same bytes; neither can fail except by running out of memory.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "json/memory/buffer.hpp"
#include "json/model/cell.hpp"
#include "json/model/value.hpp"

namespace tarvik::json {

// Appends the compact JSON text of `value` to `out`: no whitespace, members in entry order,
// minimal string escapes, integers in their form, floats as the shortest text that reads back.
void serialize_value(const Value& value, Buffer& out);

// Appends the text of a cell: its written text when it has one, else its value's text.
void serialize_cell(const Cell& cell, Buffer& out);

// Appends the array of the cells of a row in output order, null where a cell is missing:
// "[" and the cells' text joined by commas, then "]".
void serialize_row(std::span<const Cell* const> cells, Buffer& out);

// A long text of the input that a row's written text leaves out, to be copied straight from
// where it lies when the output is put together: copied once, not into the row's text and again.
struct TextSplice {
  std::size_t at;  // where it belongs in the buffer's content
  std::string_view text;
};

// serialize_row, but a cell's text that lies in `input` (which must be kept until the output is
// put together) and is at least kSplicedText bytes long is left out of `out` and noted in
// `splices`. Returns the length of the row's text, the texts left out included.
inline constexpr std::size_t kSplicedText = 256;
std::size_t serialize_row(std::span<const Cell* const> cells, Buffer& out, std::string_view input,
                          std::vector<TextSplice>& splices);

// Appends the same text as serialize_value to a message, never shortened.
void display_value(const Value& value, std::string& out);

}  // namespace tarvik::json
