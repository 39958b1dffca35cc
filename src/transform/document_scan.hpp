// The first pass of the document transform: the document read once with the reader's rules and
// errors, and planned: which arrays and objects become tables, laid out how, and the text's length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "json/model/result.hpp"
#include "json/read/error.hpp"
#include "transform/document_plan.hpp"

namespace tarvik {

// Reads `input`, one JSON document of any kind, and plans its transform: an array of at least
// max(min_rows, 1) objects becomes a table, an object of at least max(min_rows, 2) members that
// are all objects a keyed table, each only when its text is strictly shorter; inside a table, a
// column of objects (or of lists of objects) becomes a group (a list group) when that is
// strictly shorter. When a name stands twice in one object, the plan only says so
// (repeats_a_name): the walk by member cannot tell which value is kept.
// Tables shorter than `least_planned` bytes of text are left unplanned (planned again from their
// text if written).
// The plan refers to `input`, which must outlive it. Errors are the reader's, with their
// positions. Memory exhaustion throws std::bad_alloc. Thread-safe.
inline constexpr std::size_t kLeastPlannedTable = std::size_t{16} << 10;
Result<DocumentPlan, json::Error> scan_document(std::string_view input, std::uint64_t min_rows,
                                                std::size_t least_planned = kLeastPlannedTable);

// Takes the rows `plan` kept, once it is written, for the thread's next scans to fill: their room
// is then not asked of the system again at every call. Only while what the thread keeps stays
// small; the plan is not read after.
void recycle_rows(DocumentPlan& plan);

}  // namespace tarvik
