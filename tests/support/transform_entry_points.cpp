// The tests' entry points, made of the transform's own: its text written into a buffer, and the
// plan's cells built into a document.
#include "transform_entry_points.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "json/model/cell.hpp"
#include "json/model/map.hpp"
#include "transform/column_plan.hpp"
#include "transform/table_text.hpp"

namespace tarvik {

namespace {

Result<json::Buffer, std::string> into_buffer(std::string_view payload, json::Layout layout,
                                              std::optional<std::size_t> whole_budget,
                                              ColumnarizeCounts* counts) {
  Result<TableText, TransformFailure> text = columnarize_json_text(payload, layout, whole_budget);
  if (!text.ok()) return failure(std::move(text).error().message);
  TableText& table = text.value();
  json::Buffer out(table.size());
  table.write(out.write_position());
  out.commit(table.size());
  if (counts != nullptr) *counts = table.counts();
  return out;
}

// The array of the planned table's rows, every cell built in `arena`: rows * cells_per_row
// values, null where a row lacks the column.
json::Value rows_of(const ColumnPlan& plan, json::Arena& arena) {
  const std::size_t kept = plan.cells_per_row;
  const std::size_t row_count = plan.rows.size();
  json::Value* cells = arena.allocate_array<json::Value>(row_count * kept);
  std::fill_n(cells, row_count * kept, json::Value::null());
  json::Value* row_arrays = arena.allocate_array<json::Value>(row_count);
  for (std::size_t r = 0; r < row_count; ++r) {
    json::Value* row_cells = cells + r * kept;
    for (const json::Cell& cell : plan.rows[r]) {
      const std::uint32_t position = plan.positions[cell.name];
      if (position != kNotACell) row_cells[position] = cell.value;
    }
    row_arrays[r] = json::Value::array({row_cells, kept});
  }
  return json::Value::array({row_arrays, row_count});
}

}  // namespace

Result<json::Buffer, std::string> columnarize_json(std::string_view payload,
                                                   ColumnarizeCounts* counts) {
  return into_buffer(payload, json::Layout::Array, std::nullopt, counts);
}

Result<json::Buffer, std::string> columnarize_json_within(std::string_view payload,
                                                          std::size_t whole_budget) {
  return into_buffer(payload, json::Layout::Array, whole_budget, nullptr);
}

Result<json::Buffer, std::string> columnarize_json_lines(std::string_view payload,
                                                         ColumnarizeCounts* counts) {
  return into_buffer(payload, json::Layout::Lines, std::nullopt, counts);
}

Result<json::Value, std::string> columnarize_rows(std::vector<json::Value>&& rows_in,
                                                  json::Arena& arena) {
  const std::vector<json::Value> values = std::move(rows_in);
  // Each row's members as cells, their names numbered in first-seen order as the reader numbers
  // them; the names lie in the payload or the arena, as the rows do.
  json::Map& numbers = json::Map::create(arena);
  std::vector<std::string_view> names;
  const auto number_of = [&](std::string_view name) {
    if (const json::Value* known = numbers.get(name)) {
      return static_cast<std::uint32_t>(known->as_number().as_non_negative());
    }
    numbers.insert(name, json::Value::number(json::Number::non_negative(names.size())));
    names.push_back(name);
    return static_cast<std::uint32_t>(names.size() - 1);
  };
  std::vector<json::RowCells> rows;
  for (const json::Value& value : values) {
    if (!value.is_object()) return failure(non_object_row(value, rows.size()).message);
    const json::Map& row = value.as_object();
    json::Cell* cells = arena.allocate_array<json::Cell>(row.size());
    for (std::size_t i = 0; i < row.size(); ++i)
      cells[i] = {row.entries()[i].value, nullptr, 0, number_of(row.entries()[i].key)};
    rows.emplace_back(cells, row.size());
  }
  const ColumnPlan plan = plan_columns(std::move(rows), names, arena);
  json::Map& output = json::Map::create(arena, 3);
  output.insert("columns", plan.columns);
  output.insert("rows", rows_of(plan, arena));
  output.insert("constants", plan.constants);
  return json::Value::object(output);
}

}  // namespace tarvik
