// The columns of a table of rows: which members become cells, at which output position, and
// which columns are constants. Shared by the document builder and the direct table writer.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "json/memory/arena.hpp"
#include "json/model/map.hpp"
#include "json/model/result.hpp"
#include "json/model/value.hpp"
#include "transform/columnarize.hpp"

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
Result<ColumnPlan, std::string> plan_columns(const std::vector<json::Value>& rows,
                                             json::Arena& arena);

// The array of the planned table's rows, every cell built in `arena`: rows * cells_per_row
// values. The rows must stay alive until it is written.
json::Value rows_of(const ColumnPlan& plan, json::Arena& arena);

// The text of the planned table, with the rows' cells written in column order straight from the
// row objects. `expected_cell_text`: what the cell text will probably grow to.
TableText write_table_text(const ColumnPlan& plan, std::size_t expected_cell_text);

}  // namespace tarvik
