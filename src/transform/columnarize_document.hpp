// Document mode: a whole JSON document written compact, with every array of objects and every
// object of objects that a table writes shorter written as that table, at any depth.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "json/memory/buffer.hpp"
#include "json/model/result.hpp"

namespace tarvik {

// Reads `payload`, one JSON document of any kind, and returns its text written compact, with
// these replacements everywhere: an array of at least max(min_rows, 1) elements, all objects,
// becomes {"columns":…,"rows":…,"constants":…}, and an object of at least max(min_rows, 2)
// members, all objects, {"keys":…,"columns":…,"rows":…,"constants":…}, each only when that
// text is strictly shorter; in a table, a column whose cells are objects, or lists of objects,
// is written as a group, or a list group, when that is strictly shorter. Constants need two
// rows; two numbers match when their exact values are equal.
// Fails with "invalid JSON: " and the reader's error. Internal faults propagate as C++
// exceptions; memory exhaustion, or an output too large to fit, as std::bad_alloc. `payload` is
// only read during the call. Thread-safe.
Result<json::Buffer, std::string> columnarize_document(std::string_view payload,
                                                       std::uint64_t min_rows);

}  // namespace tarvik
