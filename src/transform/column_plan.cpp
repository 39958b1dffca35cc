// The column plan of a table of rows: first-seen columns, null-only columns dropped, constant
// columns moved to "constants", each member's output position.
#include "transform/column_plan.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "json/model/map.hpp"
#include "json/read/key_guess.hpp"
#include "json/write/writer.hpp"
#include "transform/constant_rule.hpp"

namespace tarvik {

using json::Arena;
using json::Map;
using json::Number;
using json::Value;

namespace {

struct Column {
  std::string_view name;
  std::size_t rows_present = 0;  // rows holding the member, null or not
  bool has_non_null = false;
  bool constant_candidate = true;
  Value reference;  // the first row's value
  std::uint32_t output_position = kNotACell;
};

}  // namespace

// Column discovery and the per-column scans in one pass over every member of every row.
// A row's members are unique, so walking its entries visits exactly the cells a lookup by
// column name would find; absent members are the cells left null.
class ColumnScan {
 public:
  // Rows that are `transient` may be released once scanned: the names and values kept of them
  // are then copied into `arena`, unless they lie in `payload`.
  ColumnScan(Arena& arena, bool transient, std::string_view payload = {})
      : arena_(arena), seen_(Map::create(arena)), transient_(transient), payload_(payload) {}

  void scan(const std::vector<const Map*>& rows) {
    std::size_t members = 0;
    for (const Map* row : rows)
      members += row->size();
    member_columns_.resize(members);
    std::uint32_t* const columns_of = member_columns_.data();
    std::size_t member = 0;
    std::span<const std::uint32_t> previous;  // the columns of the previous row's members
    for (std::size_t r = 0; r < rows.size(); ++r) {
      const std::size_t start = member;
      std::size_t expected = 0;
      for (const Map::Entry& entry : *rows[r]) {
        const std::uint32_t column = resolve(entry.key, previous, expected);
        columns_of[member++] = column;
        observe(columns_[column], entry.value, r == 0);
      }
      previous = {columns_of + start, member - start};
    }
  }

  // The next of the rows read one at a time.
  void scan_row(const Map& row) {
    resolve_row(row);
    for (std::size_t i = 0; i < row.size(); ++i)
      observe(columns_[previous_[i]], row.entries()[i].value, rows_scanned_ == 0);
    ++rows_scanned_;
  }

  // The columns of the members of `row`, whose names have all been scanned.
  std::span<const std::uint32_t> resolve_row(const Map& row) {
    current_.clear();
    std::size_t expected = 0;
    for (const Map::Entry& entry : row)
      current_.push_back(resolve(entry.key, previous_, expected));
    std::swap(previous_, current_);
    return previous_;
  }

  std::vector<Column>& columns() { return columns_; }
  std::size_t rows_scanned() const { return rows_scanned_; }
  // The column of each member of each row, row after row in entry order.
  std::vector<std::uint32_t> take_member_columns() { return std::move(member_columns_); }

 private:
  // Rows usually repeat the previous row's member order: the columns of the previous row's
  // members are guessed the way the reader guesses keys, before the hashed set of names.
  std::uint32_t resolve(std::string_view name, std::span<const std::uint32_t> previous,
                        std::size_t& expected) {
    if (json::take_guessed_key(previous.size(), expected, [&](std::size_t i) {
          return json::same_key(columns_[previous[i]].name, name);
        })) {
      return previous[expected - 1];
    }
    if (const Value* known = seen_.get(name)) {
      return static_cast<std::uint32_t>(known->as_number().as_non_negative());
    }
    if (columns_.size() >= kNotACell) throw std::length_error("too many columns");
    const auto column = static_cast<std::uint32_t>(columns_.size());
    if (transient_ && !in_payload(name)) name = arena_.copy_string(name);
    seen_.insert(name, Value::number(Number::non_negative(column)));
    columns_.emplace_back().name = name;
    return column;
  }

  bool in_payload(std::string_view text) const {
    const auto start = reinterpret_cast<std::uintptr_t>(text.data());
    const auto begin = reinterpret_cast<std::uintptr_t>(payload_.data());
    return start >= begin && start + text.size() <= begin + payload_.size();
  }

  void observe(Column& column, const Value& cell, bool first_row) {
    ++column.rows_present;
    if (!cell.is_null()) column.has_non_null = true;
    if (first_row) {
      column.reference = transient_ ? cell.deep_copy(arena_) : cell;
    } else if (column.constant_candidate && !matches_constant(cell, column.reference)) {
      column.constant_candidate = false;
    }
  }

  Arena& arena_;
  Map& seen_;
  const bool transient_;
  const std::string_view payload_;
  std::vector<Column> columns_;
  std::vector<std::uint32_t> member_columns_;
  std::vector<std::uint32_t> previous_;  // of rows read one at a time: the previous row's columns
  std::vector<std::uint32_t> current_;
  std::size_t rows_scanned_ = 0;
};

namespace {

// Places the scanned columns of `row_count` rows: each kept column's output position, the
// column names and the constants.
void place_columns(std::vector<Column>& columns, std::size_t row_count, Arena& arena,
                   ColumnPlan& plan) {
  // A column is constant when every row holds a matching value. A row lacking the member holds
  // null, which matches only a null reference, and a column whose cells are all null is dropped
  // anyway, so only columns present in every row can be constant.
  const bool constants_possible = row_count >= 2;
  Map& constants = Map::create(arena);
  std::uint32_t kept = 0;
  for (Column& column : columns) {
    if (!column.has_non_null) continue;
    if (constants_possible && column.constant_candidate && column.rows_present == row_count) {
      constants.insert(column.name, column.reference);
      continue;
    }
    column.output_position = kept++;
  }

  Value* names = arena.allocate_array<Value>(kept);
  for (const Column& column : columns) {
    if (column.output_position != kNotACell) {
      names[column.output_position] = Value::string(column.name);
    }
  }
  plan.columns = Value::array({names, kept});
  plan.constants = Value::object(constants);
  plan.constant_count = constants.size();
  plan.cells_per_row = kept;
}

TransformFailure non_object_row(const Value& row, std::size_t index) {
  std::string message = "expected a JSON object row, got: ";
  json::display_value(row, message);
  return {std::move(message), index};
}

}  // namespace

Result<ColumnPlan, TransformFailure> plan_columns(const std::vector<Value>& values, Arena& arena) {
  ColumnPlan plan;
  plan.rows.reserve(values.size());
  for (const Value& value : values) {
    if (!value.is_object()) return failure(non_object_row(value, plan.rows.size()));
    plan.rows.push_back(&value.as_object());
  }

  ColumnScan scan(arena, false);
  scan.scan(plan.rows);
  std::vector<Column>& columns = scan.columns();
  place_columns(columns, plan.rows.size(), arena, plan);

  // Each member's column becomes its output position, in place.
  plan.member_positions = scan.take_member_columns();
  for (std::uint32_t& member : plan.member_positions)
    member = columns[member].output_position;
  return plan;
}

StreamedColumns::StreamedColumns(Arena& arena, std::string_view payload)
    : arena_(arena), scan_(std::make_unique<ColumnScan>(arena, true, payload)) {}

StreamedColumns::~StreamedColumns() = default;

void StreamedColumns::scan_row(const Value& row) {
  if (first_non_object_) return;
  if (!row.is_object()) {
    first_non_object_ = non_object_row(row, scan_->rows_scanned());
    return;
  }
  scan_->scan_row(row.as_object());
}

Result<ColumnPlan, TransformFailure> StreamedColumns::plan() {
  if (first_non_object_) return failure(*first_non_object_);
  ColumnPlan plan;
  place_columns(scan_->columns(), scan_->rows_scanned(), arena_, plan);
  return plan;
}

std::size_t StreamedColumns::rows_scanned() const {
  return scan_->rows_scanned();
}

void StreamedColumns::add_positions(const json::Map& row, std::vector<std::uint32_t>& out) {
  const std::vector<Column>& columns = scan_->columns();
  for (const std::uint32_t column : scan_->resolve_row(row))
    out.push_back(columns[column].output_position);
}

Value rows_of(const ColumnPlan& plan, Arena& arena) {
  const std::size_t kept = plan.cells_per_row;
  const std::size_t row_count = plan.rows.size();

  // Every row array is a slice of one block of cells, null where the row lacks the column.
  if (kept != 0 && row_count > std::numeric_limits<std::size_t>::max() / kept) {
    throw std::length_error("too many cells");
  }
  Value* cells = arena.allocate_array<Value>(row_count * kept);
  std::fill_n(cells, row_count * kept, Value::null());
  Value* row_arrays = arena.allocate_array<Value>(row_count);
  std::size_t member = 0;
  for (std::size_t r = 0; r < row_count; ++r) {
    Value* row_cells = cells + r * kept;
    for (const Map::Entry& entry : *plan.rows[r]) {
      const std::uint32_t position = plan.member_positions[member++];
      if (position != kNotACell) row_cells[position] = entry.value;
    }
    row_arrays[r] = Value::array({row_cells, kept});
  }
  return Value::array({row_arrays, row_count});
}

}  // namespace tarvik
