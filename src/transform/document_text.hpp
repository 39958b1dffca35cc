// The second pass of the document transform: the document's text written as its plan lays it out,
// with every array and object the plan names as a table written as one.
#pragma once

#include <string_view>

#include "json/memory/buffer.hpp"
#include "transform/document_plan.hpp"

namespace tarvik {

// Appends to `out` the transformed text of `input`, which scan_document read without error and
// planned as `plan` (without a repeated name): the document written compact, its tables as
// tables. Throws std::logic_error when the text written is not the plan's length, which would
// be a fault of this code. Memory exhaustion throws std::bad_alloc. Thread-safe.
void write_document(std::string_view input, const DocumentPlan& plan, json::Buffer& out);

}  // namespace tarvik
