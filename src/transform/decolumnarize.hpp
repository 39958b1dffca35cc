// The way back from document mode and from columnarize: every table of a document turned back
// into the array of objects (or the object of objects) it stands for.
#pragma once

#include <string>
#include <string_view>

#include "json/memory/buffer.hpp"
#include "json/model/result.hpp"

namespace tarvik {

// Reads `payload`, one JSON document of any kind, and returns it written compact with every
// table turned back: an object whose members are exactly "columns", "rows", "constants" (or
// "keys", "columns", "rows", "constants"), in that order, becomes an array of objects (an object
// keyed by "keys"), each row the object of its non-null cells under their column names in column
// order (a group's cell the object of its sub-cells and the group's constants, a list group's
// cell an array of such objects), then the table's constants. Cells and constants are turned
// back too.
// Fails with "invalid JSON: " and the reader's error, or with "broken table at PATH: " and what
// is wrong there, PATH a JSONPath into the payload; nothing is guessed. Internal faults propagate
// as C++ exceptions; memory exhaustion as std::bad_alloc. Thread-safe.
Result<json::Buffer, std::string> decolumnarize(std::string_view payload);

}  // namespace tarvik
