// The column plan of a table of rows: first-seen columns, null-only columns dropped, constant
// columns moved to "constants", the output position of each name.
#include "transform/column_plan.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "json/model/map.hpp"
#include "json/write/writer.hpp"
#include "transform/constant_rule.hpp"

namespace tarvik {

using json::Arena;
using json::Map;
using json::Value;

namespace {

struct Column {
  std::size_t rows_present = 0;  // rows holding the member, null or not
  bool has_non_null = false;
  bool constant_candidate = true;
  Value reference;  // the first row's value
};

}  // namespace

// The per-column scans in one pass over every cell of every row. A row's names are distinct, so
// its cells are exactly the cells a lookup by column name would find; absent members are the
// cells left null. Columns are the names, by number.
class ColumnScan {
 public:
  // Rows that are `transient` may be released once scanned: the values kept of them are then
  // copied into `arena`.
  ColumnScan(Arena& arena, bool transient) : arena_(arena), transient_(transient) {}

  void scan(std::span<const json::RowCells> rows, std::size_t name_count) {
    columns_.resize(name_count);
    Column* const columns = columns_.data();
    if (!rows.empty()) {
      for (const json::Cell& cell : rows.front())
        first_observe(columns[cell.name], cell.value);
    }
    for (const json::RowCells& row : rows.subspan(std::min<std::size_t>(1, rows.size()))) {
      for (const json::Cell& cell : row)
        observe(columns[cell.name], cell.value);
    }
    rows_scanned_ = rows.size();
  }

  // The next of the rows read one at a time.
  void scan_row(json::RowCells row) {
    for (const json::Cell& cell : row) {
      if (cell.name >= columns_.size()) columns_.resize(std::size_t{cell.name} + 1);
      if (rows_scanned_ == 0) {
        first_observe(columns_[cell.name], cell.value);
      } else {
        observe(columns_[cell.name], cell.value);
      }
    }
    ++rows_scanned_;
  }

  std::vector<Column>& columns() { return columns_; }
  std::size_t rows_scanned() const { return rows_scanned_; }

 private:
  void first_observe(Column& column, const Value& cell) {
    ++column.rows_present;
    if (!cell.is_null()) column.has_non_null = true;
    column.reference = transient_ ? cell.deep_copy(arena_) : cell;
  }

  static void observe(Column& column, const Value& cell) {
    ++column.rows_present;
    if (!cell.is_null()) column.has_non_null = true;
    if (column.constant_candidate && !matches_constant(cell, column.reference)) {
      column.constant_candidate = false;
    }
  }

  Arena& arena_;
  const bool transient_;
  std::vector<Column> columns_;
  std::size_t rows_scanned_ = 0;
};

namespace {

// Places the scanned columns of `row_count` rows, named by `names`: each kept column's output
// position, the column names and the constants.
void place_columns(std::vector<Column>& columns, std::span<const std::string_view> names,
                   std::size_t row_count, Arena& arena, ColumnPlan& plan) {
  // A column is constant when every row holds a matching value. A row lacking the member holds
  // null, which matches only a null reference, and a column whose cells are all null is dropped
  // anyway, so only columns present in every row can be constant.
  const bool constants_possible = row_count >= 2;
  Map& constants = Map::create(arena);
  plan.positions.assign(names.size(), kNotACell);
  std::uint32_t kept = 0;
  for (std::size_t name = 0; name < columns.size(); ++name) {
    const Column& column = columns[name];
    if (!column.has_non_null) continue;
    if (constants_possible && column.constant_candidate && column.rows_present == row_count) {
      constants.insert(names[name], column.reference);
      continue;
    }
    plan.positions[name] = kept++;
  }

  Value* column_names = arena.allocate_array<Value>(kept);
  for (std::size_t name = 0; name < columns.size(); ++name) {
    if (plan.positions[name] != kNotACell) {
      column_names[plan.positions[name]] = Value::string(names[name]);
    }
  }
  plan.columns = Value::array({column_names, kept});
  plan.constants = Value::object(constants);
  plan.constant_count = constants.size();
  plan.cells_per_row = kept;
}

}  // namespace

TransformFailure non_object_row(const Value& row, std::size_t index) {
  std::string message = "expected a JSON object row, got: ";
  json::display_value(row, message);
  return {std::move(message), index};
}

ColumnPlan plan_columns(std::vector<json::RowCells>&& rows, std::span<const std::string_view> names,
                        Arena& arena) {
  ColumnPlan plan;
  plan.rows = std::move(rows);
  ColumnScan scan(arena, false);
  scan.scan(plan.rows, names.size());
  place_columns(scan.columns(), names, plan.rows.size(), arena, plan);
  return plan;
}

StreamedColumns::StreamedColumns(Arena& arena, std::string_view payload)
    : arena_(arena), payload_(payload), scan_(std::make_unique<ColumnScan>(arena, true)) {}

StreamedColumns::~StreamedColumns() = default;

void StreamedColumns::scan_row(json::RowCells row) {
  scan_->scan_row(row);
}

// The names come from a reader that is gone by the second pass: those that do not lie in the
// payload are copied.
ColumnPlan StreamedColumns::plan(std::span<const std::string_view> names) {
  std::vector<std::string_view> kept(names.begin(), names.end());
  const auto begin = reinterpret_cast<std::uintptr_t>(payload_.data());
  for (std::string_view& name : kept) {
    const auto start = reinterpret_cast<std::uintptr_t>(name.data());
    if (start < begin || start + name.size() > begin + payload_.size()) {
      name = arena_.copy_string(name);
    }
  }
  std::vector<Column>& columns = scan_->columns();
  columns.resize(kept.size());
  ColumnPlan plan;
  place_columns(columns, kept, scan_->rows_scanned(), arena_, plan);
  return plan;
}

std::size_t StreamedColumns::rows_scanned() const {
  return scan_->rows_scanned();
}

}  // namespace tarvik
