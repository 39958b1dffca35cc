// The payload pipeline: read the rows, plan the columns, write the output text.
#include "transform/columnarize.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "json/memory/huge_pages.hpp"
#include "json/read/reader.hpp"
#include "json/write/writer.hpp"
#include "transform/column_plan.hpp"
#include "transform/table_text.hpp"
#include "transform/text_blocks.hpp"

namespace tarvik {

namespace {

// A table of at most this many cells is written in one pass, rows whole: fewer allocations than
// the table text.
constexpr std::size_t kSmallTableCells = 4096;
// The arena's first block, on the stack: the rows of a payload of a few kilobytes fit in it.
constexpr std::size_t kFirstArenaBlock = 4096;

// The scratch arena of the rows read one at a time is released whenever it holds this much.
constexpr std::size_t kRowBatchBytes = std::size_t{1} << 20;

TransformFailure reader_failure(const json::Error& error) {
  return {"invalid row-oriented JSON: " + error.display(), std::nullopt};
}

// Every row read at once, then planned, and the plan given to `finish` with the arena of the
// rows: the fastest path, taken while the rows and the plan take at most `budget` bytes;
// nullopt, with everything released, beyond.
template <class Finish>
auto transform_whole(std::string_view payload, json::Layout layout, std::size_t budget,
                     Finish&& finish)
    -> std::optional<decltype(finish(ColumnPlan(), std::declval<json::Arena&>()))> try {
  // The rows live in this arena, which is released before the output is made. Strings without
  // escapes, and the arrays and objects below the rows, which are carried over as their text,
  // point into the payload.
  alignas(16) char first_block[kFirstArenaBlock];
  json::Arena arena(first_block, sizeof first_block);
  arena.set_budget(budget);
  json::TableRowReader reader(payload, arena, layout);
  std::vector<json::RowCells> rows;
  std::optional<json::NotARow> not_a_row;
  KeptColumns columns(arena);
  if (!reader.read_all(rows, not_a_row, &columns)) return failure(reader_failure(reader.error()));
  if (not_a_row) return failure(non_object_row(not_a_row->value, not_a_row->index));
  // Beside the arena: the list of rows, and the table text's run and end of each row.
  const std::size_t taken = arena.reserved_bytes() + rows.capacity() * sizeof(json::RowCells) +
                            rows.size() * (sizeof(TableText::Run) + sizeof(std::size_t));
  if (taken > budget) return std::nullopt;
  return finish(columns.plan(std::move(rows), reader.names()), arena);
} catch (const json::Arena::OverBudget&) {
  return std::nullopt;
}

// The rows of the plan, built at once in `arena`, given to `text` a batch at a time; once a batch
// is written, the arena's chunks that hold only it and the rows before are given back, so that
// the rows and their text are not both held whole. Each row was built after the one before it
// and refers only to what it built itself or to the payload. Stops once `out` takes no more.
void write_rows(const ColumnPlan& plan, json::Arena& arena, TableTextBuilder& text,
                const TextBlocks* out = nullptr) {
  constexpr std::size_t kBatchRows = 1024;
  const std::span<const json::RowCells> rows = plan.rows;
  for (std::size_t first = 0; first < rows.size(); first += kBatchRows) {
    if (out != nullptr && out->stopped()) return;
    const auto batch = rows.subspan(first, std::min(kBatchRows, rows.size() - first));
    text.add_rows(batch);
    // The cells of a row are its last allocation; an empty row has none.
    const auto last = std::find_if(batch.rbegin(), batch.rend(),
                                   [](const json::RowCells& row) { return !row.empty(); });
    if (last != batch.rend()) arena.release_before(last->data());
  }
}

// The output text of a planned table: a small one written in one pass as a document, a larger
// one as its table text.
Result<TableText, TransformFailure> table_output(const ColumnPlan& table, json::Arena& arena,
                                                 std::string_view payload) {
  if (table.cells_per_row == 0 || table.rows.size() <= kSmallTableCells / table.cells_per_row) {
    // The document's three members written around their values: no map is built for them.
    // The output seldom outgrows the payload, which also holds every member name.
    json::Buffer out(json::Buffer::kInitialCapacity, payload.size());
    out.append(R"({"columns":)");
    json::serialize_value(table.columns, out);
    out.append(R"(,"rows":)");
    std::vector<json::TextSplice> splices;
    write_rows_array(table, out, payload, splices);
    out.append(R"(,"constants":)");
    json::serialize_value(table.constants, out);
    out.push_back('}');
    const ColumnarizeCounts counts{table.rows.size(), table.cells_per_row, table.constant_count};
    return TableText::whole(std::move(out), std::move(splices), counts);
  }
  TableTextBuilder text(table, payload, table.rows.size(), payload.size());
  write_rows(table, arena, text);
  return text.finish();
}

// The rows read from `payload` one at a time, into a scratch arena released every batch of rows,
// with the columns found in them.
class StreamedRows {
 public:
  StreamedRows(std::string_view payload, json::Layout layout)
      : payload_(payload), layout_(layout), columns_(kept_, payload) {}

  // The first pass: every row scanned for the columns, then planned.
  Result<ColumnPlan, TransformFailure> plan() {
    json::TableRowReader reader(payload_, scratch_, layout_);
    std::optional<TransformFailure> not_a_row;
    json::RowRead row;
    for (;;) {
      const json::TableRowReader::Step step = reader.next(row);
      if (step == json::TableRowReader::Step::End) break;
      // A reader error anywhere comes before a row that is not an object.
      if (step == json::TableRowReader::Step::Failed) {
        return failure(reader_failure(reader.error()));
      }
      // Once a row is not an object, the rest are only read.
      if (!not_a_row && !row.is_object) {
        not_a_row = non_object_row(row.value, columns_.rows_scanned());
      } else if (!not_a_row) {
        columns_.scan_row(row.cells, reader.names().size());
      }
      if (scratch_.reserved_bytes() >= kRowBatchBytes) {
        reader.forget_rows();
        scratch_.release_all();
      }
    }
    scratch_.release_all();
    if (not_a_row) return failure(std::move(*not_a_row));
    return columns_.plan(reader.names());
  }

  // The second pass, over rows known to be valid objects: `write_batch` is given each batch of
  // rows, then the batch is released. The pass ends early once `write_batch` returns false.
  template <class WriteBatch>
  void write(WriteBatch&& write_batch) {
    json::TableRowReader reader(payload_, scratch_, layout_);
    std::vector<json::RowCells> rows;
    const auto batch_done = [&] {
      const bool more = write_batch(std::span<const json::RowCells>(rows));
      rows.clear();
      reader.forget_rows();
      scratch_.release_all();
      return more;
    };
    json::RowRead row;
    while (reader.next(row) == json::TableRowReader::Step::Element) {
      rows.push_back(row.cells);
      if (scratch_.reserved_bytes() >= kRowBatchBytes && !batch_done()) return;
    }
    batch_done();
  }

  std::size_t rows_scanned() const { return columns_.rows_scanned(); }

 private:
  std::string_view payload_;
  json::Layout layout_;
  json::Arena kept_;  // the column names and first-row values that do not lie in the payload
  StreamedColumns columns_;
  json::Arena scratch_;
};

// The rows read one at a time, twice: first to plan the columns, then to write the rows. Its
// memory is the output's and a constant.
Result<TableText, TransformFailure> transform_streamed(std::string_view payload,
                                                       json::Layout layout) {
  StreamedRows rows(payload, layout);
  const Result<ColumnPlan, TransformFailure> plan = rows.plan();
  if (!plan.ok()) return failure(plan.error());
  TableTextBuilder text(plan.value(), payload, rows.rows_scanned(), payload.size());
  rows.write([&](auto batch) {
    text.add_rows(batch);
    return true;
  });
  return text.finish();
}

// The same, the output written to `out` as it is made: its memory is a constant.
Result<ColumnarizeCounts, TransformFailure> transform_streamed_to(std::string_view payload,
                                                                  json::Layout layout,
                                                                  TextBlocks& out) {
  StreamedRows rows(payload, layout);
  const Result<ColumnPlan, TransformFailure> plan = rows.plan();
  if (!plan.ok()) return failure(plan.error());
  const ColumnPlan& table = plan.value();
  TableTextBuilder text(table, payload, rows.rows_scanned(), SIZE_MAX, &out);
  rows.write([&](auto batch) {
    text.add_rows(batch);
    return !out.stopped();
  });
  text.finish(out);
  return ColumnarizeCounts{rows.rows_scanned(), table.cells_per_row, table.constant_count};
}

// The whole path while it fits the budget, else the streamed one.
Result<TableText, TransformFailure> transform_once(std::string_view payload, json::Layout layout,
                                                   std::size_t budget) {
  const auto finish = [&](const ColumnPlan& table, json::Arena& arena) {
    return table_output(table, arena, payload);
  };
  if (auto whole = transform_whole(payload, layout, budget, finish)) {
    return std::move(*whole);
  }
  // The blocks of the rows given up are not kept: the streamed rows need little of them.
  json::release_kept_blocks();
  return transform_streamed(payload, layout);
}

Result<TableText, TransformFailure> transform_text(std::string_view payload, json::Layout layout,
                                                   std::size_t budget) {
  return json::retried_after_memory_runs_out([&] {
    Result<TableText, TransformFailure> text = transform_once(payload, layout, budget);
    if (text.ok()) json::ensure_room_for(text.value().size());
    return text;
  });
}

}  // namespace

std::size_t whole_rows_budget(std::size_t payload_size) {
  constexpr std::size_t kLeast = std::size_t{8} << 20;
  return payload_size > (SIZE_MAX - kLeast) / 2 ? SIZE_MAX : 2 * payload_size + kLeast;
}

Result<TableText, TransformFailure> columnarize_json_text(std::string_view payload,
                                                          json::Layout layout,
                                                          std::optional<std::size_t> whole_budget) {
  return transform_text(payload, layout, whole_budget.value_or(whole_rows_budget(payload.size())));
}

Result<ColumnarizeCounts, TransformFailure> columnarize_json_to(std::string_view payload,
                                                                json::Layout layout, TextSink& sink,
                                                                std::size_t whole_budget) {
  TextBlocks out(sink);
  // Once some of the output has gone, the work cannot start over.
  auto counts = json::retried_after_memory_runs_out(
      [&]() -> Result<ColumnarizeCounts, TransformFailure> {
        const auto finish = [&](const ColumnPlan& table,
                                json::Arena& arena) -> Result<ColumnarizeCounts, TransformFailure> {
          TableTextBuilder text(table, payload, table.rows.size(), SIZE_MAX, &out);
          write_rows(table, arena, text, &out);
          text.finish(out);
          return ColumnarizeCounts{table.rows.size(), table.cells_per_row, table.constant_count};
        };
        if (auto whole = transform_whole(payload, layout, whole_budget, finish)) {
          return std::move(*whole);
        }
        json::release_kept_blocks();
        return transform_streamed_to(payload, layout, out);
      },
      [&] { return !out.started(); });
  out.flush();
  return counts;
}

}  // namespace tarvik
