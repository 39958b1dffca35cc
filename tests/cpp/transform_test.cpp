// The row-to-column transform on documents built in memory, checked through the writer's text.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "documents.hpp"
#include "json/read/deferred.hpp"
#include "json/write/writer.hpp"
#include "transform/columnarize.hpp"
#include "transform_entry_points.hpp"

namespace tarvik::testing {
namespace {

using Rows = std::vector<Value>;

std::string text_of(const Value& value) {
  json::Buffer out;
  json::serialize_value(value, out);
  return std::string(out.view());
}

// The output text, or the error message behind "error: ".
std::string columnarize(Rows rows, Arena& arena) {
  auto result = columnarize_rows(std::move(rows), arena);
  return result.ok() ? text_of(result.value()) : "error: " + result.error();
}

struct TransformCase {
  const char* name;
  std::function<Rows(const Builder&)> rows;
  const char* expected;
};

const TransformCase kCases[] = {
    {"no rows", [](const Builder&) { return Rows{}; },
     R"({"columns":[],"rows":[],"constants":{}})"},
    {"one empty row", [](const Builder& b) { return Rows{b.obj({})}; },
     R"({"columns":[],"rows":[[]],"constants":{}})"},
    {"two empty rows",
     [](const Builder& b) {
       return Rows{b.obj({}), b.obj({})};
     },
     R"({"columns":[],"rows":[[],[]],"constants":{}})"},
    {"one row has no constants",
     [](const Builder& b) {
       return Rows{b.obj({{"a", uint_(1)}})};
     },
     R"({"columns":["a"],"rows":[[1]],"constants":{}})"},
    {"every column constant",
     [](const Builder& b) {
       return Rows{b.obj({{"a", uint_(1)}}), b.obj({{"a", uint_(1)}})};
     },
     R"({"columns":[],"rows":[[],[]],"constants":{"a":1}})"},
    {"null-only column in one row",
     [](const Builder& b) {
       return Rows{b.obj({{"a", Value::null()}, {"b", uint_(2)}})};
     },
     R"({"columns":["b"],"rows":[[2]],"constants":{}})"},
    {"null or absent everywhere",
     [](const Builder& b) {
       return Rows{b.obj({{"a", Value::null()}}), b.obj({{"b", Value::null()}}), b.obj({})};
     },
     R"({"columns":[],"rows":[[],[],[]],"constants":{}})"},
    {"rows sharing one member",
     [](const Builder& b) {
       return Rows{b.obj({{"a", uint_(1)}, {"b", uint_(2)}}),
                   b.obj({{"b", uint_(3)}, {"c", uint_(4)}})};
     },
     R"({"columns":["a","b","c"],"rows":[[1,2,null],[null,3,4]],"constants":{}})"},
    {"first-seen order",
     [](const Builder& b) {
       return Rows{b.obj({{"b", uint_(2)}, {"a", uint_(1)}}),
                   b.obj({{"a", uint_(3)}, {"b", uint_(4)}})};
     },
     R"({"columns":["b","a"],"rows":[[2,1],[4,3]],"constants":{}})"},
    {"constants in first-seen order",
     [](const Builder& b) {
       return Rows{b.obj({{"z", uint_(1)}, {"y", uint_(1)}, {"x", uint_(0)}}),
                   b.obj({{"y", uint_(1)}, {"z", uint_(1)}, {"x", uint_(5)}})};
     },
     R"({"columns":["x"],"rows":[[0],[5]],"constants":{"z":1,"y":1}})"},
    {"null first, then a value",
     [](const Builder& b) {
       return Rows{b.obj({{"a", Value::null()}}), b.obj({{"a", uint_(1)}})};
     },
     R"({"columns":["a"],"rows":[[null],[1]],"constants":{}})"},
    {"absent in one row",
     [](const Builder& b) {
       return Rows{b.obj({{"a", uint_(1)}}), b.obj({})};
     },
     R"({"columns":["a"],"rows":[[1],[null]],"constants":{}})"},
    {"false is a constant",
     [](const Builder& b) {
       return Rows{b.obj({{"a", Value::boolean(false)}}), b.obj({{"a", Value::boolean(false)}})};
     },
     R"({"columns":[],"rows":[[],[]],"constants":{"a":false}})"},
    {"objects equal in any member order",
     [](const Builder& b) {
       return Rows{b.obj({{"o", b.obj({{"p", uint_(1)}, {"q", uint_(2)}})}}),
                   b.obj({{"o", b.obj({{"q", uint_(2)}, {"p", uint_(1)}})}})};
     },
     R"({"columns":[],"rows":[[],[]],"constants":{"o":{"p":1,"q":2}}})"},
    {"names compare by bytes",
     [](const Builder& b) {
       return Rows{b.obj({{"A", uint_(1)}}), b.obj({{"a", uint_(2)}})};
     },
     R"({"columns":["A","a"],"rows":[[1,null],[null,2]],"constants":{}})"},
    {"the empty name",
     [](const Builder& b) {
       return Rows{b.obj({{"", uint_(1)}}), b.obj({{"", uint_(2)}})};
     },
     R"({"columns":[""],"rows":[[1],[2]],"constants":{}})"},
    {"nested values whole",
     [](const Builder& b) {
       return Rows{b.obj({{"o", b.obj({{"k", b.arr({uint_(1), uint_(2)})}})}}),
                   b.obj({{"o", Value::null()}})};
     },
     R"({"columns":["o"],"rows":[[{"k":[1,2]}],[null]],"constants":{}})"},
    {"repeated name keeps the last value at the first position",
     [](const Builder& b) {
       return Rows{b.obj({{"a", uint_(1)}, {"b", uint_(0)}, {"a", uint_(2)}}),
                   b.obj({{"b", uint_(1)}, {"a", uint_(2)}})};
     },
     R"({"columns":["b"],"rows":[[0],[1]],"constants":{"a":2}})"},
    {"worked example",
     [](const Builder& b) {
       return Rows{b.obj({{"a", uint_(1)}, {"b", b.str("x")}, {"c", Value::null()}}),
                   b.obj({{"a", float_(1.0)}, {"b", b.str("y")}})};
     },
     R"({"columns":["b"],"rows":[["x"],["y"]],"constants":{"a":1}})"},
    // Top-level numbers match by exact value; the constant keeps the first row's form.
    {"integer then float",
     [](const Builder& b) {
       return Rows{b.obj({{"a", uint_(1)}}), b.obj({{"a", float_(1.0)}})};
     },
     R"({"columns":[],"rows":[[],[]],"constants":{"a":1}})"},
    {"float then integer",
     [](const Builder& b) {
       return Rows{b.obj({{"a", float_(1.0)}}), b.obj({{"a", uint_(1)}})};
     },
     R"({"columns":[],"rows":[[],[]],"constants":{"a":1.0}})"},
    {"integers beyond 2^53 that round to one double stay apart",
     [](const Builder& b) {
       return Rows{b.obj({{"a", uint_(9007199254740993ULL)}}),
                   b.obj({{"a", uint_(9007199254740992ULL)}})};
     },
     R"({"columns":["a"],"rows":[[9007199254740993],[9007199254740992]],"constants":{}})"},
    {"zero and negative zero",
     [](const Builder& b) {
       return Rows{b.obj({{"a", uint_(0)}}), b.obj({{"a", float_(-0.0)}})};
     },
     R"({"columns":[],"rows":[[],[]],"constants":{"a":0}})"},
    {"negative integer and float",
     [](const Builder& b) {
       return Rows{b.obj({{"a", int_(-2)}}), b.obj({{"a", float_(-2.0)}})};
     },
     R"({"columns":[],"rows":[[],[]],"constants":{"a":-2}})"},
    {"nested numbers keep their forms apart",
     [](const Builder& b) {
       return Rows{b.obj({{"a", b.arr({uint_(1)})}}), b.obj({{"a", b.arr({float_(1.0)})}})};
     },
     R"({"columns":["a"],"rows":[[[1]],[[1.0]]],"constants":{}})"},
    {"number and string",
     [](const Builder& b) {
       return Rows{b.obj({{"a", uint_(1)}}), b.obj({{"a", b.str("1")}})};
     },
     R"({"columns":["a"],"rows":[[1],["1"]],"constants":{}})"},
    {"zero and false",
     [](const Builder& b) {
       return Rows{b.obj({{"a", uint_(0)}}), b.obj({{"a", Value::boolean(false)}})};
     },
     R"({"columns":["a"],"rows":[[0],[false]],"constants":{}})"},
    {"same value but absent from one row",
     [](const Builder& b) {
       return Rows{b.obj({{"a", uint_(7)}}), b.obj({{"a", uint_(7)}}), b.obj({{"b", uint_(1)}})};
     },
     R"({"columns":["a","b"],"rows":[[7,null],[7,null],[null,1]],"constants":{}})"},
    {"no columns left still gives one array per row",
     [](const Builder& b) {
       return Rows{b.obj({{"k", b.str("v")}}), b.obj({{"k", b.str("v")}}),
                   b.obj({{"k", b.str("v")}})};
     },
     R"({"columns":[],"rows":[[],[],[]],"constants":{"k":"v"}})"},
    {"a constant after a varying column, then a row in another member order",
     [](const Builder& b) {
       return Rows{b.obj({{"v", uint_(1)}, {"c", b.str("x")}, {"n", Value::null()}}),
                   b.obj({{"c", b.str("x")}, {"v", uint_(2)}}),
                   b.obj({{"n", Value::null()}, {"c", b.str("x")}, {"v", uint_(3)}})};
     },
     R"({"columns":["v"],"rows":[[1],[2],[3]],"constants":{"c":"x"}})"},
    // Non-object rows: only the first is named, in full compact text.
    {"number row",
     [](const Builder& b) {
       return Rows{b.obj({{"a", uint_(1)}}), uint_(2)};
     },
     "error: expected a JSON object row, got: 2"},
    {"string row named with its quotes",
     [](const Builder& b) {
       return Rows{b.obj({{"a", uint_(1)}}), b.str("x"), b.arr({uint_(1)})};
     },
     R"(error: expected a JSON object row, got: "x")"},
    {"null row", [](const Builder&) { return Rows{Value::null()}; },
     "error: expected a JSON object row, got: null"},
    {"array row shown whole",
     [](const Builder& b) {
       return Rows{b.arr({b.obj({{"k", b.str("a\"b")}}), float_(0.5), Value::boolean(true)})};
     },
     R"(error: expected a JSON object row, got: [{"k":"a\"b"},0.5,true])"},
};

class Transform : public ::testing::TestWithParam<TransformCase> {};

TEST_P(Transform, GivesTheExpectedDocument) {
  Arena arena;
  const Builder b(arena);
  EXPECT_EQ(columnarize(GetParam().rows(b), arena), GetParam().expected);
}

std::string case_name(const ::testing::TestParamInfo<TransformCase>& param) {
  return "case" + std::to_string(param.index);
}

INSTANTIATE_TEST_SUITE_P(Table, Transform, ::testing::ValuesIn(kCases), case_name);

// Many rows, many columns: a column disappearing, reappearing and shifting position must land
// in the right cell whatever the previous row looked like.
TEST(TransformShapes, CellsFollowTheirNamesAcrossChangingShapes) {
  Arena arena;
  const Builder b(arena);
  constexpr int kRows = 300;
  constexpr int kColumns = 40;
  Rows rows;
  for (int r = 0; r < kRows; ++r) {
    Map& row = Map::create(arena);
    for (int c = 0; c < kColumns; ++c) {
      const int column = (c + r) % kColumns;  // rotate the member order every row
      if ((r + column) % 7 == 0) continue;    // and leave some members out
      row.insert(arena.copy_string("c" + std::to_string(column)),
                 uint_(static_cast<std::uint64_t>(r * 1000 + column)));
    }
    rows.push_back(Value::object(row));
  }
  auto result = columnarize_rows(std::move(rows), arena);
  ASSERT_TRUE(result.ok());
  const Map& out = result.value().as_object();
  const auto names = out.get("columns")->as_array();
  const auto row_arrays = out.get("rows")->as_array();
  ASSERT_EQ(names.size(), static_cast<std::size_t>(kColumns));
  ASSERT_EQ(row_arrays.size(), static_cast<std::size_t>(kRows));
  EXPECT_EQ(out.get("constants")->as_object().size(), 0u);
  for (int r = 0; r < kRows; ++r) {
    const auto cells = row_arrays[r].as_array();
    ASSERT_EQ(cells.size(), names.size());
    for (std::size_t j = 0; j < names.size(); ++j) {
      const int column = std::stoi(std::string(names[j].as_string().substr(1)));
      const Value expected = (r + column) % 7 == 0
                                 ? Value::null()
                                 : uint_(static_cast<std::uint64_t>(r * 1000 + column));
      EXPECT_TRUE(cells[j] == expected) << "row " << r << " column " << column;
    }
  }
}

}  // namespace
}  // namespace tarvik::testing
