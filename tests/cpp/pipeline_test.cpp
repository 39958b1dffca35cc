// The payload pipeline end to end: payload bytes in, output bytes or the exact message out.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "transform/columnarize.hpp"
#include "transform_entry_points.hpp"

namespace tarvik {
namespace {

struct PipelineCase {
  std::string payload;
  std::string expected;  // the output bytes, or the error message behind "error: "
};

std::string run(std::string_view payload) {
  auto result = columnarize_json(payload);
  return result.ok() ? std::string(result.value().view()) : "error: " + result.error();
}

class Pipeline : public ::testing::TestWithParam<PipelineCase> {};

TEST_P(Pipeline, GivesTheExpectedResult) {
  EXPECT_EQ(run(GetParam().payload), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Pipeline,
    ::testing::Values(
        PipelineCase{"[]", R"({"columns":[],"rows":[],"constants":{}})"},
        PipelineCase{" [{\"a\":1}]\n", R"({"columns":["a"],"rows":[[1]],"constants":{}})"},
        PipelineCase{
            "", "error: invalid row-oriented JSON: EOF while parsing a value at line 1 column 0"},
        PipelineCase{"{}",
                     "error: invalid row-oriented JSON: invalid type: map, expected a sequence at "
                     "line 1 column 0"},
        PipelineCase{
            "[1,2",
            "error: invalid row-oriented JSON: EOF while parsing a list at line 1 column 4"},
        // The whole payload is read first: a reader error wins over an earlier non-object row.
        PipelineCase{
            R"([{"a":1},2,)",
            "error: invalid row-oriented JSON: EOF while parsing a value at line 1 column 11"},
        PipelineCase{R"([{"a":1},2])", "error: expected a JSON object row, got: 2"},
        PipelineCase{"[] x",
                     "error: invalid row-oriented JSON: trailing characters at line 1 column 4"},
        PipelineCase{R"([{"a":1,"b":"x","c":null},{"a":1.0,"b":"y"}])",
                     R"({"columns":["b"],"rows":[["x"],["y"]],"constants":{"a":1}})"},
        // Escapes are resolved on reading and written back minimally; non-ASCII stays raw.
        PipelineCase{
            R"([{"k":"\u00e9\/\n\u0001"},{"k":"\ud83d\ude00"}])",
            "{\"columns\":[\"k\"],\"rows\":[[\"\xc3\xa9/\\n\\u0001\"],[\"\xf0\x9f\x98\x80\"]],"
            "\"constants\":{}}"},
        // A member name spelled with an escape is the same column.
        PipelineCase{R"([{"a":1},{"\u0061":2}])",
                     R"({"columns":["a"],"rows":[[1],[2]],"constants":{}})"},
        // Numbers keep their forms; -0 is a float.
        PipelineCase{
            R"([{"n":-0,"m":18446744073709551615,"i":-9223372036854775808,"f":1e2}])",
            R"({"columns":["n","m","i","f"],"rows":[[-0.0,18446744073709551615,-9223372036854775808,100.0]],"constants":{}})"},
        PipelineCase{R"([{"a":[1,{"b":[]}]},"x"])",
                     R"(error: expected a JSON object row, got: "x")"},
        PipelineCase{
            "[{\"a\":\"\xff\"}]",
            "error: invalid row-oriented JSON: invalid unicode code point at line 1 column 9"}));

// The deepest nesting the reader accepts goes through the transform and the writer intact.
TEST(PipelineDepth, DeepestAcceptedDocumentRoundTrips) {
  const std::string nested = std::string(125, '[') + std::string(125, ']');
  const std::string payload = "[{\"d\":" + nested + "},{\"d\":1}]";
  EXPECT_EQ(run(payload), "{\"columns\":[\"d\"],\"rows\":[[" + nested + "],[1]],\"constants\":{}}");
  // The object is level 2, so the 126th bracket after it (byte 132) is the 128th level.
  const std::string too_deep = "[{\"d\":" + std::string(127, '[');
  EXPECT_EQ(run(too_deep),
            "error: invalid row-oriented JSON: recursion limit exceeded at line 1 column 132");
}

struct CountsCase {
  std::string payload;
  ColumnarizeCounts counts;
};

class PipelineCounts : public ::testing::TestWithParam<CountsCase> {};

// The output fills its buffer exactly, and the counts are those of its three members.
TEST_P(PipelineCounts, AreThoseOfTheOutput) {
  ColumnarizeCounts counts{9, 9, 9};
  auto result = columnarize_json(GetParam().payload, &counts);
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(result.value().capacity(), result.value().size());
  EXPECT_EQ(counts.rows, GetParam().counts.rows);
  EXPECT_EQ(counts.columns, GetParam().counts.columns);
  EXPECT_EQ(counts.constants, GetParam().counts.constants);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PipelineCounts,
    ::testing::Values(CountsCase{"[]", {0, 0, 0}}, CountsCase{"[{}]", {1, 0, 0}},
                      CountsCase{R"([{"a":1,"b":null,"c":2},{"a":1,"c":3}])", {2, 1, 1}},
                      CountsCase{R"([{"a":1},{"b":2},{"c":3}])", {3, 3, 0}}));

TEST(PipelineCounts, AreLeftAloneOnFailure) {
  ColumnarizeCounts counts{7, 7, 7};
  EXPECT_FALSE(columnarize_json("[1]", &counts).ok());
  EXPECT_EQ(counts.rows, 7u);
}

}  // namespace
}  // namespace tarvik
