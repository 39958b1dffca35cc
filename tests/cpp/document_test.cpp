// Document mode and the way back end to end: the cases the Python tests cannot reach from the
// module (the written length checked against the counted one), and the core's own messages.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

#include "json/memory/buffer.hpp"
#include "transform/columnarize_document.hpp"
#include "transform/decolumnarize.hpp"
#include "transform/document_scan.hpp"
#include "transform/document_text.hpp"

namespace tarvik {
namespace {

struct DocumentCase {
  std::string input;
  std::uint64_t min_rows;
  std::string expected;  // the output bytes, or the error message behind "error: "
};

std::string document(std::string_view input, std::uint64_t min_rows) {
  auto result = columnarize_document(input, min_rows);
  return result.ok() ? std::string(result.value().view()) : "error: " + result.error();
}

std::string back(std::string_view input) {
  auto result = decolumnarize(input);
  return result.ok() ? std::string(result.value().view()) : "error: " + result.error();
}

class Document : public ::testing::TestWithParam<DocumentCase> {};

TEST_P(Document, GivesTheExpectedText) {
  EXPECT_EQ(document(GetParam().input, GetParam().min_rows), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Document,
    ::testing::Values(
        DocumentCase{" 12 ", 2, "12"},
        DocumentCase{"[1e2, \"\\u00e9\"]", 2, "[100.0,\"\xc3\xa9\"]"},
        DocumentCase{"[{\"a\":1},{\"a\":2}]", 2, R"([{"a":1},{"a":2}])"},
        DocumentCase{
            R"([{"number":1,"state":"open"},{"number":2,"state":"open"},{"number":3,"state":"open"}])",
            3, R"({"columns":["number"],"rows":[[1],[2],[3]],"constants":{"state":"open"}})"},
        // Fewer rows than min_rows: no table.
        DocumentCase{
            R"([{"number":1,"state":"open"},{"number":2,"state":"open"},{"number":3,"state":"open"}])",
            4,
            R"([{"number":1,"state":"open"},{"number":2,"state":"open"},{"number":3,"state":"open"}])"},
        // A keyed table: an object whose values are all objects.
        DocumentCase{
            R"({"1.0.0":{"tarball_size":10,"shasum":"aa"},"1.0.1":{"tarball_size":11,"shasum":"aa"},"1.0.2":{"tarball_size":12,"shasum":"aa"}})",
            2,
            R"({"keys":["1.0.0","1.0.1","1.0.2"],"columns":["tarball_size"],"rows":[[10],[11],[12]],"constants":{"shasum":"aa"}})"},
        // Keyed tables found past first values whose strings hold brackets, quotes and
        // backslashes, or laid out; and an object whose second value is no object.
        DocumentCase{
            R"({"a":{"s":"}\\\"{]","kind":"release","channel":"stable","t":[1,{"u":"["}]},"b":{"s":"x","kind":"release","channel":"stable","t":[2]},"c":{"s":"\\\\","kind":"release","channel":"stable","t":[3]}})",
            2,
            R"({"keys":["a","b","c"],"columns":["s","t"],"rows":[["}\\\"{]",[1,{"u":"["}]],["x",[2]],["\\\\",[3]]],"constants":{"kind":"release","channel":"stable"}})"},
        DocumentCase{
            "{\"a\" : {\"s\":\"}\",\"kind\":\"release\",\"channel\":\"stable\"} ,\n  \"b\"\t:\n "
            "{\"s\":\"x\",\"kind\":\"release\",\"channel\":\"stable\"}, \"c\": "
            "{\"s\":\"y\",\"kind\":\"release\",\"channel\":\"stable\"}}",
            2,
            R"({"keys":["a","b","c"],"columns":["s"],"rows":[["}"],["x"],["y"]],"constants":{"kind":"release","channel":"stable"}})"},
        DocumentCase{
            R"({"a":{"s":"{","kind":"release","channel":"stable"},"b":"{","c":{"s":"y","kind":"release","channel":"stable"}})",
            2,
            R"({"a":{"s":"{","kind":"release","channel":"stable"},"b":"{","c":{"s":"y","kind":"release","channel":"stable"}})"},
        // Lists seen ahead: one of one object stays, one whose first element holds brackets,
        // quotes and nesting, then layout, is a table.
        DocumentCase{
            R"({"a":[{"k":"a]","v":"x","colour":"red","shade":"dark"}],"b":[{"k":"b","v":"y","colour":"red","shade":"dark"},{"k":"c","v":"z","colour":"red","shade":"dark"},{"k":"d","v":"w","colour":"red","shade":"dark"}]})",
            2,
            R"({"a":[{"k":"a]","v":"x","colour":"red","shade":"dark"}],"b":{"columns":["k","v"],"rows":[["b","y"],["c","z"],["d","w"]],"constants":{"colour":"red","shade":"dark"}}})"},
        DocumentCase{
            "{\"items\":[{\"n\":\"]\\\"}]\",\"m\":[[1],{\"x\":\"[\"}],\"kind\":\"release\"} ,\n "
            "{\"n\":\"b\",\"m\":[],\"kind\":\"release\"},{\"n\":\"c\",\"m\":[],\"kind\":"
            "\"release\"}]}",
            2,
            R"({"items":{"columns":["n","m"],"rows":[["]\"}]",[[1],{"x":"["}]],["b",[]],["c",[]]],"constants":{"kind":"release"}}})"},
        // A repeated name keeps its last value at its first position, as the reader reads it.
        DocumentCase{R"({"a":1,"b":2,"a":3})", 2, R"({"a":3,"b":2})"},
        // Found after the same name in an object inside, and among more names than are compared
        // one by one, in an object that is a row and in one that is not.
        DocumentCase{R"({"a":{"a":1},"b":2,"a":3})", 2, R"({"a":3,"b":2})"},
        DocumentCase{
            R"({"a":0,"b":1,"c":2,"d":3,"e":4,"f":5,"g":6,"h":7,"i":8,"j":9,"k":10,"l":11,"m":12,"n":13,"o":14,"p":15,"q":16,"r":17,"b":18})",
            2,
            R"({"a":0,"b":18,"c":2,"d":3,"e":4,"f":5,"g":6,"h":7,"i":8,"j":9,"k":10,"l":11,"m":12,"n":13,"o":14,"p":15,"q":16,"r":17})"},
        DocumentCase{
            R"([{"x":{"b":0}},{"a":0,"b":1,"c":2,"d":3,"e":4,"f":5,"g":6,"h":7,"i":8,"j":9,"k":10,"l":11,"m":12,"n":13,"o":14,"p":15,"q":16,"r":17,"r":{"r":1},"q":18}])",
            2,
            R"([{"x":{"b":0}},{"a":0,"b":1,"c":2,"d":3,"e":4,"f":5,"g":6,"h":7,"i":8,"j":9,"k":10,"l":11,"m":12,"n":13,"o":14,"p":15,"q":18,"r":{"r":1}}])"},
        DocumentCase{
            R"([{"number":1,"state":"open","number":2},{"number":3,"state":"open"},{"number":4,"state":"open"}])",
            2, R"({"columns":["number"],"rows":[[2],[3],[4]],"constants":{"state":"open"}})"},
        // A list group's constants over lists read one after another: numbers of one value in
        // any form match, a column first met in a later list is none, and nested zeros of either
        // sign match, in compact text as in laid-out text.
        DocumentCase{
            R"([{"id":1,"items_list":[{"amount":1,"kind":"x"},{"amount":1.0,"kind":"y"}]},{"id":2,"items_list":[]},{"id":3,"items_list":[{"kind":"z","amount":1e0,"extra_field":[{"q":1},{"q":2}]},{"amount":1,"kind":"w","extra_field":[]}]}])",
            2,
            R"({"columns":["id",{"items_list":[{"columns":["kind","extra_field"],"constants":{"amount":1}}]}],"rows":[[1,[["x",null],["y",null]]],[2,[]],[3,[["z",[{"q":1},{"q":2}]],["w",[]]]]],"constants":{}})"},
        DocumentCase{
            R"([{"identifier":1,"list_of_things":[{"value_here":[0.0],"word_here":"aaaaaaaa"},{"value_here":[0.0],"word_here":"bbbbbbb"}]},{"identifier":2,"list_of_things":[{"value_here":[ 0.0 ],"word_here":"c"},{"value_here":[-0.0],"word_here":"d"}]}])",
            2,
            R"({"columns":["identifier",{"list_of_things":[{"columns":["word_here"],"constants":{"value_here":[0.0]}}]}],"rows":[[1,[["aaaaaaaa"],["bbbbbbb"]]],[2,[["c"],["d"]]]],"constants":{}})"},
        // Integers past 64 bits are doubles: texts of digits that differ may be one value.
        DocumentCase{
            R"([{"id":18446744073709551616,"state":"a"},{"id":18446744073709551617,"state":"b"},{"id":1.8446744073709552e19,"state":"c"}])",
            2,
            R"({"columns":["state"],"rows":[["a"],["b"],["c"]],"constants":{"id":1.8446744073709552e+19}})"},
        // Distinct 64-bit integers are never one constant.
        DocumentCase{
            R"([{"id":1234567890123456789,"state":"open"},{"id":1234567890123456790,"state":"open"},{"id":1234567890123456791,"state":"open"}])",
            2,
            R"({"columns":["id"],"rows":[[1234567890123456789],[1234567890123456790],[1234567890123456791]],"constants":{"state":"open"}})"},
        DocumentCase{"[1,", 2, "error: invalid JSON: EOF while parsing a value at line 1 column 3"},
        DocumentCase{"{} x", 2, "error: invalid JSON: trailing characters at line 1 column 4"}));

class WayBack : public ::testing::TestWithParam<DocumentCase> {};

TEST_P(WayBack, GivesTheExpectedText) {
  EXPECT_EQ(back(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, WayBack,
    ::testing::Values(
        DocumentCase{R"({"columns":["a","b"],"rows":[[1,null],[null,2]],"constants":{"c":0}})", 0,
                     R"([{"a":1,"c":0},{"b":2,"c":0}])"},
        // Column names and scalar constants are written as the writer spells them.
        DocumentCase{R"({"columns":["a\"b","\u0001","\u00e9"],"rows":[[1,2,3]],"constants":{}})", 0,
                     "[{\"a\\\"b\":1,\"\\u0001\":2,\"\xc3\xa9\":3}]"},
        DocumentCase{R"({"columns":["a"],"rows":[[1]],"constants":{"f":1E2,"s":"\u00e9"}})", 0,
                     "[{\"a\":1,\"f\":100.0,\"s\":\"\xc3\xa9\"}]"},
        DocumentCase{R"({"keys":["x","y"],"columns":["a"],"rows":[[1],[2]],"constants":{}})", 0,
                     R"({"x":{"a":1},"y":{"a":2}})"},
        DocumentCase{
            R"({"columns":[{"u":{"columns":["n"],"constants":{"t":1}}},{"l":[{"columns":["m"],"constants":{}}]}],"rows":[[["a"],[["b"],["c"]]],[null,[]]],"constants":{}})",
            0, R"([{"u":{"n":"a","t":1},"l":[{"m":"b"},{"m":"c"}]},{"l":[]}])"},
        // A header is read from its text: names and strings ending in an escape, a group's
        // constants holding a table, and a string that only spells the start of one.
        DocumentCase{
            R"({"columns":["a",{"g\"h":{"columns":["x\\"],"constants":{"z":"w\\"}}}],"rows":[[1,[2]],[null,null]],"constants":{"c":"\\"}})",
            0, R"([{"a":1,"g\"h":{"x\\":2,"z":"w\\"},"c":"\\"},{"c":"\\"}])"},
        DocumentCase{
            R"({"columns":[{"g":{"columns":["x"],"constants":{"t":{"columns":["b"],"rows":[[1],[2]],"constants":{}},"s":["{\"columns\":"]}}}],"rows":[[[1]]],"constants":{}})",
            0, R"([{"g":{"x":1,"t":[{"b":1},{"b":2}],"s":["{\"columns\":"]}}])"},
        // Text that the one pass leaves to the walks: a table in a row's cell, whitespace and
        // other spellings, a repeated name; and objects that only begin as tables do.
        DocumentCase{
            R"({"columns":["a","b"],"rows":[[1,{"columns":["x"],"rows":[[2]],"constants":{}}],[3,null]],"constants":{"c":0}})",
            0, R"([{"a":1,"b":[{"x":2}],"c":0},{"a":3,"c":0}])"},
        DocumentCase{
            R"({"t": {"columns":["a"], "rows":[[1.50],[null]], "constants":{"c":"\u00e9"}}})", 0,
            "{\"t\":[{\"a\":1.5,\"c\":\"\xc3\xa9\"},{\"c\":\"\xc3\xa9\"}]}"},
        DocumentCase{R"({"a":1,"t":{"columns":["a"],"rows":[[1]],"constants":{}},"a":2})", 0,
                     R"({"a":2,"t":[{"a":1}]})"},
        DocumentCase{
            R"({"t":{"columns":["a"],"rows":[[1],[2]]},"u":[{"columns":["a"],"rows":[[1]],"constants":{},"d":1}]})",
            0,
            R"({"t":{"columns":["a"],"rows":[[1],[2]]},"u":[{"columns":["a"],"rows":[[1]],"constants":{},"d":1}]})"},
        DocumentCase{R"({"columns":["a"],"rows":[[1],[2]],"constants":{"c":1}} x)", 0,
                     "error: invalid JSON: trailing characters at line 1 column 56"},
        DocumentCase{R"({"columns":["a"],"rows":[[1],[2,3]],"constants":{}})", 0,
                     "error: broken table at $.rows[1]: a row of 2 cells where the table has 1 "
                     "column"},
        DocumentCase{R"({"x y":{"columns":["a",7],"rows":[],"constants":{}}})", 0,
                     "error: broken table at $[\"x y\"].columns[1]: a column is neither a name "
                     "nor a group"},
        DocumentCase{R"({"keys":["k"],"columns":["a"],"rows":[[1],[2]],"constants":{}})", 0,
                     "error: broken table at $.keys: 1 key for 2 rows"},
        DocumentCase{R"({"keys":["x","x"],"columns":["a"],"rows":[[1],[2]],"constants":{}})", 0,
                     "error: broken table at $.keys[1]: the key \"x\" stands twice"},
        DocumentCase{
            R"({"columns":["g",{"g":{"columns":["x"],"constants":{}}}],"rows":[],"constants":{}})",
            0, "error: broken table at $.columns[1]: the name \"g\" stands for two columns"},
        DocumentCase{R"({"columns":["a"],"rows":[],"constants":{"a":1}})", 0,
                     "error: broken table at $.constants.a: the name \"a\" is both a column and "
                     "a constant"},
        DocumentCase{"{\"columns\":[\"a\"],\"rows\":[],\"constants\":{\"b\":{\"columns\":5,"
                     "\"rows\":[],\"constants\":{}}}}",
                     0,
                     "error: broken table at $.constants.b.columns: \"columns\" is not an "
                     "array"}));

// An object of many names is checked for a repeated one only once it is read: the repeated name
// still takes the last value, at the first place.
TEST(WayBack, ARepeatedNameAmongManyIsReadAsTheReaderReadsIt) {
  std::string members;
  std::string expected = "{";
  for (int i = 0; i < 30; ++i) {
    const std::string member = "\"k" + std::to_string(i) + "\":";
    members += member + std::to_string(i) + ",";
    expected += member + (i == 3 ? "99" : std::to_string(i)) + ",";
  }
  const std::string table = R"("t":{"columns":["a"],"rows":[[1]],"constants":{}})";
  EXPECT_EQ(back("{" + members + "\"k3\":99," + table + "}"), expected + R"("t":[{"a":1}]})");
}

// A scan keeps its working memory for the thread's next one: what earlier scans left there, one
// that failed midway among them, changes nothing.
TEST(DocumentScan, AScanAfterOthersGivesWhatAThreadsFirstGives) {
  const std::string input =
      R"({"items":[{"id":1,"user":{"login":"a","type":"U"}},{"id":2,"user":{"login":"b","type":"U"}}]})";
  std::string first;
  std::thread([&] { first = document(input, 2); }).join();
  for (const std::string_view before : {
           R"([{"p":{"q":1,"r":[{"s":1},{"s":2}]}},{"p":{"q":2,"r":[]}},{"p":)",
           R"({"a":{"b":1},"c":{"b":2},"items":[{"id":7,"user":null},{"id":8}]})",
       }) {
    document(before, 2);
    EXPECT_EQ(document(input, 2), first);
  }
}

// A long table's rows are kept as the scan saw them: a list group whose first lists are empty is
// made at its first object, and notes those lists then; the way back finds every list in place.
TEST(DocumentScan, ListsEmptyInTheFirstRowsOfALongTableStayInPlace) {
  std::string input = "[";
  for (int row = 0; row < 400; ++row) {
    input += R"({"id":)" + std::to_string(row) + R"(,"tags":[)";
    if (row >= 200) {
      input += R"({"name":"a)" + std::to_string(row) + R"(","color":"c"},{"name":"b","color":"c"})";
    }
    input += row < 399 ? R"(],"kind":"k"},)" : R"(],"kind":"k"}])";
  }
  const std::string columnarized = document(input, 2);
  ASSERT_NE(columnarized.find(R"({"tags":[{"columns":["name"],"constants":{"color":"c"}}]})"),
            std::string::npos);
  EXPECT_EQ(back(columnarized), input);
}

// The text is written at the length the scan counted, or the call fails as an internal fault:
// it never returns a text other than the one counted.
TEST(DocumentText, AWrittenLengthOtherThanTheCountedOneIsAFault) {
  const std::string input = R"([{"a":1,"b":"x"},{"a":2,"b":"x"},{"a":3,"b":"x"}])";
  for (const std::int64_t off_by : {-1, 1}) {
    auto plan = scan_document(input, 2);
    ASSERT_TRUE(plan.ok());
    plan.value().size += off_by;
    json::Buffer out;
    EXPECT_THROW(write_document(input, plan.value(), out), std::logic_error);
  }
}

}  // namespace
}  // namespace tarvik
