// The members of a row as the table transform reads them: cells, each a value under a numbered
// name, carrying its text when the writer would write exactly that text.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "json/model/value.hpp"

namespace tarvik::json {

// One member of a row. Names are numbered in the order they were first seen in the rows, so a
// column is a number and a row's cells need no map.
struct Cell {
  Value value;
  // The value's text in the input when it is the very text the writer writes for the value (a
  // string with its quotes, a number), copied instead of being written again; null otherwise.
  const char* text = nullptr;
  std::uint32_t text_size = 0;
  std::uint32_t name = 0;

  std::string_view written_text() const { return {text, text_size}; }
};

// The cells of one row, in the order of their members, with distinct names.
using RowCells = std::span<const Cell>;

}  // namespace tarvik::json
