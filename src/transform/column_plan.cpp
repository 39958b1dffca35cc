// The column plan of a table of rows: first-seen columns, null-only columns dropped, constant
// columns moved to "constants", the output position of each name.
#include "transform/column_plan.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "json/model/map.hpp"
#include "json/write/writer.hpp"

namespace tarvik {

using json::Arena;
using json::Map;
using json::Value;

namespace {

// The constants of a table that has none, as most have: one empty map, shared and never written
// to, instead of a map made for every call.
const Map& no_constants() {
  alignas(16) static char block[256];
  static Arena arena(block, sizeof block);
  static const Map& none = Map::create(arena);
  return none;
}

// Places the scanned columns of `row_count` rows, named by `names`: each kept column's output
// position, the column names and the constants.
void place_columns(std::vector<Column>& columns, std::span<const std::string_view> names,
                   std::size_t row_count, Arena& arena, ColumnPlan& plan) {
  // A column is constant when every row holds a matching value. A row lacking the member holds
  // null, which matches only a null reference, and a column whose cells are all null is dropped
  // anyway, so only columns present in every row can be constant.
  const bool constants_possible = row_count >= 2;
  Map* constants = nullptr;
  plan.positions.assign(names.size(), kNotACell);
  std::uint32_t kept = 0;
  for (std::size_t name = 0; name < columns.size(); ++name) {
    const Column& column = columns[name];
    if (!column.has_non_null) continue;
    if (constants_possible && column.constant_candidate && column.rows_present == row_count) {
      if (constants == nullptr) constants = &Map::create(arena);
      constants->insert(names[name], column.reference);
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
  plan.constants = Value::object(constants != nullptr ? *constants : no_constants());
  plan.constant_count = constants != nullptr ? constants->size() : 0;
  plan.cells_per_row = kept;
}

}  // namespace

TransformFailure non_object_row(const Value& row, std::size_t index) {
  std::string message = "expected a JSON object row, got: ";
  json::display_value(row, message);
  return {std::move(message), index};
}

KeptColumns::KeptColumns(Arena& arena) : arena_(arena), scan_(arena, false) {}

void KeptColumns::rows(std::span<const json::RowCells> rows, std::size_t name_count) {
  scan_.scan(rows, name_count);
}

ColumnPlan KeptColumns::plan(std::vector<json::RowCells>&& rows,
                             std::span<const std::string_view> names) {
  ColumnPlan plan;
  plan.rows = std::move(rows);
  std::vector<Column>& columns = scan_.columns();
  columns.resize(names.size());
  place_columns(columns, names, plan.rows.size(), arena_, plan);
  return plan;
}

ColumnPlan plan_columns(std::vector<json::RowCells>&& rows, std::span<const std::string_view> names,
                        Arena& arena) {
  KeptColumns columns(arena);
  columns.rows(rows, names.size());
  return columns.plan(std::move(rows), names);
}

StreamedColumns::StreamedColumns(Arena& arena, std::string_view payload)
    : arena_(arena), payload_(payload), scan_(arena, true) {}

void StreamedColumns::scan_row(json::RowCells row, std::size_t name_count) {
  scan_.scan({&row, 1}, name_count);
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
  std::vector<Column>& columns = scan_.columns();
  columns.resize(kept.size());
  ColumnPlan plan;
  place_columns(columns, kept, scan_.rows_scanned(), arena_, plan);
  return plan;
}

std::size_t StreamedColumns::rows_scanned() const {
  return scan_.rows_scanned();
}

}  // namespace tarvik
