// The row-to-column transform: first-seen columns, null-only columns dropped, constant columns
// moved to "constants", one array of cells per row.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "json/map.hpp"
#include "json/writer.hpp"
#include "transform/columnarize.hpp"

namespace tarvik {

using json::Arena;
using json::Kind;
using json::Map;
using json::Number;
using json::Value;

namespace {

constexpr std::uint32_t kDropped = std::numeric_limits<std::uint32_t>::max();

// A cell matches the constant's reference when both are numbers equal as doubles (so 1, 1.0 and
// 1e0 match), and otherwise when the two are equal values.
bool matches(const Value& cell, const Value& reference) {
  if (cell.kind() == Kind::Number && reference.kind() == Kind::Number) {
    return cell.as_number().to_double() == reference.as_number().to_double();
  }
  return cell == reference;
}

struct Column {
  std::string_view name;
  std::size_t rows_present = 0;  // rows holding the member, null or not
  bool has_non_null = false;
  bool constant_candidate = true;
  Value reference;  // the first row's value
  std::uint32_t output_position = kDropped;
};

// Column discovery and the per-column scans in one pass over every member of every row.
// A row's members are unique, so walking its entries visits exactly the cells a lookup by
// column name would find; absent members are the cells left null.
class ColumnScan {
 public:
  explicit ColumnScan(Arena& arena) : seen_(Map::create(arena)) {}

  void scan(const std::vector<const Map*>& rows) {
    std::size_t previous_start = 0;
    std::size_t previous_count = 0;
    for (std::size_t r = 0; r < rows.size(); ++r) {
      const std::size_t start = member_columns_.size();
      std::size_t i = 0;
      for (const Map::Entry& member : *rows[r]) {
        const std::uint32_t column = resolve(member.key, i, previous_start, previous_count);
        member_columns_.push_back(column);
        observe(columns_[column], member.value, r == 0);
        ++i;
      }
      previous_start = start;
      previous_count = rows[r]->size();
    }
  }

  std::vector<Column>& columns() { return columns_; }
  // The column of each member of each row, row after row in entry order.
  const std::vector<std::uint32_t>& member_columns() const { return member_columns_; }

 private:
  // Rows usually repeat the previous row's member order, so the column found at the same
  // position in the previous row is tried before the hashed set of names.
  std::uint32_t resolve(std::string_view name, std::size_t position, std::size_t previous_start,
                        std::size_t previous_count) {
    if (position < previous_count) {
      const std::uint32_t guess = member_columns_[previous_start + position];
      if (json::same_key(columns_[guess].name, name)) return guess;
    }
    if (const Value* known = seen_.get(name)) {
      return static_cast<std::uint32_t>(known->as_number().as_non_negative());
    }
    if (columns_.size() >= kDropped) throw std::length_error("too many columns");
    const auto column = static_cast<std::uint32_t>(columns_.size());
    seen_.insert(name, Value::number(Number::non_negative(column)));
    columns_.emplace_back().name = name;
    return column;
  }

  static void observe(Column& column, const Value& cell, bool first_row) {
    ++column.rows_present;
    if (!cell.is_null()) column.has_non_null = true;
    if (first_row) {
      column.reference = cell;
    } else if (column.constant_candidate && !matches(cell, column.reference)) {
      column.constant_candidate = false;
    }
  }

  Map& seen_;
  std::vector<Column> columns_;
  std::vector<std::uint32_t> member_columns_;
};

}  // namespace

Result<Value, std::string> columnarize_rows(std::vector<Value>&& rows_in, Arena& arena) {
  const std::vector<Value> values = std::move(rows_in);
  std::vector<const Map*> rows;
  rows.reserve(values.size());
  for (const Value& value : values) {
    if (!value.is_object()) {
      std::string message = "expected a JSON object row, got: ";
      json::display_value(value, message);
      return failure(std::move(message));
    }
    rows.push_back(&value.as_object());
  }

  ColumnScan scan(arena);
  scan.scan(rows);
  std::vector<Column>& columns = scan.columns();

  // A column is constant when every row holds a matching value. A row lacking the member holds
  // null, which matches only a null reference, and a column whose cells are all null is dropped
  // anyway, so only columns present in every row can be constant.
  const bool constants_possible = rows.size() >= 2;
  Map& constants = Map::create(arena);
  std::uint32_t kept = 0;
  for (Column& column : columns) {
    if (!column.has_non_null) continue;
    if (constants_possible && column.constant_candidate && column.rows_present == rows.size()) {
      constants.insert(column.name, column.reference);
      continue;
    }
    column.output_position = kept++;
  }

  Value* names = arena.allocate_array<Value>(kept);
  for (const Column& column : columns) {
    if (column.output_position != kDropped) {
      names[column.output_position] = Value::string(column.name);
    }
  }

  // Every row array is a slice of one block of cells, null where the row lacks the column.
  if (kept != 0 && rows.size() > std::numeric_limits<std::size_t>::max() / kept) {
    throw std::length_error("too many cells");
  }
  Value* cells = arena.allocate_array<Value>(rows.size() * kept);
  std::fill_n(cells, rows.size() * kept, Value::null());
  Value* row_arrays = arena.allocate_array<Value>(rows.size());
  const std::vector<std::uint32_t>& member_columns = scan.member_columns();
  std::size_t member = 0;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    Value* row_cells = cells + r * kept;
    for (const Map::Entry& entry : *rows[r]) {
      const std::uint32_t position = columns[member_columns[member++]].output_position;
      if (position != kDropped) row_cells[position] = entry.value;
    }
    row_arrays[r] = Value::array({row_cells, kept});
  }

  Map& output = Map::create(arena, 3);
  output.insert("columns", Value::array({names, kept}));
  output.insert("rows", Value::array({row_arrays, rows.size()}));
  output.insert("constants", Value::object(constants));
  return Value::object(output);
}

}  // namespace tarvik
