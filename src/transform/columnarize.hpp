// The payload pipeline: the rows read, planned and written as the output text, at once or as it is
// made. No Python here: it runs with the interpreter lock released.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "json/model/result.hpp"
#include "json/read/reader.hpp"
#include "transform/table_text.hpp"
#include "transform/text_blocks.hpp"
#include "transform/transform_failure.hpp"

namespace tarvik {

// What building every row at once may take by default: twice the payload's size and 8 MB;
// beyond it, the rows are read one at a time in two passes.
std::size_t whole_rows_budget(std::size_t payload_size);

// Reads `payload`, laid out as one JSON array of rows or as JSON Lines (one row a line, reader
// errors naming the line), and transforms it into the output text, whose size is checked
// against the memory the process may still use. The rows are built at once while they take at
// most `whole_budget` bytes (by default whole_rows_budget); beyond, they are read twice, one at
// a time. Output and errors are the same either way. Returns the text, or the failure: "invalid
// row-oriented JSON: " and the reader's error, or the transform's message with the index of the
// row that is no object. Internal faults propagate as C++ exceptions; memory exhaustion, or an
// output too large to fit, as std::bad_alloc, after every kept block was given back and the
// work tried once more. Everything built is released on every path. `payload` is only read
// during the call. Thread-safe.
Result<TableText, TransformFailure> columnarize_json_text(
    std::string_view payload, json::Layout layout = json::Layout::Array,
    std::optional<std::size_t> whole_budget = std::nullopt);

// Transforms `payload`, laid out as one JSON array or as JSON Lines, and gives the output to
// `sink` as it is made, in blocks of a megabyte; nothing goes before the payload is known to be
// valid. The rows are built at once while they take at most `whole_budget` bytes, their cell
// text then held until written; beyond, they are read twice, one at a time, and the call takes
// a constant memory besides the payload. Returns the counts, or the failure
// columnarize_json_text gives; faults as for columnarize_json_text.
Result<ColumnarizeCounts, TransformFailure> columnarize_json_to(std::string_view payload,
                                                                json::Layout layout, TextSink& sink,
                                                                std::size_t whole_budget);

}  // namespace tarvik
