// Entry points of the transform that only the tests and the fuzz targets use: the output made into
// a buffer, with a given budget or from JSON Lines, and the document every cell is built into.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "json/memory/arena.hpp"
#include "json/memory/buffer.hpp"
#include "json/model/result.hpp"
#include "json/model/value.hpp"
#include "json/read/reader.hpp"
#include "transform/columnarize.hpp"

namespace tarvik {

// columnarize_json_text written into a buffer of exactly the output's size: the bytes the module
// returns, or its message. `counts`, when given, is filled on success.
Result<json::Buffer, std::string> columnarize_json(std::string_view payload,
                                                   ColumnarizeCounts* counts = nullptr);

// The same, with `whole_budget` for the bytes that building every row at once may take.
Result<json::Buffer, std::string> columnarize_json_within(std::string_view payload,
                                                          std::size_t whole_budget);

// The same for a payload in JSON Lines.
Result<json::Buffer, std::string> columnarize_json_lines(std::string_view payload,
                                                         ColumnarizeCounts* counts = nullptr);

// Turns the rows (the elements of the payload array, consumed) into the output document
// {"columns":[...],"rows":[[...]...],"constants":{...}}, built in `arena`, or fails with
// "expected a JSON object row, got: " and the compact text of the first non-object row.
// Builds every cell: the reference for the table text, which builds none. The output shares
// cell values with the rows: both must stay alive until it is written.
Result<json::Value, std::string> columnarize_rows(std::vector<json::Value>&& rows,
                                                  json::Arena& arena);

}  // namespace tarvik
