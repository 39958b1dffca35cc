// A table's header (its columns, groups and constants) read back into what its rows are written
// with, and the failures that name where a table is broken.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json/memory/buffer.hpp"
#include "json/model/result.hpp"
#include "json/model/value.hpp"
#include "transform/document_plan.hpp"
#include "transform/name_index.hpp"

namespace tarvik {

// What a table or a group is made of, as its header says.
struct DecodedTable {
  struct Column {
    std::string_view name;
    std::string member;  // the name as written before a cell's value, after a comma: ,"NAME":
    ColumnForm form = ColumnForm::Plain;
    const DecodedTable* group = nullptr;
  };
  std::vector<Column> columns;
  std::string constants;  // "name":value,… as written after a row's cells
  std::vector<std::unique_ptr<DecodedTable>> groups;
};

// A failure that names the place where the document is broken.
struct Broken {
  std::string message;
};

// The failure `what` at `path`, a JSONPath.
Broken broken(const std::string& path, std::string_view what);

// "1 cell", "2 cells".
std::string counted(std::uint64_t count, std::string_view thing);

// `name` as a JSON string, for a message.
std::string quoted(std::string_view name);

// Reads the "columns" of a table or group (at `path`) into `out`, and their names into `names`.
// The names are views of the strings of `columns`.
std::optional<Broken> decode_columns(const json::Value& columns, const std::string& path,
                                     DecodedTable& out, NameIndex& names);

// Reads the "constants" of a table or group (at `path`), whose columns are named `names`, into
// `out`: turned back and written as "name":value,… .
std::optional<Broken> decode_constants(const json::Value& constants, const NameIndex& names,
                                       const std::string& path, std::string& out);

// Reads the header of a table or group (its "columns" and "constants" values, at `path`) into
// `out`, the constants turned back and written.
std::optional<Broken> decode_header(const json::Value& columns, const json::Value& constants,
                                    const std::string& path, DecodedTable& out);

// The way back of `payload` (decolumnarize.hpp), its places named from `root`: a constant's
// value is turned back on its own.
Result<json::Buffer, std::string> decolumnarize_at(std::string_view payload, std::string root);

}  // namespace tarvik
