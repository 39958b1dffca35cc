// A document whose objects may repeat a member name, rewritten compact as the reader reads it: the
// last value, at the position where the name first stood. The walks by member need it so.
#pragma once

#include <string_view>

#include "json/memory/buffer.hpp"

namespace tarvik {

// Appends to `out` the compact text of `document`, one JSON value read without error before,
// with each repeated name's last value at its first position. Memory beyond the output: the
// text of the objects open on one path. Throws std::logic_error if `document` does not read
// back, which would be a fault of the caller; memory exhaustion throws std::bad_alloc.
void write_without_repeated_names(std::string_view document, json::Buffer& out);

}  // namespace tarvik
