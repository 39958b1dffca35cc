// The plan of a document's transform, found by the document scan and followed by the document
// writer: which arrays and objects become tables, and how each table is laid out.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "json/memory/arena.hpp"
#include "transform/name_index.hpp"

namespace tarvik {

// How a column's cells are written: as values, or as the arrays of sub-cells of a group (one
// object per cell) or of a list group (a list of objects per cell).
enum class ColumnForm : std::uint8_t { Plain, Group, ListGroup };

struct TablePlan;

struct PlannedColumn {
  std::string_view name;
  ColumnForm form = ColumnForm::Plain;
  const TablePlan* group = nullptr;  // the layout of a group's or a list group's objects
};

struct PlannedConstant {
  std::string_view name;
  std::string_view value;  // the first row's value, as its text in the input
};

// The layout of a table, or of the objects of a group.
struct TablePlan {
  // Where a member of a row goes: the output position of its column, or kNoCell for a constant
  // or a column that is null in every row.
  static constexpr std::uint32_t kNoCell = NameIndex::kAbsent;

  std::vector<PlannedColumn> columns;  // in output order
  std::vector<PlannedConstant> constants;
  // Every name of the rows, first-seen; its guess of the next row's names moves as rows are read.
  mutable NameIndex names;
  std::vector<std::uint32_t> positions;  // of each name's column, by its number in `names`
  std::vector<std::unique_ptr<TablePlan>> groups;  // the plans the columns refer to
};

// The tables of a document, each known by where its text starts in the input.
class DocumentPlan {
 public:
  void add_table(const char* start, std::unique_ptr<TablePlan> table) {
    tables_.emplace_back(start, std::move(table));
  }
  // Once every table is added.
  void seal() { std::ranges::sort(tables_, {}, &Table::first); }

  // The table whose array or object starts at `start`, or nullptr when it stays as it is.
  const TablePlan* table_at(const char* start) const {
    const auto found = std::ranges::lower_bound(tables_, start, {}, &Table::first);
    return found != tables_.end() && found->first == start ? found->second.get() : nullptr;
  }

  // The length of the document's transformed text.
  std::uint64_t size = 0;
  // A member name stood twice in one object: the text must be read into a document first.
  bool repeats_a_name = false;
  // The names and strings the tables refer to that are not text of the input.
  std::unique_ptr<json::Arena> kept = std::make_unique<json::Arena>();

 private:
  using Table = std::pair<const char*, std::unique_ptr<TablePlan>>;
  std::vector<Table> tables_;
};

}  // namespace tarvik
