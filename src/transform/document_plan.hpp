// The plan of a document's transform, found by the document scan and followed by the document
// writer: which arrays and objects become tables, and how each table is laid out.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
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
  bool copied = false;     // whose text is its transformed text
};

// A piece of the input as the scan saw it: a member's value (with the number of its name in its
// table) or a member's name, so that a table is written without reading its text again.
struct SeenText {
  // The text is not its transformed text: it is read again and written as a value.
  static constexpr std::uint32_t kRewritten = std::uint32_t{1} << 31;
  std::uint32_t name;   // the name's number, with kRewritten
  std::uint32_t start;  // offset in the input
  std::uint32_t size;
};

// The rows of a table as the scan saw them, in order.
template <template <class> class Sequence>
struct RowsOf {
  Sequence<SeenText> cells;
  Sequence<std::uint32_t> row_ends;  // where each row's cells end in `cells`
  // Of a list group's objects: how many each list holds, list after list.
  Sequence<std::uint32_t> list_lengths;
  // Of a keyed table: each row's name.
  Sequence<SeenText> names;
};

template <class T>
using Growing = std::vector<T>;
template <class T>
using Fixed = std::span<const T>;

using SeenRows = RowsOf<Growing>;  // as the scan keeps them
using KeptRows = RowsOf<Fixed>;    // as a plan holds them

// The bytes the vectors of `rows` hold, filled or not.
inline std::size_t held_bytes(const SeenRows& rows) {
  return (rows.cells.capacity() + rows.names.capacity()) * sizeof(SeenText) +
         (rows.row_ends.capacity() + rows.list_lengths.capacity()) * sizeof(std::uint32_t);
}

// The layout of a table, or of the objects of a group. Plans live in the document plan's arena.
struct TablePlan {
  // Where a member of a row goes: the output position of its column, or kNoCell for a constant
  // or a column that is null in every row.
  static constexpr std::uint32_t kNoCell = NameIndex::kAbsent;

  std::span<const PlannedColumn> columns;  // in output order
  std::span<const PlannedConstant> constants;
  std::span<const std::uint32_t> positions;  // of each name's column, by the name's number
  std::span<const TablePlan* const> groups;  // the plans the columns refer to
  // The rows, when the scan kept them all.
  KeptRows rows;
  bool rows_seen = false;
  // Without the rows, the names to find each member's column by; their guess of the next row's
  // names moves as rows are written.
  NameIndex* names = nullptr;
  // While the table is written: the next of its rows, and of its lists, to be written.
  mutable std::size_t next_row = 0;
  mutable std::size_t next_list = 0;
  // Whether the last row written filled every column in the columns' order.
  mutable bool rows_in_order = true;
};

// The tables of a document, each known by where its text starts in the input.
class DocumentPlan {
 public:
  struct Table {
    const char* start;
    const char* end;
    // Its layout; none for a short table, planned again from its text when it is written (the
    // plans of short tables are mostly never written: they stand in a group's cells, say).
    const TablePlan* plan;
  };

  // Tables are added as they end, so one that holds others comes after them: it is placed
  // before them, which keeps the tables in the order of their starts with only the tables
  // inside it moved (sorting them all once the scan ended cost more).
  void add_table(std::string_view text, const TablePlan* plan) {
    // Mostly after every table so far: the next list of a column, say.
    if (tables_.empty() || tables_.back().start < text.data()) {
      tables_.push_back({text.data(), text.data() + text.size(), plan});
      return;
    }
    const auto after = std::ranges::upper_bound(tables_, text.data(), {}, &Table::start);
    tables_.insert(after, {text.data(), text.data() + text.size(), plan});
  }

  // The table whose array or object starts at `start`, or nullptr when it stays as it is.
  const Table* table_at(const char* start) const {
    if (tables_.empty()) return nullptr;
    const auto found = std::ranges::lower_bound(tables_, start, {}, &Table::start);
    return found != tables_.end() && found->start == start ? &*found : nullptr;
  }

  // The length of the document's transformed text.
  std::uint64_t size = 0;
  // The fewest rows a table is made of, as the scan was told.
  std::uint64_t min_rows = 0;
  // A member name stood twice in one object: the text must be read into a document first.
  bool repeats_a_name = false;
  // The tables' plans, and the names and strings they refer to that are not text of the input.
  std::unique_ptr<json::Arena> kept = std::make_unique<json::Arena>();
  // The rows the plans refer to, as the scan kept them; and the name indexes of the plans
  // without rows.
  std::vector<SeenRows> rows;
  std::vector<std::unique_ptr<NameIndex>> name_indexes;

 private:
  std::vector<Table> tables_;
};

}  // namespace tarvik
