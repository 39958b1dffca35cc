// The payload pipeline: read the rows, plan the columns, write the output text.
#include <new>
#include <string>
#include <utility>

#include "json/huge_pages.hpp"
#include "json/memory_room.hpp"
#include "json/reader.hpp"
#include "transform/column_plan.hpp"
#include "transform/columnarize.hpp"

namespace tarvik {

namespace {

Result<TableText, std::string> transform_once(std::string_view payload) {
  // The rows live in this arena, which is released before the output is made. Strings without
  // escapes, and the arrays and objects below the rows, which are carried over as their text,
  // point into the payload.
  json::Arena arena;
  auto rows = json::parse_value_list(payload, arena, json::Build::Rows);
  if (!rows.ok()) return failure("invalid row-oriented JSON: " + rows.error().display());
  const Result<ColumnPlan, std::string> plan = plan_columns(rows.value(), arena);
  if (!plan.ok()) return failure(plan.error());
  // The cells seldom outgrow the payload, which also holds every member name.
  return write_table_text(plan.value(), payload.size());
}

}  // namespace

Result<TableText, std::string> columnarize_json_text(std::string_view payload) {
  auto transform = [payload] {
    auto text = transform_once(payload);
    if (text.ok()) json::ensure_room_for(text.value().size());
    return text;
  };
  try {
    return transform();
  } catch (const std::bad_alloc&) {
    // The blocks kept for later calls may be what this one lacks.
    if (json::release_kept_blocks() == 0) throw;
  }
  return transform();
}

Result<json::Buffer, std::string> columnarize_json(std::string_view payload,
                                                   ColumnarizeCounts* counts) {
  auto text = columnarize_json_text(payload);
  if (!text.ok()) return failure(std::move(text).error());
  TableText& table = text.value();
  json::Buffer out(table.size());
  table.write(out.write_position());
  out.commit(table.size());
  if (counts != nullptr) *counts = table.counts();
  return out;
}

}  // namespace tarvik
