// The output text of a table, written row by row from the row objects without a matrix of
// cells: only present cells are kept as text, and runs of null cells are copied from a pattern.
#include "transform/table_text.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <span>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

#include "json/memory/huge_pages.hpp"
#include "json/memory/output_pages.hpp"
#include "json/write/writer.hpp"
#include "transform/column_plan.hpp"
#include "transform/text_blocks.hpp"

namespace tarvik {

namespace {

using json::Buffer;
using json::Cell;

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

// A table text whose writing disagrees with its counted size: a bug of the transform, stopped
// before a byte lands outside the output.
[[noreturn, gnu::cold]] void miscounted(const char* fault) {
  throw std::logic_error(fault);
}

// Text written into the exact-size output of a call: it never writes past `end`.
struct TextAt {
  char* position;
  char* end;
  void put(char c) {
    if (position == end) miscounted("the table text ran past its counted size");
    *position++ = c;
  }
  void copy(const char* text, std::size_t length) {
    make_room(length);
    std::memcpy(position, text, length);
    position += length;
  }
  void make_room(std::size_t length) const {
    if (length > static_cast<std::size_t>(end - position)) {
      miscounted("the table text ran past its counted size");
    }
  }
  // Once the text is written: it must end exactly at the counted end.
  void check_end() const {
    if (position != end) miscounted("the table text ended before its counted size");
  }
};

// The same into fresh memory, faulted in ahead of the writing.
struct TextIntoFresh {
  TextAt text;
  json::OutputPages& pages;
  void put(char c) { text.put(c); }
  void copy(const char* bytes, std::size_t length) {
    text.make_room(length);
    pages.reach(text.position + length);
    std::memcpy(text.position, bytes, length);
    text.position += length;
  }
  // A piece whose text is written, about to be freed.
  void copied(const Buffer& piece) {
    if (json::is_large_block(piece.capacity())) pages.copied_from(piece.data(), piece.capacity());
  }
};

template <class Out>
void write_nulls(Out& out, std::size_t count, bool after_cell) {
  const char* const source = kNullPattern.data() + (after_cell ? kNullText - 1 : 0);
  std::size_t length = count * kNullText - (after_cell ? 0 : 1);
  // Whole chunks keep the pattern's phase.
  for (; length > kChunk; length -= kChunk)
    out.copy(source, kChunk);
  out.copy(source, length);
}

std::size_t checked_add(std::size_t a, std::size_t b) {
  std::size_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum)) throw std::bad_alloc();
  return sum;
}

// The length of the text write_nulls writes.
std::size_t nulls_length(std::size_t count, bool after_cell) {
  return count * kNullText - (after_cell ? 0 : 1);
}

// The payload whose long texts a table's rows leave out (json::TextSplice), or none: only where
// its cells are long on average. Among short cells, the few long enough cost more to look for
// and note than copying them once more does.
std::string_view spliced_payload(std::string_view payload, std::size_t row_count,
                                 std::uint32_t cells_per_row) {
  constexpr std::size_t kLeastAverageCell = json::kSplicedText / 4;
  if (row_count == 0 || cells_per_row == 0) return {};
  return payload.size() / row_count / cells_per_row >= kLeastAverageCell ? payload
                                                                         : std::string_view();
}

// Appends the text of the row, the long texts of `payload` (when there is one) left out and
// noted in `splices`; returns its length, theirs included.
std::size_t write_row(std::span<const Cell* const> row, Buffer& out, std::string_view payload,
                      std::vector<json::TextSplice>& splices) {
  if (!payload.empty()) return json::serialize_row(row, out, payload, splices);
  const std::size_t start = out.size();
  json::serialize_row(row, out);
  return out.size() - start;
}

// Builds the text of the rows: a row at least half full is written whole, nulls included, by the
// writer in one pass; a sparser one as the runs of its present cells, so that its null cells,
// however many, take no room until the output is written.
}  // namespace

class RowsWriter {
 public:
  // With `out`, each piece is written there once sealed, then dropped with its runs.
  RowsWriter(std::uint32_t cells_per_row, std::string_view payload, std::size_t row_count,
             std::size_t expected_cell_text, TextBlocks* out = nullptr)
      : cells_per_row_(cells_per_row),
        payload_(spliced_payload(payload, row_count, cells_per_row)),
        out_(out),
        cells_(Buffer::kInitialCapacity, std::min(expected_cell_text, kPieceSize)),
        row_(cells_per_row_, nullptr) {
    if (out_ == nullptr) row_ends_.reserve(row_count);
  }

  // The next rows, their cells placed by the output position of their names.
  void write_rows(std::span<const json::RowCells> rows, std::span<const std::uint32_t> positions) {
    for (const json::RowCells& row : rows) {
      std::size_t present = 0;
      for (const Cell& cell : row) {
        const std::uint32_t position = positions[cell.name];
        // A null cell is written with the missing ones.
        if (position == kNotACell || cell.value.is_null()) continue;
        row_[position] = &cell;
        ++present;
      }
      const bool dense = 2 * present >= cells_per_row_;
      // Dense rows from the start of a piece are kept as their text alone, without a run and
      // row end each, until a sparse row comes.
      if (!dense && piece_whole_ && rows_written_ != piece_first_row_) seal_piece();
      if (rows_written_ == piece_first_row_) piece_whole_ = dense;
      if (piece_whole_) {
        write_row_text();
      } else {
        const std::size_t row_start = runs_.size();
        if (dense) {
          write_whole_row();
        } else {
          write_runs(row, positions);
        }
        add_row_length(row_start);
        row_ends_.push_back(runs_.size());
      }
      ++rows_written_;
      if (piece_full()) seal_piece();
    }
  }

  std::size_t rows_length() const { return rows_length_; }
  // Once all rows are written, before the pieces are taken.
  void seal() { seal_piece(); }
  std::vector<TableText::Piece> take_pieces() { return std::move(pieces_); }
  std::vector<TableText::Run> take_runs() { return std::move(runs_); }
  std::vector<std::size_t> take_row_ends() { return std::move(row_ends_); }

 private:
  static constexpr std::size_t kPieceSize = std::size_t{4} << 20;

  // A piece is sealed once the room left in its storage (of the piece size at least) is a
  // sixteenth of it: the rows that follow seldom make it grow, and it leaves few of the pages
  // it holds unwritten (a piece may be given a larger kept block than it asked for). The end
  // is worked out again only when the text reaches the one known, which its storage may have
  // outgrown since.
  bool piece_full() {
    if (cells_.size() < piece_end_) return false;
    const std::size_t size = std::max(cells_.capacity(), kPieceSize);
    piece_end_ = size - size / 16;
    return cells_.size() >= piece_end_;
  }

  // A moved-from buffer is empty and grows like a new one.
  void seal_piece() {
    if (rows_written_ == piece_first_row_) return;
    pieces_.push_back(
        {std::move(cells_), rows_written_ - rows_given_, piece_whole_, std::move(splices_)});
    splices_.clear();
    piece_first_row_ = rows_written_;
    piece_end_ = 0;
    if (out_ != nullptr) give_pieces();
  }

  // The sealed pieces written out as a part of the rows array, led by a comma unless they hold
  // the first rows: their row ends and runs count from the rows given before.
  void give_pieces() {
    Buffer head;
    if (rows_given_ != 0) head.push_back(',');
    TableText(std::move(head), std::move(pieces_), Buffer(0), std::move(runs_),
              std::move(row_ends_), cells_per_row_, 0, {})
        .write(*out_);
    pieces_.clear();
    runs_.clear();
    row_ends_.clear();
    rows_given_ = rows_written_;
  }

  // The row's text, after a comma unless it is the first of its piece.
  void write_row_text() {
    if (rows_written_ != piece_first_row_) cells_.push_back(',');
    rows_length_ = checked_add(rows_length_, write_row(row_, cells_, payload_, splices_));
    std::fill(row_.begin(), row_.end(), nullptr);
  }

  // The cells between the brackets the writer puts around them form one run.
  void write_whole_row() {
    const std::size_t start = cells_.size();
    json::serialize_row(row_, cells_);
    runs_.push_back({start + 1, cells_.size() - 1, 0, cells_per_row_});
    std::fill(row_.begin(), row_.end(), nullptr);
  }

  void write_runs(json::RowCells row, std::span<const std::uint32_t> positions) {
    present_.clear();
    bool ordered = true;
    for (const Cell& cell : row) {
      const std::uint32_t position = positions[cell.name];
      if (position == kNotACell || cell.value.is_null()) continue;
      row_[position] = nullptr;
      ordered = ordered && (present_.empty() || present_.back().first < position);
      present_.emplace_back(position, &cell);
    }
    if (!ordered) std::ranges::sort(present_, {}, &Present::first);
    const std::size_t row_start = runs_.size();
    for (const auto& [position, cell] : present_) {
      if (runs_.size() > row_start && runs_.back().end == position) {
        cells_.push_back(',');
        runs_.back().end = position + 1;
      } else {
        runs_.push_back({cells_.size(), 0, position, position + 1});
      }
      json::serialize_cell(*cell, cells_);
      runs_.back().text_end = cells_.size();
    }
  }

  // Counts the row's text as TableText::write writes it.
  void add_row_length(std::size_t row_start) {
    std::size_t length = 2;
    std::uint32_t position = 0;
    for (std::size_t run = row_start; run < runs_.size(); ++run) {
      const TableText::Run& cells = runs_[run];
      if (cells.first > position) length += nulls_length(cells.first - position, position > 0);
      length += (cells.first > 0 ? 1 : 0) + (cells.text_end - cells.text_start);
      position = cells.end;
    }
    if (position < cells_per_row_) {
      length += nulls_length(cells_per_row_ - position, position > 0);
    }
    rows_length_ = checked_add(rows_length_, length);
  }

  using Present = std::pair<std::uint32_t, const Cell*>;

  const std::uint32_t cells_per_row_;
  const std::string_view payload_;  // whose long texts the rows leave out, or none
  TextBlocks* const out_;
  std::vector<TableText::Piece> pieces_;
  Buffer cells_;                           // the piece being written
  std::vector<json::TextSplice> splices_;  // the texts its whole rows leave out
  std::vector<TableText::Run> runs_;
  std::vector<std::size_t> row_ends_;
  std::vector<const Cell*> row_;  // the cells of the row being written, null where absent
  std::vector<Present> present_;  // a sparse row's non-null cells
  std::size_t rows_length_ = 0;
  std::size_t rows_written_ = 0;
  std::size_t piece_first_row_ = 0;  // the first row of the piece being written
  std::size_t rows_given_ = 0;       // the rows written to out_
  bool piece_whole_ = false;         // whether it holds whole rows
  std::size_t piece_end_ = 0;        // where the piece is known to be full at the soonest
};

namespace {

// The output text before the first row, and after the last.
Buffer table_head(const ColumnPlan& plan) {
  Buffer head;
  head.append(R"({"columns":)");
  json::serialize_value(plan.columns, head);
  head.append(R"(,"rows":[)");
  return head;
}

Buffer table_tail(const ColumnPlan& plan) {
  Buffer tail;
  tail.append(R"(],"constants":)");
  json::serialize_value(plan.constants, tail);
  tail.push_back('}');
  return tail;
}

}  // namespace

void write_rows_array(const ColumnPlan& plan, Buffer& out, std::string_view payload,
                      std::vector<json::TextSplice>& splices) {
  const std::string_view spliced = spliced_payload(payload, plan.rows.size(), plan.cells_per_row);
  std::vector<const Cell*> row(plan.cells_per_row, nullptr);
  out.push_back('[');
  for (std::size_t r = 0; r < plan.rows.size(); ++r) {
    if (r != 0) out.push_back(',');
    for (const Cell& cell : plan.rows[r]) {
      const std::uint32_t position = plan.positions[cell.name];
      if (position != kNotACell) row[position] = &cell;
    }
    write_row(row, out, spliced, splices);
    std::fill(row.begin(), row.end(), nullptr);
  }
  out.push_back(']');
}

TableTextBuilder::TableTextBuilder(const ColumnPlan& plan, std::string_view payload,
                                   std::size_t row_count, std::size_t expected_cell_text,
                                   TextBlocks* out)
    : head_(table_head(plan)),
      tail_(table_tail(plan)),
      counts_{0, plan.cells_per_row, plan.constant_count},
      positions_(plan.positions),
      rows_(std::make_unique<RowsWriter>(plan.cells_per_row, payload, row_count, expected_cell_text,
                                         out)) {
  if (out != nullptr) out->copy(head_.data(), head_.size());
}

TableTextBuilder::~TableTextBuilder() = default;

void TableTextBuilder::add_rows(std::span<const json::RowCells> rows) {
  counts_.rows += rows.size();
  rows_->write_rows(rows, positions_);
}

TableText TableTextBuilder::finish() {
  rows_->seal();
  const std::size_t row_count = counts_.rows;
  const std::size_t separators = row_count == 0 ? 0 : row_count - 1;
  const std::size_t size =
      checked_add(rows_->rows_length(), head_.size() + tail_.size() + separators);
  return TableText(std::move(head_), rows_->take_pieces(), std::move(tail_), rows_->take_runs(),
                   rows_->take_row_ends(), counts_.columns, size, counts_);
}

void TableTextBuilder::finish(TextBlocks& out) {
  rows_->seal();
  out.copy(tail_.data(), tail_.size());
}

namespace {

// `text` with the long texts it leaves out put back in place.
template <class Out>
void write_spliced(Out& out, const Buffer& text, std::span<const json::TextSplice> splices) {
  std::size_t copied = 0;
  for (const json::TextSplice& splice : splices) {
    out.copy(text.data() + copied, splice.at - copied);
    out.copy(splice.text.data(), splice.text.size());
    copied = splice.at;
  }
  out.copy(text.data() + copied, text.size() - copied);
}

}  // namespace

template <class Out>
void TableText::write_text(Out& out) {
  // An empty buffer may hold no storage at all, which memcpy must not be given.
  if (head_.size() != 0) write_spliced(out, head_, head_splices_);
  if (cells_ != nullptr) write_cells(out);
}

template <class Out>
void TableText::write_cells(Out& out) {
  const std::vector<Run>& runs = cells_->runs;
  const std::vector<std::size_t>& row_ends = cells_->row_ends;
  const std::uint32_t cells_per_row = cells_->cells_per_row;
  std::size_t run = 0;
  std::size_t row = 0;
  std::size_t row_with_runs = 0;
  for (Piece& piece : cells_->pieces) {
    const char* const text = piece.text.data();
    if (piece.whole_rows) {
      if (row != 0) out.put(',');
      write_spliced(out, piece.text, piece.splices);
      row = piece.row_end;
    }
    for (; row < piece.row_end; ++row, ++row_with_runs) {
      if (row != 0) out.put(',');
      out.put('[');
      std::uint32_t position = 0;
      for (; run < row_ends[row_with_runs]; ++run) {
        const Run& cells = runs[run];
        if (cells.first > position) write_nulls(out, cells.first - position, position > 0);
        if (cells.first > 0) out.put(',');
        out.copy(text + cells.text_start, cells.text_end - cells.text_start);
        position = cells.end;
      }
      if (position < cells_per_row) write_nulls(out, cells_per_row - position, position > 0);
      out.put(']');
    }
    if constexpr (requires { out.copied(piece.text); }) out.copied(piece.text);
    piece.text = Buffer(0);
  }
  const Buffer& tail = cells_->tail;
  if (tail.size() != 0) out.copy(tail.data(), tail.size());
}

void TableText::write(char* out, bool fresh_memory) {
  TextAt text{out, out + size_};
  if (fresh_memory) {
    json::OutputPages pages(out, size_);
    TextIntoFresh fresh{text, pages};
    write_text(fresh);
    text = fresh.text;
  } else {
    write_text(text);
  }
  text.check_end();
}

void TableText::write(TextBlocks& out) {
  write_text(out);
}

}  // namespace tarvik
