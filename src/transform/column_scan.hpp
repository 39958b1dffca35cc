// What a pass over a table's rows finds of each column: how many rows hold it, whether any of its
// cells is not null, and whether every cell matches the first row's, which would make it constant.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "json/memory/arena.hpp"
#include "json/model/cell.hpp"
#include "json/model/value.hpp"
#include "transform/constant_rule.hpp"

namespace tarvik {

struct Column {
  std::size_t rows_present = 0;  // rows holding the member, null or not
  bool has_non_null = false;
  bool constant_candidate = true;
  json::Value reference;  // the first row's value
};

// The per-column scans, a row at a time. A row's names are distinct, so its cells are exactly
// the cells a lookup by column name would find; absent members are the cells left null. Columns
// are the names, by number.
class ColumnScan {
 public:
  // Rows that are `transient` may be released once scanned: the values kept of them are then
  // copied into `arena`.
  ColumnScan(json::Arena& arena, bool transient) : arena_(arena), transient_(transient) {}

  // The next rows, whose names are numbered below `name_count`.
  void scan(std::span<const json::RowCells> rows, std::size_t name_count) {
    if (rows.empty()) return;
    if (name_count > columns_.size()) columns_.resize(name_count);
    Column* const columns = columns_.data();
    if (rows_scanned_ == 0) {
      for (const json::Cell& cell : rows.front())
        first_observe(columns[cell.name], cell.value);
      rows = rows.subspan(1);
      ++rows_scanned_;
    }
    for (const json::RowCells& row : rows) {
      for (const json::Cell& cell : row)
        observe(columns[cell.name], cell.value);
    }
    rows_scanned_ += rows.size();
  }

  std::vector<Column>& columns() { return columns_; }
  std::size_t rows_scanned() const { return rows_scanned_; }

 private:
  void first_observe(Column& column, const json::Value& cell) {
    ++column.rows_present;
    if (!cell.is_null()) column.has_non_null = true;
    column.reference = transient_ ? cell.deep_copy(arena_) : cell;
  }

  static void observe(Column& column, const json::Value& cell) {
    ++column.rows_present;
    if (!cell.is_null()) column.has_non_null = true;
    if (column.constant_candidate && !matches_constant(cell, column.reference)) {
      column.constant_candidate = false;
    }
  }

  json::Arena& arena_;
  const bool transient_;
  std::vector<Column> columns_;
  std::size_t rows_scanned_ = 0;
};

}  // namespace tarvik
