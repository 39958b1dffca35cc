// The columns of a table of rows: which members become cells, at which output position, and
// which columns are constants. Shared by the document builder and the direct table writer.
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
  Result<ColumnPlan, std::string> plan();
  std::size_t rows_scanned() const;
  // Appends the output position of every member of `row`, the next row of the second pass.
  void add_positions(const json::Map& row, std::vector<std::uint32_t>& out);

 private:
  json::Arena& arena_;
  std::unique_ptr<ColumnScan> scan_;
  std::optional<std::string> first_non_object_;
};

// The array of the planned table's rows, every cell built in `arena`: rows * cells_per_row
// values. The rows must stay alive until it is written.
json::Value rows_of(const ColumnPlan& plan, json::Arena& arena);

// The text of the planned table, with the rows' cells written in column order straight from the
// row objects. `expected_cell_text`: what the cell text will probably grow to.
TableText write_table_text(const ColumnPlan& plan, std::size_t expected_cell_text);
// The same text written to `out` as it is made: the memory it takes is a few megabytes.
void write_table_text(const ColumnPlan& plan, TextBlocks& out);

class RowsWriter;

// The same text, given the rows a batch at a time: each batch may be released once written.
class TableTextBuilder {
 public:
  // `plan`'s rows and member positions are unused; it must outlive the builder. With `out`, the
  // text is written there as it is made, starting at once, instead of being kept.
  TableTextBuilder(const ColumnPlan& plan, std::size_t row_count, std::size_t expected_cell_text,
                   TextBlocks* out = nullptr);
  TableTextBuilder(const TableTextBuilder&) = delete;
  TableTextBuilder& operator=(const TableTextBuilder&) = delete;
  ~TableTextBuilder();

  // The next rows, with the output positions of their members, row after row in entry order.
  void add_rows(std::span<const json::Map* const> rows,
                std::span<const std::uint32_t> member_positions);
  TableText finish();
  // The end of the text written to `out`, the one given at construction.
  void finish(TextBlocks& out);

 private:
  const ColumnPlan& plan_;
  std::unique_ptr<RowsWriter> rows_;
  std::size_t row_count_ = 0;
};

}  // namespace tarvik
