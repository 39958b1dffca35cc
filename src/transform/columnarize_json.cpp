// The payload pipeline: read the rows, plan the columns, write the output text.
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "json/memory/huge_pages.hpp"
#include "json/memory/memory_room.hpp"
#include "json/read/reader.hpp"
#include "json/write/writer.hpp"
#include "transform/column_plan.hpp"
#include "transform/columnarize.hpp"

namespace tarvik {

namespace {

// A table of at most this many cells is built as a document and written in one pass: fewer
// allocations than the table text, and its cells take 64 KB at most.
constexpr std::size_t kSmallTableCells = 4096;
// The arena's first block, on the stack: the rows of a payload of a few kilobytes fit in it.
constexpr std::size_t kFirstArenaBlock = 4096;

// How the rows are read: one JSON array, or JSON Lines.
using RowReader = Result<std::vector<json::Value>, json::Error> (*)(std::string_view, json::Arena&,
                                                                    json::Build);

Result<TableText, std::string> transform_once(std::string_view payload, RowReader read_rows) {
  // The rows live in this arena, which is released before the output is made. Strings without
  // escapes, and the arrays and objects below the rows, which are carried over as their text,
  // point into the payload.
  alignas(16) char first_block[kFirstArenaBlock];
  json::Arena arena(first_block, sizeof first_block);
  auto rows = read_rows(payload, arena, json::Build::Rows);
  if (!rows.ok()) return failure("invalid row-oriented JSON: " + rows.error().display());
  const Result<ColumnPlan, std::string> plan = plan_columns(rows.value(), arena);
  if (!plan.ok()) return failure(plan.error());
  // The output seldom outgrows the payload, which also holds every member name.
  const ColumnPlan& table = plan.value();
  if (table.cells_per_row == 0 || table.rows.size() <= kSmallTableCells / table.cells_per_row) {
    // The document's three members written around their values: no map is built for them.
    json::Buffer out(json::Buffer::kInitialCapacity, payload.size());
    out.append(R"({"columns":)");
    json::serialize_value(table.columns, out);
    out.append(R"(,"rows":)");
    json::serialize_value(rows_of(table, arena), out);
    out.append(R"(,"constants":)");
    json::serialize_value(table.constants, out);
    out.push_back('}');
    const ColumnarizeCounts counts{table.rows.size(), table.cells_per_row, table.constant_count};
    return TableText::whole(std::move(out), counts);
  }
  return write_table_text(table, payload.size());
}

Result<TableText, std::string> transform_text(std::string_view payload, RowReader read_rows) {
  for (bool retried = false;; retried = true) {
    try {
      Result<TableText, std::string> text = transform_once(payload, read_rows);
      if (text.ok()) json::ensure_room_for(text.value().size());
      return text;
    } catch (const std::bad_alloc&) {
      // The blocks kept for later calls may be what this one lacks.
      if (retried || json::release_kept_blocks() == 0) throw;
    }
  }
}

Result<json::Buffer, std::string> transform_into_buffer(std::string_view payload,
                                                        RowReader read_rows,
                                                        ColumnarizeCounts* counts) {
  auto text = transform_text(payload, read_rows);
  if (!text.ok()) return failure(std::move(text).error());
  TableText& table = text.value();
  json::Buffer out(table.size());
  table.write(out.write_position());
  out.commit(table.size());
  if (counts != nullptr) *counts = table.counts();
  return out;
}

}  // namespace

Result<TableText, std::string> columnarize_json_text(std::string_view payload) {
  return transform_text(payload, json::parse_value_list);
}

Result<json::Buffer, std::string> columnarize_json(std::string_view payload,
                                                   ColumnarizeCounts* counts) {
  return transform_into_buffer(payload, json::parse_value_list, counts);
}

Result<json::Buffer, std::string> columnarize_json_lines(std::string_view payload,
                                                         ColumnarizeCounts* counts) {
  return transform_into_buffer(payload, json::parse_value_lines, counts);
}

}  // namespace tarvik
