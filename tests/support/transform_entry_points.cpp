// The tests' entry points, made of the transform's own: its text written into a buffer, and the
// plan's cells built into a document.
#include "transform_entry_points.hpp"

#include <optional>
#include <utility>

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
  Result<ColumnPlan, TransformFailure> plan = plan_columns(values, arena);
  if (!plan) return failure(std::move(plan).error().message);
  json::Map& output = json::Map::create(arena, 3);
  output.insert("columns", plan.value().columns);
  output.insert("rows", rows_of(plan.value(), arena));
  output.insert("constants", plan.value().constants);
  return json::Value::object(output);
}

}  // namespace tarvik
