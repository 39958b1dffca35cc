// The output text of a table, written row by row from the row objects without a matrix of
// cells: only present cells are kept as text, and runs of null cells are copied from a pattern.
#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <utility>

#include "json/writer.hpp"
#include "transform/column_plan.hpp"

namespace tarvik {

namespace {

using json::Buffer;
using json::Map;
using json::Value;

// "null," repeated, one more time than a copied chunk holds: a run of null cells is a slice of
// it, starting at 0 ("null,null") or, after a cell, at 4 (",null,null").
constexpr std::size_t kNullText = 5;
constexpr std::size_t kChunkCells = 820;
constexpr std::size_t kChunk = kChunkCells * kNullText;
constexpr auto kNullPattern = [] {
  std::array<char, kChunk + kNullText> text{};
  for (std::size_t i = 0; i < text.size(); i += kNullText) {
    text[i] = 'n';
    text[i + 1] = 'u';
    text[i + 2] = 'l';
    text[i + 3] = 'l';
    text[i + 4] = ',';
  }
  return text;
}();

char* write_nulls(char* out, std::size_t count, bool after_cell) {
  const char* const source = kNullPattern.data() + (after_cell ? kNullText - 1 : 0);
  std::size_t length = count * kNullText - (after_cell ? 0 : 1);
  // Whole chunks keep the pattern's phase.
  for (; length > kChunk; length -= kChunk, out += kChunk)
    std::memcpy(out, source, kChunk);
  std::memcpy(out, source, length);
  return out + length;
}

std::size_t checked_add(std::size_t a, std::size_t b) {
  std::size_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum)) throw std::bad_alloc();
  return sum;
}

std::size_t checked_multiply(std::size_t a, std::size_t b) {
  std::size_t product = 0;
  if (__builtin_mul_overflow(a, b, &product)) throw std::bad_alloc();
  return product;
}

}  // namespace

TableText write_table_text(const ColumnPlan& plan, std::size_t expected_cell_text) {
  Buffer head;
  head.append(R"({"columns":)");
  json::serialize_value(plan.columns, head);
  head.append(R"(,"rows":[)");
  Buffer tail;
  tail.append(R"(],"constants":)");
  json::serialize_value(plan.constants, tail);
  tail.push_back('}');

  Buffer cells(Buffer::kInitialCapacity, expected_cell_text);
  std::vector<TableText::Run> runs;
  std::vector<std::size_t> row_ends;
  row_ends.reserve(plan.rows.size());
  std::vector<std::pair<std::uint32_t, const Value*>> present;  // one row's non-null cells
  std::size_t placed = 0;
  std::size_t member = 0;
  for (const Map* row : plan.rows) {
    present.clear();
    bool ordered = true;
    for (const Map::Entry& entry : *row) {
      const std::uint32_t position = plan.member_positions[member++];
      // A null cell is written with the missing ones.
      if (position == kNotACell || entry.value.is_null()) continue;
      ordered = ordered && (present.empty() || present.back().first < position);
      present.emplace_back(position, &entry.value);
    }
    if (!ordered) std::ranges::sort(present, {}, &std::pair<std::uint32_t, const Value*>::first);
    const std::size_t row_start = runs.size();
    for (const auto& [position, value] : present) {
      if (runs.size() > row_start && runs.back().end == position) {
        cells.push_back(',');
        runs.back().end = position + 1;
      } else {
        runs.push_back({0, position, position + 1});
      }
      json::serialize_value(*value, cells);
      runs.back().text_end = cells.size();
    }
    row_ends.push_back(runs.size());
    placed += present.size();
  }

  // Each row is "[" and "]" around its cells joined by commas, "null" for each cell not placed;
  // the commas inside runs are already part of the cell text.
  const std::size_t rows = plan.rows.size();
  const std::size_t per_row = plan.cells_per_row == 0 ? 2 : 1 + kNullText * plan.cells_per_row;
  std::size_t size = checked_multiply(rows, per_row);
  size = checked_add(size, head.size() + tail.size() + (rows == 0 ? 0 : rows - 1));
  size = checked_add(size, cells.size() - (placed - runs.size()));
  size -= (kNullText - 1) * placed;

  const ColumnarizeCounts counts{rows, plan.cells_per_row, plan.constant_count};
  return TableText(std::move(head), std::move(cells), std::move(tail), std::move(runs),
                   std::move(row_ends), plan.cells_per_row, size, counts);
}

void TableText::write(char* out) const {
  std::memcpy(out, head_.data(), head_.size());
  out += head_.size();
  const char* const text = cells_.data();
  std::size_t run = 0;
  std::size_t text_start = 0;
  for (std::size_t row = 0; row < row_ends_.size(); ++row) {
    if (row != 0) *out++ = ',';
    *out++ = '[';
    std::uint32_t position = 0;
    for (; run < row_ends_[row]; ++run) {
      const Run& cells = runs_[run];
      if (cells.first > position) out = write_nulls(out, cells.first - position, position > 0);
      if (cells.first > 0) *out++ = ',';
      std::memcpy(out, text + text_start, cells.text_end - text_start);
      out += cells.text_end - text_start;
      text_start = cells.text_end;
      position = cells.end;
    }
    if (position < cells_per_row_) out = write_nulls(out, cells_per_row_ - position, position > 0);
    *out++ = ']';
  }
  std::memcpy(out, tail_.data(), tail_.size());
}

}  // namespace tarvik
