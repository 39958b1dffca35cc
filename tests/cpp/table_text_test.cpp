// The table text, written from the row objects without a matrix of cells, against the document
// built cell by cell: sparse rows, members in any order, explicit and missing nulls; and its
// writing stopped where it disagrees with its counted size.
#include <gtest/gtest.h>

#include <cstddef>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "json/read/reader.hpp"
#include "json/write/writer.hpp"
#include "transform/columnarize.hpp"
#include "transform_entry_points.hpp"

namespace tarvik {
namespace {

std::string built_output(std::string_view payload) {
  json::Arena arena;
  auto rows = json::parse_value_list(payload, arena, json::Build::Everything);
  EXPECT_TRUE(rows.ok()) << payload;
  auto document = columnarize_rows(std::move(rows).value(), arena);
  EXPECT_TRUE(document.ok()) << payload;
  json::Buffer out;
  json::serialize_value(document.value(), out);
  return std::string(out.view());
}

std::string text_output(std::string_view payload) {
  auto result = columnarize_json(payload);
  EXPECT_TRUE(result.ok()) << payload;
  return std::string(result.value().view());
}

// Rows of `row_count` objects; row r holds the members `member(r)` gives, in its order.
template <class Members>
std::string rows_of(int row_count, Members member) {
  std::string payload = "[";
  for (int r = 0; r < row_count; ++r) {
    if (r != 0) payload += ',';
    payload += '{' + member(r) + '}';
  }
  return payload + ']';
}

// A row of long texts, every other thousand rows only one of them.
std::string long_texts(int r) {
  const std::string run(300, static_cast<char>('a' + r % 26));
  if (r / 1000 % 2 == 1) return "\"s\":\"" + run + '"';
  return "\"s\":\"" + run + "\",\"o\":{\"k\":\"" + run + "\"},\"w\":[ \"" + run +
         "\" ],\"e\":\"\\u00e9" + run + "\",\"n\":" + std::to_string(r);
}

struct ShapeCase {
  const char* name;
  std::string payload;
};

class TableShapes : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(TableShapes, WriteWhatTheBuiltDocumentWrites) {
  EXPECT_EQ(text_output(GetParam().payload), built_output(GetParam().payload));
}

INSTANTIATE_TEST_SUITE_P(
    Table, TableShapes,
    ::testing::Values(
        // One distinct member per row: every row is nulls around one cell, across null runs
        // longer than the copied pattern.
        ShapeCase{"one_member_each", rows_of(2000,
                                             [](int r) {
                                               return "\"k" + std::to_string(r) +
                                                      "\":" + std::to_string(r);
                                             })},
        ShapeCase{"members_in_reverse", rows_of(40,
                                                [](int r) {
                                                  return "\"k" + std::to_string(40 - r) + "\":[" +
                                                         std::to_string(r) + "],\"s\":1,\"k" +
                                                         std::to_string(r % 3) + "\":null";
                                                })},
        ShapeCase{"every_other_member", rows_of(30,
                                                [](int r) {
                                                  std::string members = "\"c\":0";
                                                  for (int c = r % 2; c < 12; c += 2)
                                                    members +=
                                                        ",\"m" + std::to_string(c) + "\":\"x\"";
                                                  return members;
                                                })},
        // Cell text in several pieces, and rows without a cell after the last one.
        ShapeCase{"pieces", rows_of(160'000,
                                    [](int r) {
                                      return r < 150'000 ? "\"a\":" + std::to_string(r) +
                                                               ",\"b\":\"twenty characters...\""
                                                         : std::string("\"z\":null");
                                    })},
        // Dense rows kept as their text, in stretches between sparse rows.
        ShapeCase{"dense_and_sparse_stretches",
                  rows_of(120'000,
                          [](int r) {
                            return "\"a\":" + std::to_string(r) +
                                   (r / 1000 % 2 == 0 ? std::string(R"(,"b":"x","c":[1])") : "");
                          })},
        // Long texts, left in the payload until the output is put together when written as
        // they stand (a string, an object), written afresh otherwise (whitespace, escapes): in
        // a small table written at once, and in stretches of dense rows between sparse ones.
        ShapeCase{"long_texts_small", rows_of(20, long_texts)},
        ShapeCase{"long_texts", rows_of(6000, long_texts)},
        ShapeCase{"rows_without_cells", rows_of(5, [](int) { return std::string("\"a\":null"); })},
        ShapeCase{"first_row_full_then_empty",
                  rows_of(6,
                          [](int r) {
                            return std::string(r == 0 ? R"("a":1,"b":{"c":[]},"d":"\u00e9")" : "");
                          })}),
    [](const auto& shape) { return std::string(shape.param.name); });

// Random tables: any subset of the members, in any order, of any kind of value.
TEST(TableShapes, RandomTablesWriteWhatTheBuiltDocumentWrites) {
  const char* const values[] = {"null", "1", "1.0", "\"x\"", "[1, 2]", "{\"y\":null}", "true"};
  std::mt19937 random(7);
  for (int table = 0; table < 300; ++table) {
    const int columns = 1 + static_cast<int>(random() % 10);
    const std::string payload = rows_of(static_cast<int>(random() % 12), [&](int) {
      std::string members;
      for (int c = 0; c < columns; ++c) {
        if (random() % 3 == 0) continue;
        if (!members.empty()) members += ',';
        members += "\"c" + std::to_string((c * 7 + static_cast<int>(random() % 4)) % columns) +
                   "x" + std::to_string(c) + "\":" + values[random() % std::size(values)];
      }
      return members;
    });
    EXPECT_EQ(text_output(payload), built_output(payload)) << payload;
  }
}

json::Buffer buffer_of(std::string_view text) {
  json::Buffer buffer;
  buffer.append(text);
  return buffer;
}

// "{[null,1,null],[2,null,null]}" (29 bytes) as a table text of runs, counted as `size` bytes.
TableText sparse_table(std::size_t size) {
  std::vector<TableText::Piece> pieces;
  pieces.push_back({buffer_of("12"), 2, false, {}});
  std::vector<TableText::Run> runs = {{0, 1, 1, 2}, {1, 2, 0, 1}};
  return TableText(buffer_of("{"), std::move(pieces), buffer_of("}"), std::move(runs), {1, 2}, 3,
                   size, {});
}

struct MiscountCase {
  const char* name;
  std::size_t counted;
  const char* fault;  // none when the count is right
};

class Miscounted : public ::testing::TestWithParam<std::tuple<MiscountCase, bool>> {};

// A count that disagrees with the writing must never let a byte land past the counted end.
TEST_P(Miscounted, NothingIsWrittenPastTheCountedEnd) {
  const auto& [miscount, fresh_memory] = GetParam();
  constexpr std::size_t kGuard = 16;
  std::string out(miscount.counted + kGuard, '#');
  TableText text = sparse_table(miscount.counted);
  if (miscount.fault == nullptr) {
    text.write(out.data(), fresh_memory);
    EXPECT_EQ(out.substr(0, miscount.counted), "{[null,1,null],[2,null,null]}");
  } else {
    try {
      text.write(out.data(), fresh_memory);
      ADD_FAILURE() << "no fault";
    } catch (const std::logic_error& fault) {
      EXPECT_STREQ(fault.what(), miscount.fault);
    }
  }
  EXPECT_EQ(out.substr(miscount.counted), std::string(kGuard, '#'));
}

constexpr const char* kRanPast = "the table text ran past its counted size";

INSTANTIATE_TEST_SUITE_P(
    TableText, Miscounted,
    ::testing::Combine(::testing::Values(MiscountCase{"right", 29, nullptr},
                                         MiscountCase{"short_at_a_bracket", 1, kRanPast},
                                         MiscountCase{"short_in_nulls", 4, kRanPast},
                                         MiscountCase{"short_at_the_tail", 28, kRanPast},
                                         MiscountCase{"long", 30,
                                                      "the table text ended before its counted "
                                                      "size"}),
                       ::testing::Bool()),
    [](const auto& each) {
      return std::string(std::get<0>(each.param).name) +
             (std::get<1>(each.param) ? "_fresh" : "_at");
    });

}  // namespace
}  // namespace tarvik
