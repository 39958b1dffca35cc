// The columns of a table of rows: which members become cells, at which output position, and
// which columns are constants; for rows built at once, or read one at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "json/memory/arena.hpp"
#include "json/model/map.hpp"
#include "json/model/result.hpp"
#include "json/model/value.hpp"
#include "transform/transform_failure.hpp"

namespace tarvik {

// The output position of a member that is not a cell (its column is constant or all null).
inline constexpr std::uint32_t kNotACell = std::numeric_limits<std::uint32_t>::max();

struct ColumnPlan {
  std::vector<const json::Map*> rows;
  // The output position of every member of every row, row after row in entry order.
  std::vector<std::uint32_t> member_positions;
  json::Value columns;    // the array of column names, in output order
  json::Value constants;  // the object of constant columns
  std::size_t constant_count = 0;
  std::uint32_t cells_per_row = 0;
};

// Plans the output of `rows` (built in `arena`, which must outlive the plan), or fails with
// "expected a JSON object row, got: " and the compact text of the first non-object row.
Result<ColumnPlan, TransformFailure> plan_columns(const std::vector<json::Value>& rows,
                                                  json::Arena& arena);

class ColumnScan;

// The columns of rows read one at a time from `payload`, each of which may be released once it
// is given: scanned in a first pass, then planned, then each row's output positions in a second
// pass over the same rows. What is kept of the rows lives in `arena` or in the payload.
class StreamedColumns {
 public:
  StreamedColumns(json::Arena& arena, std::string_view payload);
  StreamedColumns(const StreamedColumns&) = delete;
  StreamedColumns& operator=(const StreamedColumns&) = delete;
  ~StreamedColumns();

  // The next row; once a row is not an object, the rest are passed over.
  void scan_row(const json::Value& row);
  // The plan of the rows scanned (without rows and member positions), or the failure
  // plan_columns reports for them.
  Result<ColumnPlan, TransformFailure> plan();
  std::size_t rows_scanned() const;
  // Appends the output position of every member of `row`, the next row of the second pass.
  void add_positions(const json::Map& row, std::vector<std::uint32_t>& out);

 private:
  json::Arena& arena_;
  std::unique_ptr<ColumnScan> scan_;
  std::optional<TransformFailure> first_non_object_;
};

// The array of the planned table's rows, every cell built in `arena`: rows * cells_per_row
// values. The rows must stay alive until it is written.
json::Value rows_of(const ColumnPlan& plan, json::Arena& arena);

}  // namespace tarvik
