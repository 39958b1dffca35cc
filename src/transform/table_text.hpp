// The output text of a table, made from its plan and its rows without a matrix of cells: its
// exact size known before it is written, at once into the result or in blocks as it is made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "json/memory/buffer.hpp"
#include "json/model/cell.hpp"
#include "json/write/writer.hpp"
#include "transform/column_plan.hpp"

namespace tarvik {

class TextBlocks;

// What a transform produced, for callers that report it.
struct ColumnarizeCounts {
  std::size_t rows = 0;
  std::size_t columns = 0;
  std::size_t constants = 0;
};

// The output text of a transform, held as the text of the rows' cells: its exact size is known
// before any of it is written, and the null cells of a sparse table, however many, take no room
// until then.
class TableText {
 public:
  // Cells at consecutive output positions of one row, their text joined by commas.
  struct Run {
    std::size_t text_start;  // where its text lies in its row's piece
    std::size_t text_end;
    std::uint32_t first;  // the output positions it covers: [first, end)
    std::uint32_t end;
  };

  // The cell text in pieces of whole rows, each freed once its rows are written.
  struct Piece {
    json::Buffer text;
    std::size_t row_end;  // the end of its rows
    // Its text is its rows' whole text, joined by commas, and no runs stand for them.
    bool whole_rows;
    // The long texts of the payload its whole rows' text leaves out, in order.
    std::vector<json::TextSplice> splices;
  };

  TableText(json::Buffer head, std::vector<Piece> pieces, json::Buffer tail, std::vector<Run> runs,
            std::vector<std::size_t> row_ends, std::uint32_t cells_per_row, std::size_t size,
            ColumnarizeCounts counts)
      : head_(std::move(head)),
        cells_(std::make_unique<Cells>(Cells{std::move(pieces), std::move(tail), std::move(runs),
                                             std::move(row_ends), cells_per_row})),
        size_(size),
        counts_(counts) {}

  // A text passes up a few layers of results, each leaving a moved-from one behind: inlined, the
  // destruction of those folds away: a tenth of what a call on an empty table costs.
  [[gnu::always_inline]] ~TableText() = default;
  TableText(TableText&&) = default;
  TableText& operator=(TableText&&) = default;

  // An output written at once, but for the long texts of the payload `text` leaves out.
  static TableText whole(json::Buffer text, std::vector<json::TextSplice> splices,
                         ColumnarizeCounts counts) {
    std::size_t size = text.size();
    for (const json::TextSplice& splice : splices)
      size += splice.text.size();
    return TableText(std::move(text), std::move(splices), size, counts);
  }

  // The output's exact length in bytes.
  std::size_t size() const { return size_; }
  const ColumnarizeCounts& counts() const { return counts_; }
  // Writes the output's size() bytes at `out`, freeing the cell text as it goes: the memory of
  // a call peaks at little more than the output. `fresh_memory`: `out` was never written, and is
  // faulted in ahead of the writing, on huge pages where the system allows (for large outputs).
  // Once only. Text that disagrees with the counted size (a bug of the transform) throws
  // std::logic_error, nothing written past out + size().
  void write(char* out, bool fresh_memory = false);
  // The same, in blocks.
  void write(TextBlocks& out);

 private:
  // The cell text after the head and the tail. An output written at once has none: kept apart,
  // it costs such a text (most calls' text) nothing to move or destroy.
  struct Cells {
    std::vector<Piece> pieces;
    json::Buffer tail;  // ],"constants":{...}}
    std::vector<Run> runs;
    std::vector<std::size_t> row_ends;  // the end of the runs of each row not in a whole piece
    std::uint32_t cells_per_row;
  };

  TableText(json::Buffer text, std::vector<json::TextSplice> splices, std::size_t size,
            ColumnarizeCounts counts)
      : head_(std::move(text)), head_splices_(std::move(splices)), size_(size), counts_(counts) {}

  template <class Out>
  void write_text(Out& out);
  template <class Out>
  void write_cells(Out& out);

  json::Buffer head_;                           // {"columns":[...],"rows":[
  std::vector<json::TextSplice> head_splices_;  // what an output written at once leaves out
  std::unique_ptr<Cells> cells_;
  std::size_t size_;
  ColumnarizeCounts counts_;
};

// Appends the array of the planned table's rows to `out`, every row written whole, its missing
// cells null: for a small table, whose text is made at once. The long texts of `payload` may be
// left out of `out` and noted in `splices`, as serialize_row leaves them.
void write_rows_array(const ColumnPlan& plan, json::Buffer& out, std::string_view payload,
                      std::vector<json::TextSplice>& splices);

class RowsWriter;

// The text of a planned table, its rows' cells written in column order straight from the row
// objects, given a batch of rows at a time: each batch may be released once written.
class TableTextBuilder {
 public:
  // `plan`'s rows are unused, and its names and constants are written at once: the rows they
  // lie in may be released too; its positions must outlive the builder. `payload`: where the
  // rows were read from, kept until the text is written (its long texts are copied from there).
  // `expected_cell_text`: what the cell text will probably grow to. With `out`, the text is
  // written there as it is made, starting at once, instead of being kept.
  TableTextBuilder(const ColumnPlan& plan, std::string_view payload, std::size_t row_count,
                   std::size_t expected_cell_text, TextBlocks* out = nullptr);
  TableTextBuilder(const TableTextBuilder&) = delete;
  TableTextBuilder& operator=(const TableTextBuilder&) = delete;
  ~TableTextBuilder();

  // The next rows, their cells placed by the plan's positions.
  void add_rows(std::span<const json::RowCells> rows);
  TableText finish();
  // The end of the text written to `out`, the one given at construction.
  void finish(TextBlocks& out);

 private:
  json::Buffer head_;  // {"columns":[...],"rows":[
  json::Buffer tail_;  // ],"constants":{...}}
  ColumnarizeCounts counts_;
  std::span<const std::uint32_t> positions_;  // the plan's, by name number
  std::unique_ptr<RowsWriter> rows_;
};

}  // namespace tarvik
