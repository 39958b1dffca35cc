// The row-to-column transform and the payload pipeline that chains reader, transform and writer.
// No Python here: both run with the interpreter lock released.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "json/memory/arena.hpp"
#include "json/memory/buffer.hpp"
#include "json/model/result.hpp"
#include "json/model/value.hpp"

namespace tarvik {

// Turns the rows (the elements of the payload array, consumed) into the output document
// {"columns":[...],"rows":[[...]...],"constants":{...}}, built in `arena`, or fails with
// "expected a JSON object row, got: " and the compact text of the first non-object row.
// The output shares cell values with the rows: both must stay alive until it is written.
// Thread-safe: touches nothing but its arguments (and the calling thread's hash seed).
Result<json::Value, std::string> columnarize_rows(std::vector<json::Value>&& rows,
                                                  json::Arena& arena);

// What a transform produced, for callers that report it.
struct ColumnarizeCounts {
  std::size_t rows = 0;
  std::size_t columns = 0;
  std::size_t constants = 0;
};

// Reads `payload` as one JSON array of rows, transforms it and writes the output document.
// Returns the output bytes or the error message ("invalid row-oriented JSON: " and the reader's
// error, or the transform's message), and, on success, stores the output's counts in `counts`
// when given. Internal faults propagate as C++ exceptions, memory exhaustion as std::bad_alloc;
// everything built is released on every path. Thread-safe.
Result<json::Buffer, std::string> columnarize_json(std::string_view payload,
                                                   ColumnarizeCounts* counts = nullptr);

// The same for a payload in JSON Lines, one row per line (json::parse_value_lines): the result
// is what columnarize_json gives for the array of those rows, and reader errors name the line.
Result<json::Buffer, std::string> columnarize_json_lines(std::string_view payload,
                                                         ColumnarizeCounts* counts = nullptr);

}  // namespace tarvik
