// A table's header spelt as the writer spells it, read straight from its text: the way back's one
// pass decodes it so, without building the values that the walks decode.
#pragma once

#include <string>
#include <string_view>

#include "json/memory/arena.hpp"
#include "transform/name_index.hpp"
#include "transform/table_header.hpp"

namespace tarvik {

// Both read text that the one pass has read whole and found in the writer's form.

// Reads `text`, the "columns" of a table or group in the writer's form, into `out`, made in
// `arena`, and its names (views of `text`) into `names`, as decode_columns does. Answers false
// where the columns are not whole (the walks then say what is wrong).
bool read_written_columns(std::string_view text, json::Arena& arena, DecodedTable& out,
                          NameIndex& names);

// Appends `text`, the "constants" in the writer's form of a table or group whose columns are
// named `names`, turned back and written as decode_constants writes them. Answers false where
// they are not whole or do not turn back in one pass.
bool read_written_constants(std::string_view text, const NameIndex& names, std::string& out);

}  // namespace tarvik
