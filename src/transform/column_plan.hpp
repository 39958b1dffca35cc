// The columns of a table of rows: which members become cells, at which output position, and
// which columns are constants; for rows read at once, or one at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string_view>
#include <vector>

#include "json/memory/arena.hpp"
#include "json/model/cell.hpp"
#include "json/model/value.hpp"
#include "json/read/reader.hpp"
#include "transform/column_scan.hpp"
#include "transform/transform_failure.hpp"

namespace tarvik {

// The output position of a member that is not a cell (its column is constant or all null).
inline constexpr std::uint32_t kNotACell = std::numeric_limits<std::uint32_t>::max();

struct ColumnPlan {
  std::vector<json::RowCells> rows;
  // The output position of the cells of each name, by the name's number.
  std::vector<std::uint32_t> positions;
  json::Value columns;    // the array of column names, in output order
  json::Value constants;  // the object of constant columns
  std::size_t constant_count = 0;
  std::uint32_t cells_per_row = 0;
};

// The columns of rows read at once and kept until written: the rows scanned as the reader reads
// them, while their cells are fresh in the cache, instead of in a pass over them all once read.
class KeptColumns final : public json::RowObserver {
 public:
  explicit KeptColumns(json::Arena& arena);

  void rows(std::span<const json::RowCells> rows, std::size_t name_count) override;
  // The plan of `rows`, the rows scanned, whose cells' names are numbered in `names` (in
  // first-seen order), in the arena, which must outlive the plan, as must the rows and names.
  ColumnPlan plan(std::vector<json::RowCells>&& rows, std::span<const std::string_view> names);

 private:
  json::Arena& arena_;
  ColumnScan scan_;
};

// Plans the output of `rows` as KeptColumns does, the rows scanned here.
ColumnPlan plan_columns(std::vector<json::RowCells>&& rows, std::span<const std::string_view> names,
                        json::Arena& arena);

// The failure of a row that is not an object, the element of index `index`: "expected a JSON
// object row, got: " and the compact text of the element.
TransformFailure non_object_row(const json::Value& row, std::size_t index);

// The columns of rows read one at a time, each of which may be released once it is given:
// scanned in a first pass, then planned; the second pass places the cells of the same rows by
// the plan's positions. What is kept of the rows lives in `arena` or in `payload`.
class StreamedColumns {
 public:
  StreamedColumns(json::Arena& arena, std::string_view payload);
  StreamedColumns(const StreamedColumns&) = delete;
  StreamedColumns& operator=(const StreamedColumns&) = delete;

  // The next row, whose names are numbered below `name_count`.
  void scan_row(json::RowCells row, std::size_t name_count);
  // The plan of the rows scanned (without rows), whose names are numbered in `names`.
  ColumnPlan plan(std::span<const std::string_view> names);
  std::size_t rows_scanned() const;

 private:
  json::Arena& arena_;
  std::string_view payload_;
  ColumnScan scan_;
};

}  // namespace tarvik
