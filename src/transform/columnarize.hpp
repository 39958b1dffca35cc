// The row-to-column transform and the payload pipeline that chains reader, transform and writer.
// No Python here: both run with the interpreter lock released.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "json/memory/arena.hpp"
#include "json/memory/buffer.hpp"
#include "json/model/result.hpp"
#include "json/model/value.hpp"
#include "json/read/reader.hpp"

namespace tarvik {

class TextBlocks;

// Where an output written as it is made goes, in consecutive parts. write returns false when no
// more can go (a failed write): the transform then stops making the output and returns.
class TextSink {
 public:
  virtual bool write(std::string_view text) = 0;

 protected:
  ~TextSink() = default;
};

// What a transform produced, for callers that report it.
struct ColumnarizeCounts {
  std::size_t rows = 0;
  std::size_t columns = 0;
  std::size_t constants = 0;
};

// Turns the rows (the elements of the payload array, consumed) into the output document
// {"columns":[...],"rows":[[...]...],"constants":{...}}, built in `arena`, or fails with
// "expected a JSON object row, got: " and the compact text of the first non-object row.
// The output shares cell values with the rows: both must stay alive until it is written.
// Builds every cell: the reference for the table text below, which builds none.
// Thread-safe: touches nothing but its arguments (and the calling thread's hash seed).
Result<json::Value, std::string> columnarize_rows(std::vector<json::Value>&& rows,
                                                  json::Arena& arena);

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
  };

  TableText(json::Buffer head, std::vector<Piece> pieces, json::Buffer tail, std::vector<Run> runs,
            std::vector<std::size_t> row_ends, std::uint32_t cells_per_row, std::size_t size,
            ColumnarizeCounts counts)
      : head_(std::move(head)),
        pieces_(std::move(pieces)),
        tail_(std::move(tail)),
        runs_(std::move(runs)),
        row_ends_(std::move(row_ends)),
        cells_per_row_(cells_per_row),
        size_(size),
        counts_(counts) {}

  // An output written at once.
  static TableText whole(json::Buffer text, ColumnarizeCounts counts) {
    const std::size_t size = text.size();
    return TableText(std::move(text), {}, json::Buffer(0), {}, {}, 0, size, counts);
  }

  // The output's exact length in bytes.
  std::size_t size() const { return size_; }
  const ColumnarizeCounts& counts() const { return counts_; }
  // Writes the output's size() bytes at `out`, freeing the cell text as it goes: the memory of
  // a call peaks at little more than the output. `fresh_memory`: `out` was never written, and is
  // faulted in ahead of the writing, on huge pages where the system allows (for large outputs).
  // Once only.
  void write(char* out, bool fresh_memory = false);
  // The same, in blocks.
  void write(TextBlocks& out);

 private:
  template <class Out>
  void write_text(Out& out);

  json::Buffer head_;  // {"columns":[...],"rows":[
  std::vector<Piece> pieces_;
  json::Buffer tail_;  // ],"constants":{...}}
  std::vector<Run> runs_;
  std::vector<std::size_t> row_ends_;  // the end of the runs of each row not in a whole piece
  std::uint32_t cells_per_row_;
  std::size_t size_;
  ColumnarizeCounts counts_;
};

// Reads `payload` as one JSON array of rows and transforms it into the output text, whose size
// is checked against the memory the process may still use. Returns the text or the error
// message ("invalid row-oriented JSON: " and the reader's error, or the transform's message).
// Internal faults propagate as C++ exceptions; memory exhaustion, or an output too large to
// fit, as std::bad_alloc, after every kept block was given back and the work tried once more.
// Everything built is released on every path. `payload` is only read during the call.
// Thread-safe.
Result<TableText, std::string> columnarize_json_text(std::string_view payload);

// The same, written into a buffer of exactly the output's size; `counts`, when given, is filled
// on success.
Result<json::Buffer, std::string> columnarize_json(std::string_view payload,
                                                   ColumnarizeCounts* counts = nullptr);

// What building every row at once may take by default: twice the payload's size and 8 MB;
// beyond it, the rows are read one at a time in two passes.
std::size_t whole_rows_budget(std::size_t payload_size);

// columnarize_json, with `whole_budget` for the bytes that building every row at once may take
// instead of whole_rows_budget. The output and errors are the same either way.
Result<json::Buffer, std::string> columnarize_json_within(std::string_view payload,
                                                          std::size_t whole_budget);

// The same for a payload in JSON Lines, one row per line (json::parse_value_lines): the result
// is what columnarize_json gives for the array of those rows, and reader errors name the line.
Result<json::Buffer, std::string> columnarize_json_lines(std::string_view payload,
                                                         ColumnarizeCounts* counts = nullptr);

// Transforms `payload`, laid out as one JSON array or as JSON Lines, and gives the output to
// `sink` as it is made, in blocks of a megabyte; nothing goes before the payload is known to be
// valid. The rows are built at once while they take at most `whole_budget` bytes, their cell
// text then held until written; beyond, they are read twice, one at a time, and the call takes
// a constant memory besides the payload. Returns the counts, or the failure message that
// columnarize_json (or columnarize_json_lines) gives; faults as for columnarize_json_text.
Result<ColumnarizeCounts, std::string> columnarize_json_to(std::string_view payload,
                                                           json::Layout layout, TextSink& sink,
                                                           std::size_t whole_budget);

}  // namespace tarvik
