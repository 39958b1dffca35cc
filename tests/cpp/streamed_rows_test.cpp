// Rows read one at a time and transformed in two streaming passes, or written out as they are
// made, agree with the whole-payload path on every sample payload and every conformance file, as
// one array and as JSON Lines: the same elements, output and errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "json/memory/arena.hpp"
#include "json/model/result.hpp"
#include "json/read/deferred.hpp"
#include "json/read/reader.hpp"
#include "transform/columnarize.hpp"
#include "transform_entry_points.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

const fs::path kSource = fs::path(TARVIK_SOURCE_DIR) / "tests";

// Every sample payload and conformance file, each as it is and as the one member of one row.
std::vector<std::pair<std::string, std::string>> payloads() {
  std::vector<std::pair<std::string, std::string>> found;
  for (const fs::path& dir :
       {kSource / "data" / "rows", kSource / "conformance" / "json-test-suite"}) {
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
      if (entry.path().extension() != ".json") continue;
      std::ifstream in(entry.path(), std::ios::binary);
      std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      const std::string name = entry.path().filename().string();
      found.emplace_back(name + " wrapped", R"([{"a":)" + text + "}]");
      found.emplace_back(name, std::move(text));
    }
  }
  // Escaped names and constants, which must outlive the rows they came from; errors after a
  // row that is not an object; rows enough for many batches, with columns that come late.
  std::string many = "[";
  std::string lines;
  for (int i = 0; i < 60000; ++i) {
    const std::string row = R"({"k\u0031":)" + std::to_string(i % 3) + R"(,"c":"\u00e9x","n)" +
                            std::to_string(i % 7) + R"(\u0041":)" +
                            (i % 5 == 0 ? "null" : "[1,{\"b\":2}]") + "}";
    many += (i == 0 ? "" : ",") + row;
    lines += (i % 9 == 0 ? " \r\n" : "") + row + "\n";
  }
  found.emplace_back("many rows", many + "]");
  found.emplace_back("many rows as lines", lines);
  found.emplace_back("many rows as lines, then an error", lines + "{\"a\":1}\n{\"a\":tru}\n");
  found.emplace_back("many rows as lines, then not an object", lines + "\n7\n");
  found.emplace_back("many rows, then an error", many + ",]");
  found.emplace_back("many rows, then not an object", many + ",7]");
  // Output text of several megabytes, in pieces of whole dense rows and of sparse rows' runs.
  std::string long_rows = "[";
  for (int i = 0; i < 200000; ++i) {
    long_rows +=
        (i == 0 ? "{" : ",{") + std::string(i % 1000 == 7 ? R"("d":true)" : R"("a":)") +
        (i % 1000 == 7 ? ""
                       : std::to_string(i) + R"(,"b":"row","c":[)" + std::to_string(i % 10) + "]") +
        "}";
  }
  found.emplace_back("long rows, some sparse", long_rows + "]");
  // A column first named, escaped, in a row past the arena's first chunks, which are given back
  // as their rows are written: the name must not be read from them after.
  std::string late_name = "[";
  for (int i = 0; i < 5000; ++i) {
    late_name += (i == 0 ? R"({"a":)" : R"(,{"a":)") + std::to_string(i) +
                 (i >= 300 ? R"(,"l\u00e9":1})" : "}");
  }
  found.emplace_back("a late escaped name", late_name + "]");
  found.emplace_back("not an object, then an error", R"([{"a":1},2,{"a":tru}])");
  found.emplace_back("escaped names", R"([{"a\u0062":"\u00e9"},{"ab":"\u00e9"},{"ab":"\u00e9"}])");
  std::ranges::sort(found);
  return found;
}

// The index of the first row that is not an object, in a payload that reads without error.
std::optional<std::size_t> first_non_object(std::string_view payload, json::Layout layout) {
  json::Arena arena;
  const auto read = layout == json::Layout::Array ? json::parse_value_list(payload, arena)
                                                  : json::parse_value_lines(payload, arena);
  if (!read.ok()) return std::nullopt;
  const auto row = std::ranges::find_if_not(read.value(), &json::Value::is_object);
  if (row == read.value().end()) return std::nullopt;
  return static_cast<std::size_t>(row - read.value().begin());
}

class Streamed : public testing::TestWithParam<json::Layout> {};

TEST_P(Streamed, RowsReadOneAtATimeAreTheRowsAndFirstErrorOfTheWholeRead) {
  const json::Layout layout = GetParam();
  for (const auto& [name, payload] : payloads()) {
    SCOPED_TRACE(name);
    json::Arena whole_arena;
    json::TableRowReader whole_reader(payload, whole_arena, layout);
    std::vector<json::RowCells> whole;
    std::optional<json::NotARow> not_a_row;
    const bool whole_ok = whole_reader.read_all(whole, not_a_row);
    // Each row into an arena released before the next: nothing may point into it after.
    json::Arena arena;
    json::TableRowReader reader(payload, arena, layout);
    std::size_t count = 0;
    json::RowRead row;
    json::TableRowReader::Step step;
    while ((step = reader.next(row)) == json::TableRowReader::Step::Element) {
      // Rows before an error are read too; the whole read keeps those before a non-object.
      if (whole_ok && count < whole.size()) {
        ASSERT_TRUE(row.is_object);
        ASSERT_EQ(row.cells.size(), whole[count].size());
        for (std::size_t i = 0; i < row.cells.size(); ++i) {
          EXPECT_EQ(row.cells[i].name, whole[count][i].name);
          EXPECT_EQ(row.cells[i].value, whole[count][i].value);
          EXPECT_EQ(row.cells[i].written_text(), whole[count][i].written_text());
        }
      } else if (whole_ok && not_a_row && count == not_a_row->index) {
        EXPECT_FALSE(row.is_object);
        EXPECT_EQ(row.value, not_a_row->value);
      }
      ++count;
      reader.forget_rows();
      arena.release_all();
    }
    if (whole_ok) {
      EXPECT_EQ(step, json::TableRowReader::Step::End);
      if (not_a_row) {
        EXPECT_GT(count, not_a_row->index);
      } else {
        EXPECT_EQ(count, whole.size());
        EXPECT_TRUE(std::ranges::equal(reader.names(), whole_reader.names()));
      }
    } else {
      ASSERT_EQ(step, json::TableRowReader::Step::Failed);
      EXPECT_EQ(reader.error().display(), whole_reader.error().display());
    }
    EXPECT_EQ(reader.next(row), step);
  }
}

// Collects what it is given, refusing once it holds `capacity` bytes.
class CollectingSink final : public TextSink {
 public:
  explicit CollectingSink(std::size_t capacity = SIZE_MAX) : capacity_(capacity) {}
  bool write(std::string_view text) override {
    ++writes;
    EXPECT_FALSE(text.empty());
    EXPECT_LT(written.size(), capacity_) << "written to after refusing";
    written += text;
    return written.size() < capacity_;
  }
  std::string written;
  int writes = 0;

 private:
  std::size_t capacity_;
};

TEST_P(Streamed, TransformWritesTheOutputAndErrorOfTheWholePath) {
  const json::Layout layout = GetParam();
  for (const auto& [name, payload] : payloads()) {
    SCOPED_TRACE(name);
    const auto whole =
        layout == json::Layout::Array ? columnarize_json(payload) : columnarize_json_lines(payload);
    // No room for the rows at once: every payload that builds anything is streamed.
    std::vector<Result<std::string, std::string>> streamed;
    if (layout == json::Layout::Array) {
      const auto within = columnarize_json_within(payload, 0);
      streamed.push_back(within.ok()
                             ? Result<std::string, std::string>(std::string(within.value().view()))
                             : failure(within.error()));
    }
    for (const std::size_t budget : {std::size_t{0}, SIZE_MAX}) {
      CollectingSink sink;
      const auto counts = columnarize_json_to(payload, layout, sink, budget);
      if (!counts.ok()) {
        EXPECT_EQ(sink.writes, 0) << "output before the payload was known valid";
        EXPECT_EQ(counts.error().row, first_non_object(payload, layout));
      }
      streamed.push_back(counts.ok() ? Result<std::string, std::string>(std::move(sink.written))
                                     : failure(counts.error().message));
    }
    for (const auto& each : streamed) {
      ASSERT_EQ(each.ok(), whole.ok());
      if (whole.ok()) {
        EXPECT_EQ(each.value(), whole.value().view());
      } else {
        EXPECT_EQ(each.error(), whole.error());
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, Streamed,
                         testing::Values(json::Layout::Array, json::Layout::Lines));

TEST(StreamedTransform, StopsWritingWhenTheSinkRefuses) {
  std::string payload = "[";
  for (int i = 0; i < 200000; ++i)
    payload += (i ? "," : "") + std::string(R"({"a":)") + std::to_string(i) + "}";
  payload += "]";
  for (const std::size_t budget : {std::size_t{0}, SIZE_MAX}) {
    CollectingSink sink(1);
    const auto counts = columnarize_json_to(payload, json::Layout::Array, sink, budget);
    ASSERT_TRUE(counts.ok());
    EXPECT_EQ(counts.value().rows, 200000u);
    EXPECT_EQ(sink.writes, 1);
  }
}

}  // namespace
}  // namespace tarvik
