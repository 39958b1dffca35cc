// A table's header (its columns, groups and constants) read back into what its rows are written
// with, and the failures that name where a table is broken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "json/memory/arena.hpp"
#include "json/memory/buffer.hpp"
#include "json/model/result.hpp"
#include "json/model/value.hpp"
#include "transform/document_plan.hpp"
#include "transform/name_index.hpp"

namespace tarvik {

// What a table or a group is made of, as its header says. It, its groups and its texts are held
// in the arena it was decoded into: a header of many groups costs no allocation of its own, and
// is given back at once with the arena.
struct DecodedTable {
  struct Column {
    std::string_view name;
    std::string_view member;  // the name as written before a cell's value, after a comma: ,"NAME":
    ColumnForm form = ColumnForm::Plain;
    const DecodedTable* group = nullptr;
  };
  std::span<const Column> columns;
  std::string_view constants;  // "name":value,… as written after a row's cells
};

// Makes the decoded tables of a header in `arena`. The columns of each list (a table's, a
// group's inside it) are gathered as they are read and copied into the arena once the list is
// whole: lists nest, so those of a group are gathered after its table's read so far.
class DecodedTableMaker {
 public:
  explicit DecodedTableMaker(json::Arena& arena) : arena_(arena) {}

  // A list of columns begins: what begin_list answers is given to end_list when it is whole.
  std::size_t begin_list() const { return gathered_.size(); }
  void add(const DecodedTable::Column& column) { gathered_.push_back(column); }
  std::span<const DecodedTable::Column> end_list(std::size_t begun);

  // A group's table, empty, in the arena.
  DecodedTable& new_group() { return *new (arena_.allocate_array<DecodedTable>(1)) DecodedTable(); }
  // `,"NAME":` for a name written `written` (with its quotes).
  std::string_view member(std::string_view written);
  std::string_view keep(std::string_view text) { return arena_.copy_string(text); }

 private:
  json::Arena& arena_;
  std::vector<DecodedTable::Column> gathered_;
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

// Reads the "columns" of a table or group (at `path`) into `out`, made by `maker`, and their
// names into `names`. The names are views of the strings of `columns`.
std::optional<Broken> decode_columns(const json::Value& columns, const std::string& path,
                                     DecodedTableMaker& maker, DecodedTable& out, NameIndex& names);

// Reads the "constants" of a table or group (at `path`), whose columns are named `names`, into
// `out`: turned back and written as "name":value,… .
std::optional<Broken> decode_constants(const json::Value& constants, const NameIndex& names,
                                       const std::string& path, std::string& out);

// Reads the header of a table or group (its "columns" and "constants" values, at `path`) into
// `out`, made by `maker`, the constants turned back and written.
std::optional<Broken> decode_header(const json::Value& columns, const json::Value& constants,
                                    const std::string& path, DecodedTableMaker& maker,
                                    DecodedTable& out);

// The way back of `payload` (decolumnarize.hpp), its places named from `root`: a constant's
// value is turned back on its own.
Result<json::Buffer, std::string> decolumnarize_at(std::string_view payload, std::string root);

}  // namespace tarvik
